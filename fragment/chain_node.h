#pragma once
// One candidate reassembly in progress: the blocks of a file so far, in file order, what their records
// have shown, and where the next record begins.

#include <array>
#include <cstdint>
#include <vector>

#include "fragment/block_profile.h"
#include "fragment/key_set.h"
#include "fragment/stream_landmarks.h"

namespace tabulon {

struct ChainNode {
    std::vector<int32_t> blocks;  // block indices of the file so far, in file order
    KeySet usedBlocks;            // the same indices, for membership tests
    BlockProfile profile;         // counters and key sets of the chain
    int32_t depth = 0;            // extension steps from the seed
    uint16_t firstType = 0;       // type of the record at the entry offset of the newest block
    uint16_t lastType = 0;        // type of the last record examined (the one running into the next block)
    int32_t nextOffset = 0;       // offset in the next block where the next record header begins
    int32_t nextBlock = 0;        // the physically next block, tried first
    uint16_t lastRow = 0, lastColumn = 0;    // of the last record, when it is a keyed cell type
    uint16_t firstRow = 0, firstColumn = 0;  // of the newest block's entry record, when it is a keyed cell type
    uint16_t score = 0;           // continuity score 0-3 given by the parent step
    StreamLandmarks landmarks;    // what the chain's records say about the stream still to come
    int64_t streamPosition = 0;   // stream position of the first byte after the chain's blocks
    // Blocks of the last record's body still to be found: the blocks after the newest one on disk did not
    // continue it, so the file's next piece holds them, just before the block where the record ends.
    int32_t missingBlocks = 0;

    // The last record's bytes from its header to the block end, when fewer than the 8 of its header and
    // cell key: the rest of them lie in whichever block follows in the file, not necessarily in the one
    // after it on disk.
    std::array<uint8_t, 8> cutRecord {};
    uint8_t cutBytes = 0;

    void Append(int32_t block) {
        blocks.push_back(block);
        usedBlocks.Insert(uint32_t(block));
    }
    bool Uses(int32_t block) const { return usedBlocks.Contains(uint32_t(block)); }
};

}  // namespace tabulon
