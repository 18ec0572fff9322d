#include "fragment/block_profile.h"

#include "fragment/record_type_codes.h"

namespace tabulon {

namespace {

uint16_t U16At(std::span<const uint8_t> buffer, size_t position) {
    uint16_t low = position < buffer.size() ? buffer[position] : 0;
    uint16_t high = position + 1 < buffer.size() ? buffer[position + 1] : 0;
    return uint16_t(low | (high << 8));
}

}  // namespace

BlockProfile BlockProfile::ScratchCopy() const {
    BlockProfile copy;
    copy.bofCount = bofCount;
    copy.sstCount = sstCount;
    copy.eofAfterSstCount = eofAfterSstCount;
    copy.cellCount = cellCount;
    return copy;
}

bool IsComplete(const BlockProfile& profile) {
    return profile.bofCount > 0 && profile.sstCount > 0 && profile.eofAfterSstCount > 0 && profile.cellCount > 0 &&
           profile.eofAfterSstCount >= profile.bofCount;
}

CellKey KeyOf(std::span<const uint8_t> buffer, size_t position) {
    if (position > SIZE_MAX - 8) return {};
    return {U16At(buffer, position + 4), U16At(buffer, position + 6)};
}

bool IsKeyedCellType(uint16_t type) {
    using namespace record_type;
    return type == kMulRk || type == kMulBlank || type == kLabelSst || type == kBlank || type == kRow || type == kRk;
}

bool IsCellRecord(uint16_t type) {
    switch (type) {
        case 0x0006: case 0x00BD: case 0x00BE: case 0x00D6: case 0x00FD:
        case 0x0201: case 0x0203: case 0x0204: case 0x0205: case 0x027E:
            return true;
        default:
            return false;
    }
}

}  // namespace tabulon
