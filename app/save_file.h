#pragma once
// Writing one file node: its sectors are read from the source, in list order, and written one after
// the other. An existing file is never overwritten: a taken name gets "_1", "_2", ... before ".xls".

#include <cstdint>
#include <string>

#include "app/result_node.h"

namespace tabulon {

enum class SaveResult {
    Written,         // every sector was written
    NoSectors,       // nothing to write; no file is made
    SourceUnreadable,  // the source could not be opened; no file is made
    NotCreated,      // the file could not be created (for example its folder is missing)
    Incomplete,      // a sector could not be read or written; the file keeps what was written before
};

struct SaveFileOutcome {
    SaveResult result = SaveResult::NotCreated;
    std::string path;        // the path actually used (after numbering); empty when no file was made
    uint64_t bytesWritten = 0;
};

// True when `result` means the user did not get the whole file.
bool IsSaveFailure(SaveResult result);

// Writes the node's sectors, read from `sourceName`, to `path` or to the first unused numbered variant.
SaveFileOutcome SaveFile(const ResultNode& node, const std::string& sourceName, const std::string& path);

}  // namespace tabulon
