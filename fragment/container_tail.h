#pragma once
// Completes a found workbook to its recorded size with the rest of its compound document. After the
// workbook stream a document keeps more sectors (other streams, allocation table sectors, directory),
// and the pieces of a fragmented file may break among them. What the header and the blocks already
// placed say about a file position (an allocation table sector with its markers and the stream's
// chain, a directory sector with its entries) decides whether the block that follows on disk belongs
// there, and finds the right block among the free ones when it does not.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace tabulon {

class BlockSource;
class BlockStore;

// The free block that follows `block` on disk, as blocks are taken after a found list; -1 when none.
using NextFreeBlock = std::function<int32_t(int32_t block)>;

// Fills file clusters m..N-1 of `fileBlocks` (clusters 0..m-1, the workbook stream covered), N being
// `size` in blocks: each cluster whose contents the document's structures predict takes the disk-next
// free block when it agrees with them, else the first free block that does (one pass over the free
// blocks), else the disk-next one; every other cluster takes the disk-next free block. Stops early when
// no free block follows. The list's last two clusters are checked the same way first: a search result
// ends with two blocks taken in disk order after the stream, and the first of them that disagrees while
// a free block agrees is replaced, the clusters after it taken anew.
// False, with the list unchanged, when `header` (the document's first 512 bytes) is not a
// compound-document header.
bool CompleteContainerTail(BlockSource& blocks, const NextFreeBlock& nextFree, std::span<const uint8_t> header,
                           uint64_t size, std::vector<int32_t>& fileBlocks);

// Completes a fragment search result to `size` bytes as it is saved: through the document's structures
// when its first block holds a compound-document header, else with the blocks that follow on disk.
void CompleteFragmentResult(BlockStore& store, std::vector<int32_t>& fileBlocks, uint64_t size);

}  // namespace tabulon
