#include "fragment/workbook_stream_seed.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "fragment/block_source.h"

namespace tabulon {
namespace {

constexpr uint8_t kSignature[4] = {0xD0, 0xCF, 0x11, 0xE0};
constexpr uint8_t kBof[4] = {0x09, 0x08, 0x10, 0x00};

bool HasAt(std::span<const uint8_t> data, size_t offset, const uint8_t (&bytes)[4]) {
    return data.size() >= offset + 4 && std::memcmp(data.data() + offset, bytes, 4) == 0;
}

bool StartsWithBof(BlockSource& blocks, int32_t index) { return HasAt(blocks.GetBlock(index), 0, kBof); }

}  // namespace

bool FindWorkbookStreamSeed(BlockSource& blocks, int32_t g, int32_t sectorsPerBlock, WorkbookStreamSeed& out) {
    out = WorkbookStreamSeed {};
    const int32_t b = blocks.BlockBytes();
    if (g < 2 || sectorsPerBlock < 1 || b != sectorsPerBlock * 512) return false;
    if (!HasAt(blocks.GetBlock(g), 0, kSignature)) return false;

    int32_t streamBlock = -1;
    int32_t offset = 0;
    if (sectorsPerBlock == 1) {
        if (StartsWithBof(blocks, g + 1))
            streamBlock = g + 1;
        else if (StartsWithBof(blocks, g + 3))
            streamBlock = g + 3;
    } else if (sectorsPerBlock == 2) {
        offset = 512;
        if (HasAt(blocks.GetBlock(g), 512, kBof))
            streamBlock = g;
        else if (HasAt(blocks.GetBlock(g + 1), 512, kBof))
            streamBlock = g + 1;
    } else {
        const auto first = blocks.GetBlock(g);
        streamBlock = g;
        if (HasAt(first, 512, kBof))
            offset = 512;
        else if (HasAt(first, 1536, kBof))
            offset = 1536;
        else
            streamBlock = -1;
    }
    if (streamBlock < 0) return false;

    // Read last, so that the data stay valid whatever the source keeps of earlier reads.
    const auto data = blocks.GetBlock(streamBlock);
    if (data.size() < size_t(b)) return false;
    for (int32_t block = g; block <= streamBlock; ++block) out.chain.Append(block);
    out.data.assign(data.begin() + offset, data.end());
    out.length = b - offset;
    out.streamBlock = streamBlock;
    return true;
}

}  // namespace tabulon
