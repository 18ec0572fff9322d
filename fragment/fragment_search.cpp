#include "fragment/fragment_search.h"

#include <span>
#include <utility>

#include "fragment/fragment_assembler.h"
#include "fragment/search_context.h"
#include "fragment/stream_walk_search.h"
#include "fragment/workbook_stream_seed.h"

namespace tabulon {

void SearchFragments(SearchContext& context, WorkbookStreamSeed seed) {
    if (seed.length <= 0 || size_t(seed.length) > seed.data.size()) return;
    context.streamSize = seed.streamSize;
    StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data).first(size_t(seed.length)));
    // A stream start found anywhere may be another document's: the other blocks that may hold it are
    // walked from as well before the looser search.
    for (const int32_t block : seed.otherStreamBlocks) {
        if (!context.results.empty() || context.StopRequested()) return;
        WorkbookStreamSeed other;
        if (ReseedAt(context.blocks, seed, block, other))
            StreamWalkSearch::Run(context, other.chain.blocks, std::span(other.data).first(size_t(other.length)));
    }
    if (!context.results.empty() || context.StopRequested()) return;
    FragmentAssembler::Seed(context, std::move(seed.chain), seed.data, seed.length, seed.streamBlock);
}

}  // namespace tabulon
