// The fragment searches over arbitrary blocks: the input is cut into 512-byte blocks numbered from 2, the
// first of which seeds the record-entry search and the stream walk.
#include <algorithm>
#include <cstdint>
#include <span>

#include "fragment/fragment_assembler.h"
#include "fragment/record_succession_table.h"
#include "fragment/stream_walk_search.h"
#include "tests/support/memory_block_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool loaded = tabulon::LoadProcessSuccessionTable() == tabulon::SuccessionTableError::None;
    if (!loaded || size < 16) return 0;
    constexpr int32_t kBlock = 512;
    const auto count = int32_t(size / kBlock) + 1;
    tabulon::test::MemoryBlockSource source(kBlock, count + 3);
    source.PutRun(2, std::span(data, size));
    // Blocks of one byte value throughout are not offered, like a block store's, but told as fillers.
    for (int32_t k = 0; size_t(k) * kBlock < size; ++k) {
        const auto block = std::span(data, size).subspan(size_t(k) * kBlock, std::min<size_t>(kBlock, size - size_t(k) * kBlock));
        if (block.size() == size_t(kBlock) && (block[0] == 0x00 || block[0] == 0xFF) &&
            std::all_of(block.begin(), block.end(), [&](uint8_t v) { return v == block[0]; }))
            source.PutFiller(2 + k, block[0]);
    }
    tabulon::SearchContext context(source, tabulon::RecordSuccessionTable::Process());
    context.maxSteps = 2000;
    context.sizeLimit = data[0] & 1 ? size : 0;
    tabulon::ChainNode seed;
    seed.Append(2);
    auto first = source.GetBlock(2);
    std::vector<uint8_t> seedData(first.begin(), first.end());
    const int32_t skip = data[1] % 64;
    seedData.erase(seedData.begin(), seedData.begin() + skip);
    tabulon::FragmentAssembler::Seed(context, std::move(seed), seedData, kBlock - skip, 2);

    tabulon::SearchContext walkContext(source, tabulon::RecordSuccessionTable::Process());
    walkContext.sizeLimit = context.sizeLimit;
    tabulon::StreamWalkSearch::Run(walkContext, {2}, std::span(seedData.data(), size_t(kBlock - skip)));
    return 0;
}
