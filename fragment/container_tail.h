#pragma once
// Completes a found workbook to its recorded size with the rest of its compound document. After the
// workbook stream a document keeps more sectors (other streams, allocation table sectors, directory),
// and the pieces of a fragmented file may break among them. What the header and the blocks already
// placed say about a file position (an allocation table sector with its markers and the stream's
// chain, a directory sector with its entries, a property set's opening, the zeros that pad a stream
// and a property set) decides which free block belongs there.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tabulon {

class BlockSource;
class BlockStore;

// The free blocks next to a block on disk, as a file's pieces continue: each returns -1 when none.
struct FreeNeighbours {
    std::function<int32_t(int32_t block)> next;
    std::function<int32_t(int32_t block)> previous;
};

// A file cluster where two free blocks agreed alike with what the document predicts, and the one taken.
struct TailTie {
    uint64_t cluster = 0;
    int32_t block = -1;
};

// Fills file clusters m..N-1 of `fileBlocks` (clusters 0..m-1, the workbook stream covered), N being
// `size` in blocks. Clusters whose contents the document's structures predict are placed first: the
// disk-next block of the cluster before or the disk-previous block of the cluster after when it agrees,
// else a free block that does (a bounded number of passes over the free blocks); each placed table or
// directory sector tells more. The clusters left between two placed ones are filled from both sides,
// forward from the one before and backward from the one after, split where every block agrees best with
// what is predicted; those after the last placed one take the disk-next blocks. A search result ends with
// two blocks taken in disk order after the stream: those that disagree with the prediction are taken
// anew. Where the directory's first sector lies in the first cluster and puts the stream's start in a
// later one, the clusters between (taken in disk order after the first) are as unknown as the tail: those
// that agree with their prediction stay, the others are placed and filled like a gap after the stream.
// Stops early when no free block follows. False, with the list unchanged, when `header` (the
// document's first 512 bytes) is not a compound-document header.
// `tie`, when given, receives the first cluster where another free block agreed as well as the one taken;
// `avoid`, when given, keeps that block out of that cluster.
bool CompleteContainerTail(BlockSource& blocks, const FreeNeighbours& free, std::span<const uint8_t> header,
                           uint64_t size, std::vector<int32_t>& fileBlocks, std::optional<TailTie>* tie = nullptr,
                           const TailTie* avoid = nullptr);

// A fragment search result completed to `size` bytes as it is saved: through the document's structures
// when its first block holds a compound-document header, else with the blocks that follow on disk. With
// `alternative`, where two free blocks agreed alike at a cluster of the document's structures, the result
// completed with the other one follows: nothing tells which of them is the file's.
std::vector<std::vector<int32_t>> CompletedCandidates(BlockStore& store, const std::vector<int32_t>& fileBlocks,
                                                      uint64_t size, bool alternative);

}  // namespace tabulon
