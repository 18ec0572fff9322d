#pragma once
// The interface every file-system analyser offers the load worker: a tree of FileEntry records, the
// data of each entry, and the volume's geometry.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/cluster_chain.h"
#include "fs/disk_node.h"
#include "fs/file_entry.h"

namespace tabulon {

enum class FatType : uint8_t { None = 0, Fat12 = 1, Fat16 = 2, Fat32 = 3 };

class VolumeAnalyser : public DiskNode {
public:
    ~VolumeAnalyser() override = default;
    int NodeKind() const final { return 2; }

    virtual bool Mount() = 0;
    virtual FileEntry* RootEntry() = 0;
    virtual FileEntry* LostEntry() = 0;
    // Copies `count` bytes from byte `offset` of the entry's data into `buffer` (`bufferSize` bytes).
    // `chain` is the entry's chain from BuildChain.
    virtual bool ReadFileData(const FileEntry& entry, uint8_t* buffer, size_t bufferSize, uint64_t offset,
                              uint32_t count, const ClusterChain& chain) = 0;
    // Appends the entry's runs to `chain`; `extra`, when given, is zeroed.
    virtual bool BuildChain(const FileEntry& entry, ClusterChain& chain, uint32_t* extra) = 0;
    virtual bool GetSizes(const FileEntry& entry, ClusterChain& chain, uint64_t& allocatedOut, uint64_t& sizeOut) = 0;
    virtual bool GetSizes(const FileEntry& entry, uint64_t& allocatedOut, uint64_t& sizeOut) = 0;
    virtual bool ReadWholeFile(const FileEntry& entry, std::vector<uint8_t>& bufferOut, uint64_t& allocatedOut,
                               uint64_t& sizeOut) = 0;
    virtual bool GetExtent(const FileEntry& entry, uint64_t& allocatedOut, uint32_t& startSectorOut) = 0;
    virtual bool RootDirectoryRuns(ClusterChain& chain) = 0;
    virtual void AttachToDisk() = 0;
    virtual uint32_t DataStartSector() const { return partitionStart_; }
    virtual uint32_t ClusterToSector(uint32_t cluster) const = 0;
    virtual uint32_t SectorToCluster(uint32_t sector) const = 0;
    virtual uint32_t SectorSize() const { return 512; }
    virtual uint32_t ClusterBytes() const = 0;
    virtual uint32_t SectorsPerCluster() const = 0;
    virtual void SetSectorsPerCluster(uint32_t) {}
    // Reads at partition start + x when `absolute`, else x is a cluster (refused below 2).
    virtual bool ReadSectors(uint8_t* buffer, uint32_t byteCount, uint32_t clusterOrSector, bool absolute) = 0;
    virtual FatType GetFatType() const = 0;
    virtual void SetPartitionStart(uint32_t sector) { partitionStart_ = sector; }

    // Wiring by the load worker.
    void SetOwner(SourceDisk* owner) {
        owner_ = owner;
        device_ = owner ? &owner->Device() : nullptr;
        AttachToDisk();
    }
    void SetDevice(VolumeDevice* device) { device_ = device; }
    VolumeDevice* Device() const { return device_; }
    SourceDisk* Owner() const { return owner_; }
    uint32_t PartitionStart() const { return partitionStart_; }
    uint64_t TotalSectors() const { return totalSectors_; }
    void SetTotalSectors(uint64_t sectors) { totalSectors_ = sectors; }
    const std::u16string& DisplayName() const { return displayName_; }
    void SetDisplayName(std::u16string name) { displayName_ = std::move(name); }
    FatType DeclaredFatType() const { return fatType_; }
    void SetDeclaredFatType(FatType type) { fatType_ = type; }
    uint32_t BootCopyFlag() const { return bootCopyFlag_; }
    void SetBootCopyFlag(uint32_t flag) { bootCopyFlag_ = flag; }

protected:
    VolumeDevice* device_ = nullptr;
    SourceDisk* owner_ = nullptr;
    uint32_t partitionStart_ = 0;
    uint64_t totalSectors_ = 0;
    std::u16string displayName_ = u"FAT??";
    FatType fatType_ = FatType::None;
    uint32_t bootCopyFlag_ = 0;
};

}  // namespace tabulon
