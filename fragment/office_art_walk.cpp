#include "fragment/office_art_walk.h"

#include <algorithm>

#include "common/little_endian.h"
#include "fragment/record_type_codes.h"

namespace tabulon {
namespace {

constexpr uint16_t kDrawingGroup = 0x00EB;
constexpr uint16_t kGroupContainer = 0xF000;
constexpr uint16_t kFirstDrawingType = 0xF000, kLastDrawingType = 0xF1FF;
constexpr uint16_t kContainerVersion = 0xF;

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
            skip_ = length;
        CloseEnded();
    }
    return true;
}

// Closes the containers whose bytes are all fed; the walk ends with the group's own container.
void OfficeArtWalk::CloseEnded() {
    if (skip_ > 0 || have_ > 0) return;
    while (depth_ > 0 && offset_ >= containerEnds_[depth_ - 1]) --depth_;
    if (depth_ == 0 && offset_ > 0) active_ = false;
}

}  // namespace tabulon
