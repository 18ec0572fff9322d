#pragma once
// The analyser of a FAT12, FAT16 or FAT32 volume.
//
// How the load worker drives it:
//   auto volume = std::make_unique<FatVolume>();
//   volume->SetDeclaredFatType(FatType::Fat16 or FatType::Fat32);  // from ClassifyBootSector
//   volume->SetOwner(&disk);                       // reads through the disk's VolumeDevice
//   disk.Device().SetBootSnapshot(bootSector, true); volume->SetBootCopyFlag(1);
//   volume->SetPartitionStart(firstSector);        // 0 for a volume that starts at sector 0
//   volume->Mount();                               // the "ROOT" tree
//   volume->SetProgress(&progress); volume->ScanLostFolders();   // the "Recycle" tree
//   if (volume->GetFatType() == FatType::Fat32) volume->RecoverFirstClusters();
// Then RootEntry(), LostEntry(), BuildChain() + ClusterToSector() per file, DataStartSector() and
// SectorsPerCluster().
//
// Sector numbers taken and returned by this class are volume-relative (add PartitionStart() for a
// device sector) unless a function says otherwise.

#include <cstdint>
#include <memory>
#include <vector>

#include "fs/allocation_table.h"
#include "fs/directory_tree.h"
#include "fs/scan_progress.h"
#include "fs/volume_analyser.h"

namespace tabulon {

class FatVolume : public VolumeAnalyser {
public:
    FatVolume();
    ~FatVolume() override;
    FatVolume(const FatVolume&) = delete;
    FatVolume& operator=(const FatVolume&) = delete;

    // Names the volume "FAT12", "FAT16" or "FAT32", derives the geometry from the boot parameters
    // (repairing them from the FAT32 backup sector or rebuilding them from the FAT copies when they are
    // unusable), reads the root directory and loads every subdirectory, live and deleted. False, with
    // both trees empty, when no volume could be read. A second call rebuilds the tree.
    bool Mount() override;
    FileEntry* RootEntry() override { return &tree_.Root(); }
    // The "Recycle" node: lost folders found by ScanLostFolders().
    FileEntry* LostEntry() override { return &tree_.Lost(); }

    bool ReadFileData(const FileEntry& entry, uint8_t* buffer, size_t bufferSize, uint64_t offset, uint32_t count,
                      const ClusterChain& chain) override;
    // Lists the entry's clusters, one run of count 1 per cluster: live files follow the FAT (ending at
    // a cluster already in the chain), deleted files are taken as contiguous (size / cluster bytes + 1
    // clusters), deleted folders get their first cluster. Content-found entries give their sector
    // runs. False for a live chain shorter than the entry's size.
    bool BuildChain(const FileEntry& entry, ClusterChain& chain, uint32_t* extra) override;
    bool GetSizes(const FileEntry& entry, ClusterChain& chain, uint64_t& allocatedOut, uint64_t& sizeOut) override;
    bool GetSizes(const FileEntry& entry, uint64_t& allocatedOut, uint64_t& sizeOut) override;
    bool ReadWholeFile(const FileEntry& entry, std::vector<uint8_t>& bufferOut, uint64_t& allocatedOut,
                       uint64_t& sizeOut) override;
    bool GetExtent(const FileEntry& entry, uint64_t& allocatedOut, uint32_t& startSectorOut) override;
    // The root directory's sectors as runs of one sector (FAT12/16), or of one cluster (FAT32).
    bool RootDirectoryRuns(ClusterChain& chain) override;
    void AttachToDisk() override;
    // The first sector of the data area (cluster 2), volume-relative.
    uint32_t DataStartSector() const override;
    // Volume-relative first sector of cluster c (the first data sector for c below 2).
    uint32_t ClusterToSector(uint32_t cluster) const override;
    uint32_t SectorToCluster(uint32_t sector) const override;
    uint32_t ClusterBytes() const override;
    uint32_t SectorsPerCluster() const override;
    void SetSectorsPerCluster(uint32_t n) override;
    bool ReadSectors(uint8_t* buffer, uint32_t byteCount, uint32_t clusterOrSector, bool absolute) override;
    FatType GetFatType() const override;
    void SetPartitionStart(uint32_t sector) override;

    // Scans every cluster of the data area for directory content and lists the folders found there
    // (not part of the live tree) under the "Recycle" node as "Folder <cluster>". Also runs the content
    // signature scan over every chunk it reads. Reports through the progress set with SetProgress and
    // stops after the current chunk when asked to.
    void ScanLostFolders();
    // FAT32: gives deleted entries whose first cluster lost its high word the cluster that a workbook
    // found by content starts at, and removes those sectors from the content-found list.
    void RecoverFirstClusters();
    void SetProgress(ScanProgress* progress) { progress_ = progress; }

    // Geometry from the boot parameter copy without reading directories (for volumes whose folders
    // were found by the raw disk scan). Hand the parameters over as the device's boot snapshot first.
    bool ApplyBootParameters();

    DirectoryTree& Tree() { return tree_; }
    const FatGeometry& Geometry() const { return tree_.Geometry(); }
    AllocationTable& Table() { return table_; }

    // Reads whole clusters into `buffer` (volume-relative cluster numbers; below 2 counts as 2).
    bool ReadCluster(uint32_t cluster, uint8_t* buffer, int16_t sectorBias = 0);

private:
    bool IsRootNode(const FileEntry& entry) const { return &entry == &tree_.Root(); }
    void ScanLostFoldersUnguarded();

    AllocationTable table_;
    DirectoryTree tree_;
    ScanProgress* progress_ = nullptr;
};

}  // namespace tabulon
