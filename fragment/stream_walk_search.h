#pragma once
// Rebuilds a workbook stream that lies in its file in stream order, one block after the other, by
// walking the stream through candidate blocks with a StreamCursor. Within a piece of the file the block
// after the last one on disk continues the stream; where it does not, every offered block is tried as
// the next piece's start, and those that continue the stream are followed best first: the one whose
// first cell comes closest after the chain's last cell, then the one whose own next blocks go on
// continuing it. A wrong turn ends in a block nothing continues, and the search goes back to the last
// choice. Where the document's directory gives the stream's size, no stream runs past it or ends long
// before it. A record cut anywhere, even inside its header, and a shared-string table broken between
// pieces are followed like any other bytes.

#include <cstdint>
#include <span>
#include <vector>

namespace tabulon {

struct SearchContext;

class StreamWalkSearch {
public:
    static constexpr int32_t kLookAheadBlocks = 8;  // next blocks on disk tried to rank a piece's start
    static constexpr int32_t kLookAheadBytes = 32768;  // and at least as many bytes
    static constexpr uint64_t kMaxScans = 3000;     // passes over all blocks one search may make
    static constexpr size_t kMaxResults = 1;        // candidates one search reports
    // How far back from a dead end a block taken without a choice is doubted, in blocks.
    static constexpr size_t kDeferredReach = 4;

    // `chain` holds the file's blocks up to the one holding the stream's start, which is last;
    // `streamBytes` the stream's bytes in that block (from its start to the block end). Found candidates
    // go to `context`: each the blocks holding the stream and the two blocks after the last one on disk,
    // where the container's tail usually lies, within the size limit. Scans count as steps of the context.
    static void Run(SearchContext& context, const std::vector<int32_t>& chain, std::span<const uint8_t> streamBytes);

};

}  // namespace tabulon
