#pragma once
// The data of one file node of a source, for the commands that take `SOURCE --node ID`.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tabulon::cli {

// Loads `source`, finds the file node `nodeId` and reads at most `limit` bytes of its sectors (a
// preview reads 5 MiB at most). Returns the exit status: 0, or 1 after a message on stderr when the
// source cannot be loaded, the id names no file or its sectors cannot be read.
int ReadNodeData(const std::string& source, const std::string& nodeId, size_t limit, std::vector<uint8_t>& bytes);

}  // namespace tabulon::cli
