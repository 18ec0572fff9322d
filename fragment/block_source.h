#pragma once
// Where the fragment search gets disk blocks from. Blocks are numbered like FAT clusters, from 2; a
// source yields only blocks that may belong to a deleted file (unallocated and not pure filler).

#include <cstdint>
#include <span>

namespace tabulon {

class BlockSource {
public:
    virtual ~BlockSource() = default;
    // One past the highest block index.
    virtual int32_t BlockCount() const = 0;
    // Bytes per block (B).
    virtual int32_t BlockBytes() const = 0;
    // The data of block `index`: B bytes, followed by a few bytes that follow the block on disk (they let
    // record tests near the block end read a header cut by it). Empty when the block is not offered.
    // The data stay valid until the next call.
    virtual std::span<const uint8_t> GetBlock(int32_t index) = 0;
    // For a block not offered because it is free but holds one byte value throughout (a zeroed or erased
    // area, or a stretch of zeros inside a file that a long record may run through): that byte, 0x00 or
    // 0xFF. -1 for any other block. May read the block, like GetBlock.
    virtual int FillerByte(int32_t index) {
        (void)index;
        return -1;
    }
};

}  // namespace tabulon
