// FAT32 deletion may clear the high word of an entry's first cluster. A deleted entry whose start
// lies below 65,536 is matched against the workbooks found by content: the candidate clusters
// start + i x 65,536 whose first sector holds a found workbook give the entry its cluster back.

#include <unordered_set>
#include <vector>

#include "fs/content_signature_scan.h"
#include "fs/fat_volume.h"

namespace tabulon {

void FatVolume::RecoverFirstClusters() {
    const FatGeometry& g = tree_.Geometry();
    if (!g.valid || g.fatType != FatType::Fat32 || g.sectorsPerCluster == 0) return;
    const BootParameters& boot = tree_.Boot();
    const uint64_t m = (uint64_t(boot.TotalSectors32()) / g.sectorsPerCluster) / 65536;
    if (m == 0) return;
    ContentFoundList& list = ContentFoundList::Global();
    const std::vector<uint32_t> found = list.Sectors();
    if (found.empty()) return;
    const std::unordered_set<uint32_t> foundSet(found.begin(), found.end());
    std::unordered_set<uint32_t> taken;
    // Two FAT copies are assumed, as in the data start of every FAT32 volume that the formatters make.
    const uint64_t dataStart = uint64_t(PartitionStart()) + boot.ReservedSectors() + 2 * uint64_t(boot.SectorsPerFat32());
    const uint64_t step = uint64_t(g.sectorsPerCluster) * 65536;

    std::vector<FileEntry*> pending {&tree_.Root(), &tree_.Lost()};
    while (!pending.empty()) {
        FileEntry* entry = pending.back();
        pending.pop_back();
        for (auto& child : entry->children) pending.push_back(&child);
        if (!entry->Has(FileEntryFlags::OwnDeleted) || entry->start >= 0xFFFF || entry->start < 2) continue;
        const uint64_t s = dataStart + uint64_t(entry->start - 2) * g.sectorsPerCluster;
        for (uint64_t i = 0; i < m; ++i) {
            const uint64_t sector = s + i * step;
            if (sector > 0xFFFFFFFFu) break;
            if (foundSet.count(static_cast<uint32_t>(sector))) {
                entry->start += static_cast<uint32_t>(i * 65536);
                taken.insert(static_cast<uint32_t>(sector));
                break;
            }
        }
    }
    if (taken.empty()) return;
    std::vector<uint32_t> remaining;
    for (uint32_t sector : found)
        if (!taken.count(sector)) remaining.push_back(sector);
    list.Assign(std::move(remaining));
}

}  // namespace tabulon
