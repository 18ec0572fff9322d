#include "fragment/allocation_sector.h"

#include "common/little_endian.h"

namespace tabulon {
namespace {

constexpr uint32_t kFirstMark = 0xFFFFFFFC;   // master-table sector, table sector, end of chain, free
// Sectors of a 4 GiB file: no workbook is larger. Most other data fails this within a few entries.
constexpr uint32_t kMaxSector = 0x00800000;
constexpr int kEntries = 128;
constexpr int kChainedEnough = 64;  // entries that chain to the next sector, of a table inside a stream
constexpr int kFreeEnough = 16;     // free entries at the end of the table's last sector
constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kTableMark = 0xFFFFFFFD;  // the entry of a sector that holds part of the table itself

}  // namespace

bool LooksLikeAllocationSector(std::span<const uint8_t> sector) {
    if (sector.size() < kCompoundSectorBytes) return false;
    int chained = 0;
    int freeSuffix = 0;  // free entries from the last used one to the end
    bool marksTable = false;
    uint32_t previous = kFirstMark;
    for (int j = 0; j < kEntries; ++j) {
        const uint32_t entry = LoadU32(sector.data() + 4 * j);
        if (entry == kFree) {
            ++freeSuffix;
        } else {
            freeSuffix = 0;
            if (entry == kTableMark) marksTable = true;
            if (entry < kFirstMark) {
                if (entry >= kMaxSector) return false;
                if (previous < kFirstMark && entry == previous + 1) ++chained;
            }
        }
        previous = entry;
    }
    // The table's last sector describes the end of the file: its chains stop where the free entries begin.
    // In a small file they are short (streams of a sector or two end in end-of-chain marks at once), but
    // the sector that holds the table's end usually lies in the range it describes and marks itself.
    const int used = kEntries - freeSuffix;
    return chained >= kChainedEnough ||
           (freeSuffix >= kFreeEnough && used > 0 && (chained * 2 >= used || marksTable));
}

}  // namespace tabulon
