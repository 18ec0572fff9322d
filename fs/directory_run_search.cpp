#include "fs/directory_run_search.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "fs/boot_parameters.h"
#include "fs/directory_parser.h"
#include "fs/directory_plausibility.h"
#include "fs/directory_slot.h"
#include "fs/name_pool.h"

namespace tabulon {
namespace {

constexpr size_t kSectorBytes = 512;
constexpr size_t kSlotsPerSector = kSectorBytes / kSlotBytes;

const char16_t* FolderName(uint32_t sector) {
    const std::string text = "Folder " + std::to_string(sector);
    return NamePool::Global().Add(std::u16string(text.begin(), text.end()));
}

}  // namespace

bool IsAllZero(const uint8_t* data, size_t bytes) {
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        if (word != 0) return false;
    }
    for (; i < bytes; ++i)
        if (data[i] != 0) return false;
    return true;
}

int64_t FolderOrigin(const FoundFolder& folder) {
    if (folder.ownCluster == 0 || folder.confirmedSectorsPerCluster == 0) return 0;
    const int64_t origin = int64_t(folder.start) - int64_t(folder.confirmedSectorsPerCluster) * folder.ownCluster;
    return origin > 0 ? origin : 0;
}

DirectoryRunSearch::DirectoryRunSearch(uint64_t deviceSectors)
    : clusterBound_(static_cast<uint32_t>(std::min<uint64_t>(deviceSectors, UINT32_MAX))),
      dataBytes_(deviceSectors * kSectorBytes) {}

bool DirectoryRunSearch::Plausible(const uint8_t* buffer, size_t index) {
    int8_t& verdict = verdicts_[index];
    if (verdict < 0)
        verdict = IsPlausibleDirectoryData(buffer + index * kSectorBytes, kSlotsPerSector, clusterBound_, FatType::Fat32,
                                           dataBytes_)
                      ? 1
                      : 0;
    return verdict == 1;
}

size_t DirectoryRunSearch::SearchWindow(const uint8_t* buffer, size_t windowSectors, size_t availableSectors,
                                        uint32_t windowStart, std::vector<FoundFolder>& found) {
    const size_t before = found.size();
    availableSectors = std::min(availableSectors, windowSectors + kRunLookAhead + 1);
    const size_t runLimit = std::min(availableSectors, windowSectors + kRunLookAhead);
    verdicts_.assign(availableSectors, -1);

    size_t p = std::min(heldBack_, windowSectors);
    heldBack_ = 0;
    while (p < windowSectors && p < runLimit) {
        if (!Plausible(buffer, p)) {
            ++p;
            continue;
        }
        // The run goes on while sectors look like directory content. A sector that begins with "." and
        // ".." starts another folder: it ends the run before it, even right after the first sector
        // (folders of one-sector clusters lie side by side).
        size_t end = p + 1;
        while (end < runLimit && Plausible(buffer, end) && !StartsWithDotSlots(buffer + end * kSectorBytes)) ++end;
        const size_t runSectors = end - p;
        const uint8_t* run = buffer + p * kSectorBytes;
        const uint32_t sector = windowStart + static_cast<uint32_t>(p);

        FoundFolder folder;
        folder.flags = FileEntryFlags::Deleted | FileEntryFlags::Directory | FileEntryFlags::RawFound;
        folder.attributes = kDirectoryAttribute;
        folder.start = sector;
        folder.foundSector = sector;
        if (StartsWithDotSlots(run)) {
            folder.ownCluster = SlotFirstCluster(run, FatType::Fat32);
            folder.parentCluster = SlotFirstCluster(run + kSlotBytes, FatType::Fat32);
            size_t zeroTail = 0;
            while (zeroTail < kMaxZeroTail && end + zeroTail < availableSectors &&
                   IsAllZero(buffer + (end + zeroTail) * kSectorBytes, kSectorBytes))
                ++zeroTail;
            const size_t clusterSize = runSectors + zeroTail;
            if (IsPowerOfTwoUpTo(static_cast<uint32_t>(clusterSize), kMaxClusterSectors)) {
                const int64_t origin = int64_t(sector) - int64_t(clusterSize) * folder.ownCluster;
                if (origin > 0 && origin == lastOrigin_ && clusterSize == lastClusterSize_)
                    folder.confirmedSectorsPerCluster = static_cast<uint32_t>(clusterSize);
                lastClusterSize_ = static_cast<uint32_t>(clusterSize);
                lastOrigin_ = origin;
            }
        }
        if (ParseLostFolderSlots(folder, run, runSectors * kSlotsPerSector, FatType::Fat32) > 0) {
            folder.name = FolderName(sector);
            found.push_back(std::move(folder));
        }
        p = end;
    }
    // A run that reached into the look-ahead took the first sectors of the next window.
    if (p > windowSectors) heldBack_ = p - windowSectors;
    return found.size() - before;
}

}  // namespace tabulon
