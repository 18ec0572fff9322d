#pragma once
// The directory side of a FAT volume: the boot parameter copy, the volume geometry, the two tree roots
// ("ROOT" and "Recycle"), the used-cluster map, and the mount steps that read the root directory and
// load every subdirectory.

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "fs/allocation_table.h"
#include "fs/boot_parameters.h"
#include "fs/file_entry.h"
#include "fs/volume_analyser.h"

namespace tabulon {

class FatVolume;

// All sector numbers are volume-relative.
struct FatGeometry {
    FatType fatType = FatType::None;
    uint32_t partitionStart = 0;
    uint32_t sectorsPerCluster = 0;
    uint32_t clusterBytes = 0;
    uint32_t firstFatSector = 0;     // the reserved-sector count
    uint32_t sectorsPerFat = 0;      // of one copy (the 16-bit field, or the FAT32 one)
    uint32_t rootDirectoryStart = 0;
    uint32_t firstDataSector = 0;
    uint32_t rootEntries = 0;        // slots parsed for the root directory
    uint32_t rootCluster = 0;        // FAT32: first cluster of the root directory
    uint32_t totalSectors = 0;
    uint32_t clusterCount = 0;
    uint64_t dataAreaBytes = 0;
    bool valid = false;

    // One past the highest cluster number of the volume.
    uint64_t ClusterLimit() const { return uint64_t(clusterCount) + 2; }
};

class DirectoryTree {
public:
    // Folders nest at most this deep below the tree roots; deeper folders are listed but not opened.
    // Keeps crafted or damaged structures from exhausting the stack (records are destroyed
    // recursively).
    static constexpr int kMaxDirectoryDepth = 256;
    // A FAT directory holds at most 65,536 slots; a chain longer than that is not read further.
    static constexpr uint32_t kMaxDirectoryBytes = 65536 * 32;

    DirectoryTree(FatVolume& volume, AllocationTable& table);

    FileEntry& Root() { return root_; }
    FileEntry& Lost() { return lost_; }
    const FileEntry& Root() const { return root_; }
    const FatGeometry& Geometry() const { return geometry_; }
    BootParameters& Boot();  // takes the copy from the device's boot snapshot the first time

    // Retakes the boot parameter copy from the device's snapshot.
    void TakeBootCopy();
    // Mount steps 1 to 12 for a volume of the given type (Fat12 is told apart here from Fat16).
    bool Mount(FatType declaredType, uint64_t totalSectorsHint);
    // Geometry from the boot parameter copy (no directory is read). False when the parameters cannot
    // describe a volume.
    bool ComputeGeometry(FatType declaredType);
    void Clear();

    // Replaces parent's children with those parsed from `slotCount` raw slots (live-directory rules).
    bool ParseDirectory(FileEntry& parent, const uint8_t* slots, size_t slotCount);
    // Reads a directory's clusters, parses them and loads its subdirectories. A live directory follows
    // its chain; a deleted one has its first cluster only. The data must start with "." and ".."
    // slots. Never descends into a folder whose first cluster is its own or an ancestor's, nor deeper
    // than kMaxDirectoryDepth.
    bool LoadSubdirectory(FileEntry& entry);

    void MarkClusterUsed(uint32_t c);
    bool IsClusterUsed(uint32_t c) const;
    size_t UsedMapBytes() const { return usedMap_.size(); }

    // The FAT32 root chain: the root cluster and its successors under the directory end rules.
    std::vector<uint32_t> RootChain();
    // Reads `byteCount` bytes at a volume-relative sector.
    bool ReadVolumeSectors(void* buffer, uint32_t byteCount, uint64_t volumeSector);
    // Clusters of the volume that lie on the device (scans stop there).
    uint64_t DeviceClusterLimit() const;

private:
    bool RepairBootParameters(FatType type, uint64_t totalSectorsHint);
    bool ReadRootDirectory(std::vector<uint8_t>& buffer);
    void MoveSystemDirectoriesBack();
    bool LoadSubdirectoryAt(FileEntry& entry, std::vector<uint32_t>& ancestors, int depth);
    std::vector<uint32_t> DirectoryClusters(const FileEntry& entry);
    void LoadChildren(FileEntry& entry, std::vector<uint32_t>& ancestors, int depth, bool deletedAllowed);

    FatVolume& volume_;
    AllocationTable& table_;
    BootParameters boot_;
    bool bootTaken_ = false;
    FileEntry root_;
    FileEntry lost_;
    FatGeometry geometry_;
    std::vector<uint8_t> usedMap_;
    std::vector<FileEntry> scratch_;
    // First clusters already loaded during this mount, for live and for deleted folders: a structure
    // in which many entries name the same folder is read once, not once per path.
    std::unordered_set<uint32_t> loadedLive_;
    std::unordered_set<uint32_t> loadedDeleted_;
};

}  // namespace tabulon
