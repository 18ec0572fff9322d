#pragma once
// The analyser of a source on which no FAT boot sector was found. It has no geometry of its own: its
// entries are sector runs on the device, and its real work is the raw disk scan, which finds
// workbooks by content and rebuilds FAT32 volumes from the directory data it meets on the way. The
// rebuilt volumes go to the owner's volume list; the raw analyser's own two roots stay empty.
//
// How the load worker drives it:
//   auto raw = std::make_unique<RawVolume>();
//   raw->SetOwner(&disk);                 // reads through the disk's VolumeDevice
//   raw->SetPartitionStart(0);
//   raw->SetScanOptions({...});           // the directory option, group size
//   raw->SetProgress(&progress);
//   raw->ScanRawDisk();                   // workbooks to the content-found list, volumes to the disk
//   for (i < disk.VolumeCount()) ... disk.Volume(i)->RootEntry() ...

#include <cstdint>
#include <vector>

#include "fs/raw_disk_scan.h"
#include "fs/scan_progress.h"
#include "fs/volume_analyser.h"

namespace tabulon {

class RawVolume : public VolumeAnalyser {
public:
    RawVolume();
    ~RawVolume() override;
    RawVolume(const RawVolume&) = delete;
    RawVolume& operator=(const RawVolume&) = delete;

    // Runs the raw disk scan unless the boot-copy flag says the device already holds a boot sector.
    // True when the scan ran to its end (or was skipped), false when it could not run or was stopped.
    bool Mount() override;
    // "ROOT" and an unnamed second root; both stay empty (found folders go to rebuilt volumes).
    FileEntry* RootEntry() override { return &root_; }
    FileEntry* LostEntry() override { return &second_; }

    // Every entry is read as sector runs relative to the partition start: its own runs, or one run of
    // ceil(size / 512) sectors at its start sector.
    bool ReadFileData(const FileEntry& entry, uint8_t* buffer, size_t bufferSize, uint64_t offset, uint32_t count,
                      const ClusterChain& chain) override;
    bool BuildChain(const FileEntry& entry, ClusterChain& chain, uint32_t* extra) override;
    // Size, and size rounded up to whole sectors.
    bool GetSizes(const FileEntry& entry, ClusterChain& chain, uint64_t& allocatedOut, uint64_t& sizeOut) override;
    bool GetSizes(const FileEntry& entry, uint64_t& allocatedOut, uint64_t& sizeOut) override;
    bool ReadWholeFile(const FileEntry& entry, std::vector<uint8_t>& bufferOut, uint64_t& allocatedOut,
                       uint64_t& sizeOut) override;
    // (512, 0) for the two roots; otherwise the sector-rounded size at the entry's start sector.
    bool GetExtent(const FileEntry& entry, uint64_t& allocatedOut, uint32_t& startSectorOut) override;
    bool RootDirectoryRuns(ClusterChain&) override { return true; }
    void AttachToDisk() override {}
    uint32_t ClusterToSector(uint32_t) const override { return 0; }
    uint32_t SectorToCluster(uint32_t) const override { return 0; }
    uint32_t ClusterBytes() const override { return 0; }
    uint32_t SectorsPerCluster() const override { return 0; }
    // Reads at partition start + sector; there are no clusters, so `absolute` changes nothing.
    bool ReadSectors(uint8_t* buffer, uint32_t byteCount, uint32_t sector, bool absolute) override;
    FatType GetFatType() const override { return FatType::None; }

    // Walks the whole device from the partition start: workbooks found by content go to the
    // content-found list, FAT32 volumes rebuilt from directory data go to the owner's volume list.
    // False when there is no device or owner, or the scan was stopped; what was found is kept.
    bool ScanRawDisk();

    void SetScanOptions(const RawScanOptions& options) { options_ = options; }
    const RawScanOptions& ScanOptions() const { return options_; }
    void SetProgress(ScanProgress* progress) { progress_ = progress; }
    const RawScanSummary& LastScan() const { return summary_; }

private:
    bool IsRoot(const FileEntry& entry) const { return &entry == &root_ || &entry == &second_; }

    FileEntry root_;
    FileEntry second_;
    RawScanOptions options_;
    RawScanSummary summary_;
    ScanProgress* progress_ = nullptr;
};

}  // namespace tabulon
