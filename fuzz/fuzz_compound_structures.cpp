// Reading a compound document's header and directory from arbitrary blocks: the seed of a fragment
// search found through the directory, and a result completed through the tables and directory. The
// input is cut into blocks numbered from 2 (512 or 2048 bytes, chosen by the last byte); the first
// block holds the header. The last byte also chooses how many blocks the result holds, whether its last
// one lies away from the others and the recorded size. Where the completion meets a tie, it runs again
// kept away from the block it took.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fragment/compound_layout.h"
#include "fragment/container_tail.h"
#include "fragment/workbook_stream_seed.h"
#include "tests/support/memory_block_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 512) return 0;
    const uint8_t last = data[size - 1];
    const int32_t b = (last & 1) ? 2048 : 512;
    const auto count = int32_t(size / size_t(b)) + 4;
    tabulon::test::MemoryBlockSource source(b, count);
    source.PutRun(2, std::span(data, size));

    tabulon::CompoundLayout layout;
    tabulon::ReadCompoundLayout(std::span(data, 512), layout);
    tabulon::CompoundEntry entry;
    for (size_t at = 512; at + tabulon::kCompoundEntryBytes <= size && at < 4096; at += tabulon::kCompoundEntryBytes)
        tabulon::ReadCompoundEntry(std::span(data + at, tabulon::kCompoundEntryBytes), entry);

    tabulon::WorkbookStreamSeed seed;
    tabulon::FindWorkbookStreamSeed(source, 2, b / 512, seed);

    std::vector<int32_t> blocks = {2};
    for (int32_t i = 3; i < count && i < 2 + int32_t(last % 8); ++i) blocks.push_back(i);
    // The stream's block away from the first piece, as a seed finds it after a break.
    const int32_t lastDataBlock = 2 + int32_t(size / size_t(b)) - 1;
    if ((last & 0x40) && blocks.size() >= 3 && lastDataBlock > blocks.back()) blocks.back() = lastDataBlock;
    const tabulon::FreeNeighbours free {[&source](int32_t block) {
                                            for (int32_t next = block + 1; next < source.BlockCount(); ++next)
                                                if (!source.GetBlock(next).empty()) return next;
                                            return -1;
                                        },
                                        [&source](int32_t block) {
                                            for (int32_t previous = block - 1; previous >= 2; --previous)
                                                if (!source.GetBlock(previous).empty()) return previous;
                                            return -1;
                                        }};
    const uint64_t recorded = (last & 2) ? size : size + uint64_t(last) * 512;
    const std::vector<int32_t> found = blocks;
    std::optional<tabulon::TailTie> tie;
    tabulon::CompleteContainerTail(source, free, std::span(data, 512), recorded, blocks, &tie);
    if (blocks.size() > (recorded + uint64_t(b) - 1) / uint64_t(b) + 8) __builtin_trap();
    // Where two blocks tied, the completion kept away from the one taken.
    if (tie) {
        std::vector<int32_t> other = found;
        tabulon::CompleteContainerTail(source, free, std::span(data, 512), recorded, other, nullptr, &*tie);
        if (other.size() > (recorded + uint64_t(b) - 1) / uint64_t(b) + 8) __builtin_trap();
    }
    return 0;
}
