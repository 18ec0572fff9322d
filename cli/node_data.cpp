#include "cli/node_data.h"

#include <fmt/core.h>

#include <algorithm>

#include "cli/load_runner.h"
#include "source/sector_reader.h"

namespace tabulon::cli {

int ReadNodeData(const std::string& source, const std::string& nodeId, size_t limit, std::vector<uint8_t>& bytes) {
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;
    if (int status = LoadSource(source, LoadOptions {}, outcome); status != 0) return status;
    const ResultNode* node = FindNode(ScanContext::Global(), nodeId);
    if (node == nullptr || !node->IsFile()) {
        fmt::print(stderr, "tabulon: '{}' names no file of '{}' (see tabulon scan)\n", nodeId, source);
        return 1;
    }
    SectorReader reader;
    if (!reader.Open(source)) {
        fmt::print(stderr, "tabulon: cannot open source '{}' for reading\n", source);
        return 1;
    }
    const size_t sectorCount = std::min(node->sectors.size(), limit / 512);
    bytes.assign(sectorCount * 512, 0);
    for (size_t i = 0; i < sectorCount; ++i) {
        if (!reader.ReadSectors(bytes.data() + i * 512, 512, node->sectors[i])) {
            fmt::print(stderr, "tabulon: sector {} of '{}' cannot be read\n", node->sectors[i], nodeId);
            return 1;
        }
    }
    return 0;
}

}  // namespace tabulon::cli
