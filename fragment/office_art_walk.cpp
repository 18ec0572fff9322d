#include "fragment/office_art_walk.h"

#include <algorithm>
#include <iterator>

#include "common/little_endian.h"
#include "fragment/record_type_codes.h"

namespace tabulon {
namespace {

constexpr uint16_t kDrawingGroup = 0x00EB;
constexpr uint16_t kGroupContainer = 0xF000;
constexpr uint16_t kFirstDrawingType = 0xF000, kLastDrawingType = 0xF1FF;
constexpr uint16_t kContainerVersion = 0xF;
// A picture-store entry: 36 bytes of its own (the name's length at offset 33), its name, then the
// picture's record when the entry embeds it.
constexpr uint16_t kStoreEntry = 0xF007;
constexpr uint64_t kStoreEntryFields = 36, kNameLengthAt = 33;
constexpr uint16_t kJpegRgb = 0xF01D, kJpegCmyk = 0xF02A, kPng = 0xF01E;
// The picture records' instances that keep two identifiers before the picture instead of one.
constexpr uint16_t kTwoIds[] = {0x46B, 0x6E3, 0x6E5, 0x6E1};
constexpr uint64_t kIdBytes = 16;
// The drawing group's table of shape-identifier clusters: spidMax, the entry count plus one, the shapes
// and drawings saved; then per cluster the drawing that owns it and the shape identifiers it has used, at
// most the 1024 of a cluster. A drawing is one sheet's: its number stays below the sheet limit.
constexpr uint16_t kClusterTable = 0xF006;
constexpr uint64_t kClusterTableHeader = 16, kClusterEntry = 8;
constexpr uint32_t kShapesPerCluster = 1024, kMaxDrawing = 0xFFFF;

}  // namespace

void OfficeArtWalk::StartRecord(uint16_t type) {
    if (type == record_type::kContinue) return;
    if (type == kDrawingGroup) {
        // Some writers cut a long drawing group into several records of its own type.
        if (active_) return;
        *this = OfficeArtWalk {};
        active_ = true;
        return;
    }
    active_ = false;
}

bool OfficeArtWalk::JudgesWithin(uint64_t bytes) const {
    if (!active_) return false;
    // A header is checked once its 8 bytes are in: one cut by the end of the bytes tells nothing yet.
    if (have_ > 0) return uint64_t(sizeof header_ - have_) <= bytes;
    // An entry's fields: the picture record's header follows its name's length, two bytes and the name
    // (which is usually empty).
    if (nameLengthDue_) return skip_ + 3 + sizeof header_ <= bytes;
    // The cluster table's entries are checked as they come, but a stretch of it does not count as judged:
    // its entries are mostly zeros, like blocks of empty space that are not offered. The header after it
    // does.
    if (tableLeft_ > 0) return tableLeft_ + sizeof header_ <= bytes;
    if (pictureLeft_ == 0) return skip_ + sizeof header_ <= bytes;
    // Inside a picture: judged where its check judges, and where the header after it falls due.
    if (skip_ >= bytes) return false;
    const uint64_t within = bytes - skip_;
    return (png_ ? pngCheck_.JudgesWithin(within) : jpeg_.JudgesWithin(within)) || pictureLeft_ + sizeof header_ <= within;
}

// How the body of a record that is no container is followed: a picture-store entry's fields are passed
// up to the picture record it embeds, which is then read like a contained record; the bytes of a JPEG or
// PNG picture are checked; any other body is passed over.
void OfficeArtWalk::StartBody(uint16_t versionAndInstance, uint16_t type, uint64_t length) {
    if (type == kStoreEntry && length >= kStoreEntryFields && depth_ < kMaxDepth) {
        containerEnds_[depth_++] = offset_ + length;
        skip_ = kNameLengthAt;
        nameLengthDue_ = true;
        return;
    }
    if (type == kClusterTable && length >= kClusterTableHeader && (length - kClusterTableHeader) % kClusterEntry == 0) {
        tableLeft_ = length;
        tableHeaderDone_ = false;
        unitHave_ = 0;
        return;
    }
    const uint16_t instance = versionAndInstance >> 4;
    const uint64_t ids = std::find(std::begin(kTwoIds), std::end(kTwoIds), instance) != std::end(kTwoIds) ? 2 : 1;
    const uint64_t before = ids * kIdBytes + 1;  // the identifiers and a tag byte
    if ((type == kJpegRgb || type == kJpegCmyk || type == kPng) && length > before) {
        skip_ = before;
        pictureLeft_ = length - before;
        png_ = type == kPng;
        jpeg_ = JpegScanCheck {};
        pngCheck_ = PngChunkCheck {};
        return;
    }
    skip_ = length;
}

bool OfficeArtWalk::Feed(std::span<const uint8_t> bytes) {
    while (!bytes.empty() && active_) {
        if (skip_ > 0) {
            const uint64_t take = std::min<uint64_t>(skip_, bytes.size());
            skip_ -= take;
            offset_ += take;
            bytes = bytes.subspan(size_t(take));
            CloseEnded();
            continue;
        }
        if (nameLengthDue_) {
            // The entry's name, and the two bytes after its length, up to the picture record (or to the
            // entry's end, where a name would pass it: the entry then embeds no picture).
            nameLengthDue_ = false;
            const uint64_t end = containerEnds_[depth_ - 1];
            ++offset_;
            skip_ = std::min<uint64_t>(2 + uint64_t(bytes[0]), end > offset_ ? end - offset_ : 0);
            bytes = bytes.subspan(1);
            CloseEnded();
            continue;
        }
        if (tableLeft_ > 0) {
            if (!FeedClusterTable(bytes)) {
                active_ = false;
                return false;
            }
            CloseEnded();
            continue;
        }
        if (pictureLeft_ > 0) {
            const uint64_t take = std::min<uint64_t>(pictureLeft_, bytes.size());
            const auto picture = bytes.first(size_t(take));
            if (!(png_ ? pngCheck_.Feed(picture) : jpeg_.Feed(picture))) {
                active_ = false;
                return false;
            }
            pictureLeft_ -= take;
            offset_ += take;
            bytes = bytes.subspan(size_t(take));
            CloseEnded();
            continue;
        }
        const size_t take = std::min<size_t>(sizeof header_ - have_, bytes.size());
        std::copy_n(bytes.begin(), take, header_ + have_);
        have_ = uint8_t(have_ + take);
        offset_ += take;
        bytes = bytes.subspan(take);
        if (have_ < sizeof header_) break;
        have_ = 0;
        const uint16_t version = LoadU16(header_) & 0xF;
        const uint16_t type = LoadU16(header_ + 2);
        const uint64_t length = LoadU32(header_ + 4);
        if (depth_ == 0) {
            // The group's own container opens it; a drawing group of another form is not followed.
            if (version != kContainerVersion || type != kGroupContainer) {
                active_ = false;
                return true;
            }
            containerEnds_[depth_++] = offset_ + length;
            CloseEnded();
            continue;
        }
        if (type < kFirstDrawingType || type > kLastDrawingType || offset_ + length > containerEnds_[depth_ - 1]) {
            active_ = false;
            return false;
        }
        if (version == kContainerVersion && depth_ < kMaxDepth)
            containerEnds_[depth_++] = offset_ + length;
        else
            StartBody(LoadU16(header_), type, length);
        CloseEnded();
    }
    return true;
}

// Takes the cluster table's next bytes, up to its end: its header must announce as many entries as its
// length holds, and each entry must name a drawing and a shape count that can be.
bool OfficeArtWalk::FeedClusterTable(std::span<const uint8_t>& bytes) {
    while (!bytes.empty() && tableLeft_ > 0) {
        const size_t unit = size_t(tableHeaderDone_ ? kClusterEntry : kClusterTableHeader);
        const size_t take = std::min<size_t>(unit - unitHave_, bytes.size());
        std::copy_n(bytes.begin(), take, unit_.begin() + unitHave_);
        unitHave_ = uint8_t(unitHave_ + take);
        offset_ += take;
        tableLeft_ -= take;
        bytes = bytes.subspan(take);
        if (unitHave_ < unit) break;
        unitHave_ = 0;
        if (!tableHeaderDone_) {
            tableHeaderDone_ = true;
            if (uint64_t(LoadU32(unit_.data() + 4)) != tableLeft_ / kClusterEntry + 1) return false;
            continue;
        }
        if (LoadU32(unit_.data()) > kMaxDrawing || LoadU32(unit_.data() + 4) > kShapesPerCluster) return false;
    }
    return true;
}

// Closes the containers whose bytes are all fed; the walk ends with the group's own container.
void OfficeArtWalk::CloseEnded() {
    if (skip_ > 0 || have_ > 0 || nameLengthDue_ || pictureLeft_ > 0 || tableLeft_ > 0) return;
    while (depth_ > 0 && offset_ >= containerEnds_[depth_ - 1]) --depth_;
    if (depth_ == 0 && offset_ > 0) active_ = false;
}

}  // namespace tabulon
