#pragma once
// Where the workbook stream of a compound document begins, seen from the document's first disk block,
// and the seed of a fragment search made from it: the header blocks and the stream's first block as the
// initial chain, and the stream's bytes in that block.

#include <cstdint>
#include <vector>

#include "fragment/chain_node.h"

namespace tabulon {

class BlockSource;

struct WorkbookStreamSeed {
    ChainNode chain;            // the blocks from the document's first block to the stream's block
    std::vector<uint8_t> data;  // from the stream start to the block end, then the bytes the source adds
    int32_t length = 0;         // n: the stream's bytes in its first block
    int32_t streamBlock = 0;    // the block holding the stream start
    uint32_t streamSize = 0;    // the stream's size from a directory in the first piece; 0 when not known
    // Where the stream's start lies in a block found anywhere: other blocks that hold a workbook-globals
    // BOF at the same offset, nearest first, for the search to try when the stream cannot be followed
    // from the first.
    std::vector<int32_t> otherStreamBlocks;
};

// Looks for a BOF record of a BIFF8 stream (09 08 10 00) at the places a compound document puts its
// workbook stream when that is its first stream: with 1 sector per block at the start of block g+1 or
// g+3; with 2 at offset 512 of block g or of block g+1; with more at offset 512 or 1536 of block g.
// When none stands there, the document's directory is read where a contiguous first piece puts it
// (its first sector at file offset (s + 1) x 512, so in block g + offset / B) and its "Workbook" or
// "Book" stream entry gives the stream's start. When the directory is not there either, the first
// workbook-globals BOF at a 512-byte boundary of block g after the header is taken. Where the directory's
// first sector lies in block g, or in a later block of a contiguous first piece and opens with the root
// entry, the stream's size is taken from its entry.
// Block g must begin with the compound-document signature. False when it does not, when a block
// needed is not offered, or when no BOF is found by these means.
bool FindWorkbookStreamSeed(BlockSource& blocks, int32_t g, int32_t sectorsPerBlock, WorkbookStreamSeed& out);

// The seed with the stream's start taken from block `block` instead (one of seed.otherStreamBlocks): the
// same blocks before it, the same offset in it. False when the block is not offered.
bool ReseedAt(BlockSource& blocks, const WorkbookStreamSeed& seed, int32_t block, WorkbookStreamSeed& out);

}  // namespace tabulon
