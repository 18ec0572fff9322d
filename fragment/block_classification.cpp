#include "fragment/block_classification.h"

#include <algorithm>
#include <limits>

#include "fragment/record_plausibility.h"
#include "fragment/record_type_codes.h"
#include "fragment/record_type_names.h"

namespace tabulon {

namespace {

// An unknown record this long or longer is not taken for part of a stream.
constexpr uint32_t kMaxUnknownLength = 1792;
// More unknown records than this in a row, not counting those of length 0 or 2, fail the block.
constexpr int kMaxUnknownRun = 3;

uint16_t U16At(std::span<const uint8_t> buffer, int64_t position) {
    const auto size = int64_t(buffer.size());
    uint16_t low = position < size ? buffer[size_t(position)] : 0;
    uint16_t high = position + 1 < size ? buffer[size_t(position + 1)] : 0;
    return uint16_t(low | (high << 8));
}

// Records added to the format after BIFF8 was first published (type 0x0800 to 0x08FF) start their body with
// a header that repeats their own type. Newer writers emit long runs of them (one extended format per cell
// format, theme and style extensions), which would otherwise look like a run of unknown records: one that
// names itself counts as a known record. A chance pattern rarely repeats its type two bytes later.
bool IsSelfNamedFutureRecord(std::span<const uint8_t> buffer, int64_t position, int64_t end, uint16_t type,
                             uint16_t length) {
    return (type & 0xFF00) == 0x0800 && length >= 2 && length <= 8224 && position + 6 <= end && U16At(buffer, position + 4) == type;
}

}  // namespace

bool ClassifyBlock(std::span<const uint8_t> buffer, int32_t start, int32_t end, BlockProfile& profile,
                   LastRecord& last) {
    using namespace record_type;
    const int64_t available = int64_t(std::min<size_t>(buffer.size(), size_t(std::numeric_limits<int32_t>::max())));
    end = int32_t(std::min<int64_t>(end, available));
    if (start < 0 || start >= end) return false;

    int32_t bofCount = profile.bofCount;
    int32_t sstCount = profile.sstCount;
    int32_t eofAfterSstCount = profile.eofAfterSstCount;
    int32_t cellCount = profile.cellCount;
    int known = 0;
    int unknownRun = 0;
    bool first = true;

    for (int64_t pos = start; pos < end; first = false) {
        const uint16_t type = U16At(buffer, pos);
        const uint16_t length = U16At(buffer, pos + 2);
        last = {int32_t(pos), type, length};
        if (IsFiller(type)) break;

        if (RecordTypeNames::IsKnown(type)) {
            if (pos >= int64_t(end) - 2) {
                // The length field is cut by the block end: taken as it stands after two known records.
                if (known < 2) return false;
            } else if (!RecordPlausibility::IsPlausible(buffer.data(), uint32_t(pos), uint32_t(end))) {
                return false;
            }
            if (type == kBof) {
                ++bofCount;
            } else if (type == kSst) {
                ++sstCount;
            } else if (type == kEof) {
                if (sstCount > 0) ++eofAfterSstCount;
            } else if (type == kLabelSst || type == kNumber || type == kRk) {
                ++cellCount;
            }
            ++known;
            unknownRun = 0;
            if (type == kGuts) {
                profile.rowKeys.Clear();
                profile.cellKeys.Clear();
                profile.sheetStarted = true;
            } else if (type == kRow) {
                profile.rowKeys.Insert(KeyOf(buffer, size_t(pos)).Packed());
            } else if (IsKeyedCellType(type)) {
                profile.cellKeys.Insert(KeyOf(buffer, size_t(pos)).Packed());
            }
        } else if (IsSelfNamedFutureRecord(buffer, pos, end, type, length)) {
            ++known;
            unknownRun = 0;
        } else {
            if (first && length > end) return false;
            if (length != 0 && length != 2) ++unknownRun;
            if (unknownRun > kMaxUnknownRun || length >= kMaxUnknownLength) return false;
        }
        pos += int64_t(length) + 4;
    }

    if (known == 0) return false;
    profile.bofCount = bofCount;
    profile.sstCount = sstCount;
    profile.eofAfterSstCount = eofAfterSstCount;
    profile.cellCount = cellCount;
    return true;
}

}  // namespace tabulon
