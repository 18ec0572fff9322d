#pragma once
// The disk blocks a fragment search may use: every block of the loaded source that no live file owns
// and that is not pure filler (all 0x00 or all 0xFF). With a FAT volume a block is a cluster and the
// first allocation table says which are owned; without one the source is cut into blocks of the
// configured size on a grid aligned to the workbooks found by content, and every block is free.
//
// In memory mode every offered block is read once, at preparation; in direct mode each request reads
// the block from the source again, and filler blocks are remembered so that they are read only once.
// A search's scans request the blocks in disk order: direct mode then reads ahead in growing windows,
// so that a scan costs a few large reads instead of one per block.
// The store is built by the first fragment scan after a load and kept until the next load.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fragment/block_source.h"
#include "fs/scan_progress.h"
#include "source/sector_reader.h"

namespace tabulon {

// What preparation needs to know about the loaded source.
struct BlockStoreLayout {
    std::string sourceName;
    bool fatFound = false;                // a FAT volume was analysed through its boot parameters
    std::array<uint8_t, 62> bootCopy {};  // its boot parameters
    uint32_t partitionStart = 0;          // its first sector on the source
    uint32_t dataStartSector = 0;         // its first data sector, counted from partitionStart
    int32_t blockSectors = 0;             // block size without a file system, in sectors (1-128)
    std::vector<uint32_t> contentStarts;  // absolute first sectors of the workbooks found by content
    bool inMemory = false;
};

class BlockStore : public BlockSource {
public:
    static constexpr int32_t kMaxBlockSectors = 128;
    static constexpr size_t kMemoryTailBytes = 8;  // bytes of the next kept block after each kept block

    enum class PrepareResult { Ready, NoBlockSize, BadLayout, Unreadable, Stopped, OutOfMemory };

    // Builds the store; on any failure it holds no blocks. `progress` (may be null) receives the table
    // entries or blocks done and is polled for a stop request.
    PrepareResult Prepare(const BlockStoreLayout& layout, ScanProgress* progress);
    void Clear();

    int32_t BlockCount() const override { return blockCount_; }
    int32_t BlockBytes() const override { return sectorsPerBlock_ * 512; }
    std::span<const uint8_t> GetBlock(int32_t index) override;
    int FillerByte(int32_t index) override;

    bool Empty() const { return blockCount_ == 0; }
    int32_t SectorsPerBlock() const { return sectorsPerBlock_; }
    uint32_t FirstSector() const { return firstSector_; }
    bool InMemory() const { return inMemory_; }
    bool IsAllocated(int32_t index) const;
    // The block whose first sector is `sector`; -1 when the sector is not the first of a block.
    int32_t BlockAtSector(uint32_t sector) const;
    // The first sector of block `index` (index ≥ 2).
    uint64_t SectorOfBlock(int32_t index) const;
    // The free block after `block` on disk, passing over a run of at most 64 blocks that live files
    // own; -1 when there is none.
    int32_t NextFreeBlock(int32_t block) const;
    // The free block before `block` on disk, the same way; -1 when there is none.
    int32_t PreviousFreeBlock(int32_t block) const;
    // Extends a found block list with the blocks that follow it on disk until it holds `size` bytes,
    // passing over runs of at most 64 blocks that live files own. A fragment search ends a candidate
    // two blocks after its workbook stream, but a compound document keeps more after the stream
    // (allocation tables, directory, summary streams), written with the rest of the file and mostly
    // lying right after it.
    void ExtendToSize(std::vector<int32_t>& blocks, uint64_t size) const;
    // Reads of the source made by GetBlock since preparation, for callers that watch the cost; one read
    // ahead counts once.
    uint64_t BlockReads() const { return blockReads_; }

private:
    PrepareResult LoadAllocationTable(const BlockStoreLayout& layout, ScanProgress* progress);
    PrepareResult AlignGrid(const BlockStoreLayout& layout);
    PrepareResult ReadIntoMemory(ScanProgress* progress);
    bool IsFiller(const uint8_t* data) const;
    bool ReadDirect(int32_t index, uint64_t sector);

    SectorReader reader_;
    int32_t blockCount_ = 0;
    int32_t sectorsPerBlock_ = 0;
    uint32_t firstSector_ = 0;
    bool inMemory_ = false;
    std::vector<uint64_t> allocated_;  // one bit per block index; empty without a file system

    // Memory mode: slot of each kept block in blockData_ (-1 = not kept), each slot B + 8 bytes.
    std::vector<int32_t> slotOf_;
    std::vector<std::unique_ptr<uint8_t[]>> blockData_;

    // Direct mode.
    std::vector<uint8_t> readBuffer_;  // B + 512 bytes: the block and the sector after it
    std::vector<uint64_t> examined_;
    // Sectors read ahead: window_ holds windowSectors_ sectors from windowFirst_.
    std::vector<uint8_t> window_;
    uint64_t windowFirst_ = 0;
    uint32_t windowSectors_ = 0;
    int32_t lastRequest_ = -1;     // the block read last
    uint32_t inOrderRequests_ = 0;  // requests in a row that went forward by a little

    // Free blocks of one byte value throughout, and which of them hold 0xFF (the others hold zeros).
    std::vector<uint64_t> filler_, erased_;
    uint64_t blockReads_ = 0;
};

}  // namespace tabulon
