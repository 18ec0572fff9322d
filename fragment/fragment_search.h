#pragma once
// One fragment search from a workbook stream's seed: the stream walk first, which follows the stream
// byte by byte and takes the best-fitting block at each piece break (from each block that may hold the
// stream's start, where the seed found it anywhere); when it finds nothing, the record-entry search,
// which tries more turns with looser rules.

namespace tabulon {

struct SearchContext;
struct WorkbookStreamSeed;

void SearchFragments(SearchContext& context, WorkbookStreamSeed seed);

}  // namespace tabulon
