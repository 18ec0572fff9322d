#pragma once
// Files found by content have no name of their own; their first sheet's contents give them one.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/progress_state.h"
#include "app/result_node.h"

namespace tabulon {

class SectorReader;

// Gives every file of `category` that the namer can name "File%d__%s.xls" (its first sector and the
// namer's first text), reading its first min(sector count, 128) sectors. Stops as soon as a stop is
// requested; progress runs over the category's files.
using ContentNamer = std::function<std::vector<std::u16string>(const uint8_t* data, size_t length)>;
void RestoreOriginalNames(SectorReader& reader, ResultNode& category, ProgressState& progress, const ContentNamer& namer);

}  // namespace tabulon
