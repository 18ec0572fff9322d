#pragma once
// Finding folders in raw sectors: runs of consecutive sectors that look like FAT32 directory content.
// A run that begins with the "." and ".." slots also tells the folder's own and parent clusters and,
// with the all-zero sectors after it, the cluster size and the sector where cluster 0 would lie (the
// origin); two successive folders that agree on both confirm the geometry.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/file_entry.h"

namespace tabulon {

// A found folder. Its FileEntry has Deleted, Directory and RawFound set, start = foundSector = the
// device sector where its data begins, name "Folder <sector>", ownCluster and parentCluster from the
// "." and ".." slots (0 when the data does not begin with them), confirmedSectorsPerCluster when the
// geometry was confirmed (0 otherwise), and its children parsed from the run's slots.
using FoundFolder = FileEntry;

// The origin a folder implies: its sector minus cluster size x own cluster. 0 when unknown (no own
// cluster or no confirmed cluster size) or not positive.
int64_t FolderOrigin(const FoundFolder& folder);

class DirectoryRunSearch {
public:
    // Sectors of look-ahead a run may reach past the window (index below window + 63).
    static constexpr size_t kRunLookAhead = 63;
    // All-zero sectors counted after a run.
    static constexpr size_t kMaxZeroTail = 63;
    static constexpr size_t kMaxClusterSectors = 128;

    // `deviceSectors` bounds the cluster numbers of plausible slots; the device's byte size bounds
    // file sizes.
    explicit DirectoryRunSearch(uint64_t deviceSectors);

    // Searches the `windowSectors` sectors of a window read at device sector `windowStart`. `buffer`
    // holds `availableSectors` valid sectors (the window and the look-ahead after it); runs may extend
    // into the look-ahead but start inside the window. Folders with children are appended to `found`
    // in the order of their sectors. Returns the number appended.
    size_t SearchWindow(const uint8_t* buffer, size_t windowSectors, size_t availableSectors, uint32_t windowStart,
                        std::vector<FoundFolder>& found);
    // The next window does not follow the last one searched (a window was skipped): sectors that a run
    // took from its look-ahead are not held back any more.
    void Discontinue() { heldBack_ = 0; }

private:
    bool Plausible(const uint8_t* buffer, size_t index);

    uint32_t clusterBound_;
    uint64_t dataBytes_;
    // Sectors at the start of the next window that a run of this one already took.
    size_t heldBack_ = 0;
    // The geometry the last folder with "." and ".." implied.
    uint32_t lastClusterSize_ = 0;
    int64_t lastOrigin_ = 0;
    std::vector<int8_t> verdicts_;  // per sector of the current window: -1 not tested, 0 no, 1 yes
};

// True when all `bytes` bytes are zero.
bool IsAllZero(const uint8_t* data, size_t bytes);

}  // namespace tabulon
