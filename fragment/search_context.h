#pragma once
// One fragment search, shared by all its steps: the candidates found, the stop request, the expected
// size, and where blocks and record successions come from.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tabulon {

class BlockSource;
class RecordSuccessionTable;

struct SearchContext {
    SearchContext(BlockSource& source, const RecordSuccessionTable& succession)
        : blocks(source), table(succession) {}

    BlockSource& blocks;
    const RecordSuccessionTable& table;

    std::u16string baseName;   // the scanned file's name without its extension
    uint32_t firstSector = 0;  // absolute first sector of the scanned file's data
    uint64_t sizeLimit = 0;    // expected file size in bytes; 0 = none
    uint64_t streamSize = 0;   // the workbook stream's size, when the document's directory told it; 0 = not known
    const std::atomic<uint32_t>* stopRequested = nullptr;

    // Extension steps taken, and the most the search may take (0 = no limit). Blocks that happen to
    // continue each other can make the search branch at every step; the limit keeps one search from
    // running for ever on such a volume, like a stop request would. The default lets a file of a few
    // hundred blocks be rebuilt through many wrong turns, and still ends a search for a file whose
    // pieces are gone.
    static constexpr uint64_t kDefaultMaxSteps = 20000;
    uint64_t steps = 0;
    uint64_t maxSteps = kDefaultMaxSteps;

    // Found candidates: block lists in file order.
    std::vector<std::vector<int32_t>> results;
    // Called with the number of candidates found so far, after each one.
    std::function<void(int32_t found)> onFound;

    bool StopRequested() const {
        return (maxSteps != 0 && steps >= maxSteps) ||
               (stopRequested != nullptr && stopRequested->load(std::memory_order_relaxed) != 0);
    }
    void AddResult(const std::vector<int32_t>& chain) {
        results.push_back(chain);
        if (onFound) onFound(int32_t(results.size()));
    }
};

}  // namespace tabulon
