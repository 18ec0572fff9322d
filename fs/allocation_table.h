#pragma once
// The file allocation table of a FAT volume. While a mount builds the directory tree the whole table is
// held in memory; at all other times lookups go through a one-window cache of two FAT sectors.

#include <cstdint>
#include <vector>

#include "fs/volume_analyser.h"
#include "source/volume_device.h"

namespace tabulon {

class AllocationTable {
public:
    // Where the table lies: the reserved-sector count and the sectors of one FAT copy.
    void Configure(FatType type, VolumeDevice* device, uint32_t partitionStart);
    void SetLayout(uint32_t reservedSectors, uint32_t sectorsPerFat);
    void SetDevice(VolumeDevice* device) { device_ = device; InvalidateWindow(); }
    void SetPartitionStart(uint32_t sector) { partitionStart_ = sector; InvalidateWindow(); }
    FatType Type() const { return type_; }

    // Set when the boot parameters came from reconstruction: the copies are then read the other way
    // round (the whole table from the second copy, the window from the first).
    void SetRebuilt(bool rebuilt) { rebuilt_ = rebuilt; InvalidateWindow(); }
    bool Rebuilt() const { return rebuilt_; }

    // Reads one FAT copy whole. Unreadable pieces become zeros. False only when there is nothing to
    // read (no sectors per FAT, or the table lies wholly beyond the device).
    bool LoadWholeTable();
    void ReleaseWholeTable();
    bool Loaded() const { return loaded_; }
    size_t LoadedBytes() const { return whole_.size(); }

    // The FAT entry of cluster c as stored (FAT32: the top four bits are kept); 0 when it cannot be read.
    uint32_t NextCluster(uint32_t c);

    // End-of-chain rules: true when `next` continues a file's chain, or a directory's chain.
    static bool ContinuesFileChain(FatType type, uint32_t next);
    static bool ContinuesDirectoryChain(FatType type, uint32_t next);

private:
    static uint64_t EntryOffset(FatType type, uint32_t c);
    static uint32_t DecodeEntry(FatType type, uint32_t c, const uint8_t* entry);
    static size_t EntryBytes(FatType type) { return type == FatType::Fat32 ? 4 : 2; }
    void InvalidateWindow() { windowIndex_ = kNoWindow; }

    static constexpr uint64_t kNoWindow = ~uint64_t(0);

    FatType type_ = FatType::None;
    VolumeDevice* device_ = nullptr;
    uint32_t partitionStart_ = 0;
    uint32_t reservedSectors_ = 0;
    uint32_t sectorsPerFat_ = 0;
    bool rebuilt_ = false;
    std::vector<uint8_t> whole_;
    bool loaded_ = false;
    uint8_t window_[1024] {};
    uint64_t windowIndex_ = kNoWindow;
};

}  // namespace tabulon
