#include "fragment/fragment_search.h"

#include <utility>

#include "fragment/fragment_assembler.h"
#include "fragment/search_context.h"
#include "fragment/stream_walk_search.h"
#include "fragment/workbook_stream_seed.h"

namespace tabulon {

void SearchFragments(SearchContext& context, WorkbookStreamSeed seed) {
    if (seed.length <= 0 || size_t(seed.length) > seed.data.size()) return;
    const std::span<const uint8_t> streamBytes(seed.data.data(), size_t(seed.length));
    context.streamSize = seed.streamSize;
    StreamWalkSearch::Run(context, seed.chain.blocks, streamBytes);
    if (!context.results.empty() || context.StopRequested()) return;
    FragmentAssembler::Seed(context, std::move(seed.chain), seed.data, seed.length, seed.streamBlock);
}

}  // namespace tabulon
