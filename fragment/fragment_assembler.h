#pragma once
// Rebuilds a fragmented workbook stream from free disk blocks. Starting from the block that holds the
// stream's start, it searches depth first for the sequence of blocks whose BIFF8 records continue each
// other: the physically next block first, every other offered block when that fails. Every sequence that
// ends in a complete workbook stream is handed to SearchContext::AddResult.

#include <cstdint>
#include <span>

#include "fragment/chain_node.h"
#include "fragment/search_context.h"

namespace tabulon {

class FragmentAssembler {
public:
    static constexpr int64_t kMaxSpanBlocks = 50;    // blocks one record may cover beyond its own
    static constexpr int32_t kMaxDepth = 5000;       // extension steps from the seed
    static constexpr size_t kMaxChainBlocks = 4000;  // blocks per chain

    // Starts a search. `seed` holds the blocks before the stream's block (the container header blocks)
    // and that block itself, last. `seedData` holds the `n` bytes from the stream start to the end of that
    // block, possibly followed by bytes that follow the block on disk; `first` is that block's index.
    static void Seed(SearchContext& context, ChainNode seed, std::span<const uint8_t> seedData, int32_t n,
                     int32_t first);

    // Extends `node` by one block, then each surviving candidate in turn, depth first. With
    // `tryAllBlocks` false only physically next blocks are tried.
    static void Extend(SearchContext& context, ChainNode node, bool tryAllBlocks);
};

}  // namespace tabulon
