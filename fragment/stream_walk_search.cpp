#include "fragment/stream_walk_search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "fragment/allocation_sector.h"
#include "fragment/block_source.h"
#include "fragment/compound_layout.h"
#include "fragment/search_context.h"
#include "fragment/stream_cursor.h"

namespace tabulon {
namespace {

constexpr uint64_t kLongTail = 64 * 1024;
// Bytes a writer may leave in the workbook stream after its last record: some pad it to whole 4 KiB.
constexpr uint64_t kMaxStreamPadding = 4096;

// Whether a stream fed up to `after` agrees with the size the document's directory gives it (0: not
// known): it does not run past that size, and where it ends, it ends within the padding before it.
bool AgreesWithStreamSize(const StreamCursor& after, StreamCursor::Result result, uint64_t streamSize) {
    if (streamSize == 0 || result == StreamCursor::Result::Fails) return true;
    const uint64_t at = uint64_t(std::max<int64_t>(after.Position(), 0));
    if (at > streamSize) return false;
    return result != StreamCursor::Result::Ends || streamSize - at < kMaxStreamPadding;
}
constexpr uint64_t kMinSheetBytes = 24;  // a sheet's BOF and EOF records
constexpr int kMaxSkippedSectors = 2;  // allocation sectors stepped over in one block
constexpr int kMaxForeignSectors = 2;  // other sectors of the document stepped over in a block next on disk
constexpr int32_t kMaxAcross = 4;      // blocks after a piece's first that an unjudged record body may fill
constexpr size_t kMaxAcrossCandidates = 8;  // blocks that may fit there before the fit tells nothing

struct Candidate {
    int32_t block = 0;
    StreamCursor cursor;  // after the block
    bool ends = false;
    uint64_t cellDistance = 0;
    int32_t lookAhead = 0;
    int32_t stringsEnded = 0;
    int32_t stringSimilarity = 0;
    // Whether the block passes only as a fallback: 0 it keeps the order; 1 it is the block next on disk
    // and passes once sectors of the document's own inside it are stepped over; 2 it is the block next on
    // disk and passes only when the row and cell order is not enforced.
    uint8_t fallback = 0;
    // Taken for the records where the unjudged body it continues ends, in the blocks after it on disk:
    // the cell distance is theirs.
    bool across = false;
    uint64_t acrossDistance = 0;
    int32_t run = 0;  // candidates with one number lie in one run of offered, unused blocks on disk
};

// A choice point: the candidates for the block after the first `pathLength` blocks, best first. Where
// the block next on disk was taken without a choice, the frame only keeps the cursor before it, and its
// candidates are sought when the search comes back to it: a block of another file may continue a
// piece's last block for a while, and the true next piece is then found where that went wrong.
struct Frame {
    size_t pathLength = 0;
    int32_t lastBlock = -1;  // the chain's last block when the candidates were sought
    std::vector<Candidate> candidates;
    size_t next = 0;
    bool deferred = false;
    StreamCursor cursor;      // deferred: the cursor before the block taken
    int32_t taken = -1;       // deferred: the block taken, not to be tried again
};

// Allocation usually goes on forward from where the last piece ended: whether block `a` comes before block
// `b` as the next piece after block `last`.
bool NearerOnDisk(int32_t a, int32_t b, int32_t last) {
    const bool aForward = a > last, bForward = b > last;
    if (aForward != bForward) return aForward;
    return std::abs(int64_t(a) - last) < std::abs(int64_t(b) - last);
}

bool HoldsAllocationSector(std::span<const uint8_t> block) {
    for (size_t at = 0; at + kCompoundSectorBytes <= block.size(); at += kCompoundSectorBytes)
        if (LooksLikeAllocationSector(block.subspan(at, kCompoundSectorBytes))) return true;
    return false;
}

// Feeds sectors [k, end) of a block to `cursor`, which has taken the sectors before k. Some writers place
// the compound document's allocation-table sectors inside the stream's run of sectors, one in every 128,
// and the table's last sectors where the stream ends: such sectors are stepped over (their entries could
// otherwise pass as the body of a long record and put the stream out of step). Other sectors of the
// document (its directory, the short-stream tables) may stand inside the run as well; where a sector does
// not continue the stream, up to `foreign` of them are stepped over when a later sector boundary does
// continue it, shown by a record its rules know in the rest of the block (or, where the rest is all the
// body of one record, in the block after it on disk, `following`). A foreign sector read as the
// body of a long record makes only the record after it fail: the sector before the failing one, and
// every earlier sector of the block that was read whole as the body of one record, are tried as well.
// After the stream's end the container's own sectors follow, unread. A block with more
// table sectors than kMaxSkippedSectors before the stream ends, or with nothing else, continues no stream.
struct SectorFeed {
    std::span<const uint8_t> block;
    const StreamCursor::Judging& judging;
    std::span<const uint8_t> following;

    StreamCursor::Result From(StreamCursor& cursor, size_t k, bool first, int tables, int foreign,
                              int32_t knownBeforeStep) const {
        struct Before {
            StreamCursor cursor;
            bool first;
            int tables;
            bool insideBody;  // the sector was read whole as part of one record's body
        };
        std::vector<Before> before;
        const size_t n = block.size() / kCompoundSectorBytes;
        for (size_t at = k; at < n; ++at) {
            const auto sector = block.subspan(at * kCompoundSectorBytes, kCompoundSectorBytes);
            if (foreign > 0)
                before.push_back({cursor, first, tables,
                                  !cursor.AtRecordStart() && cursor.BodyLeft() >= kCompoundSectorBytes});
            if (LooksLikeAllocationSector(sector)) {
                if (--tables < 0) return StreamCursor::Result::Fails;
                continue;
            }
            const auto result = first ? cursor.Feed(sector, judging) : cursor.FeedMore(sector, judging);
            first = false;
            if (result == StreamCursor::Result::Ends) return result;
            if (result == StreamCursor::Result::Continues) continue;
            for (size_t back = 0; foreign > 0 && back <= at - k; ++back) {
                const size_t step = at - back;
                const Before& from = before[step - k];
                if (back > 1 && !from.insideBody) continue;
                if (LooksLikeAllocationSector(block.subspan(step * kCompoundSectorBytes, kCompoundSectorBytes)))
                    continue;
                StreamCursor retry = from.cursor;
                const int32_t known = from.first ? 0 : retry.FedKnownRecords();
                const auto stepped = From(retry, step + 1, from.first, from.tables, foreign - 1, known);
                if (stepped != StreamCursor::Result::Fails) {
                    cursor = std::move(retry);
                    return stepped;
                }
            }
            return StreamCursor::Result::Fails;
        }
        if (first) return StreamCursor::Result::Fails;
        if (knownBeforeStep >= 0 && cursor.FedKnownRecords() <= knownBeforeStep && !FollowingShows(cursor))
            return StreamCursor::Result::Fails;
        return StreamCursor::Result::Continues;
    }

    // Whether the block after this one on disk goes on with a record the rules know.
    bool FollowingShows(const StreamCursor& cursor) const {
        if (following.empty()) return false;
        StreamCursor probe = cursor;
        const auto result = SectorFeed {following, judging, {}}.From(probe, 0, true, kMaxSkippedSectors, 0, -1);
        return result == StreamCursor::Result::Ends ||
               (result == StreamCursor::Result::Continues && probe.FedKnownRecords() > 0);
    }
};

// Feeds a block's stream bytes, stepping over the document's own sectors inside the stream's run as
// SectorFeed does; `foreign` bounds the sectors stepped over that are not allocation-table sectors.
StreamCursor::Result FeedBlock(const StreamCursor& from, std::span<const uint8_t> block,
                               const StreamCursor::Judging& judging, StreamCursor& after, int foreign = 0,
                               std::span<const uint8_t> following = {}) {
    after = from;
    if (block.size() % kCompoundSectorBytes != 0) return after.Feed(block, judging);
    if (!HoldsAllocationSector(block)) {
        const auto result = after.Feed(block, judging);
        if (result != StreamCursor::Result::Fails || foreign == 0) return result;
        after = from;
    }
    return SectorFeed {block, judging, following}.From(after, 0, true, kMaxSkippedSectors, foreign, -1);
}

class Walk {
public:
    Walk(SearchContext& context, std::vector<int32_t> chain)
        : context_(context), blocks_(context.blocks), b_(context.blocks.BlockBytes()), path_(std::move(chain)),
          used_(size_t(std::max(blocks_.BlockCount(), 0)), 0) {
        for (int32_t block : path_) Mark(block, 1);
        results_ = context.results.size();
        if (context.sizeLimit != 0) maxBlocks_ = size_t((context.sizeLimit + uint64_t(b_) - 1) / uint64_t(b_));
        LearnContainerSectors();
    }

    void Run(StreamCursor cursor, StreamCursor::Result seeded) {
        cursor_ = std::move(cursor);
        Search(seeded == StreamCursor::Result::Ends ? Next::Report : Next::Advance);
        if (context_.results.size() == results_ && !unlikely_.empty()) context_.AddResult(unlikely_);
    }

private:
    enum class Next : uint8_t { Advance, Report, Pick };

    void Search(Next next) {
        while (true) {
            if (next == Next::Report) {
                if (LeavesTooMuch()) {
                    // Kept in case nothing better turns up.
                    if (unlikely_.empty()) unlikely_ = Chain();
                } else {
                    context_.AddResult(Chain());
                    if (context_.results.size() >= results_ + StreamWalkSearch::kMaxResults) return;
                }
                next = Next::Pick;
            } else if (next == Next::Advance) {
                Frame frame;
                if (Advance(frame)) {
                    stack_.push_back(std::move(frame));
                } else if (found_) {
                    found_ = false;
                    next = Next::Report;
                    continue;
                } else {
                    deadEnd_ = path_.size();
                }
                next = Next::Pick;
            } else {
                if (!NextCandidate()) return;
                next = next_;
            }
        }
    }

    // A stream that ends long before the file's recorded size would: the rest would be a container tail
    // larger than the stream itself. Writers do leave such tails (pictures, other streams), but a stream
    // of another file that happened to fit ends like this far more often.
    bool LeavesTooMuch() const {
        if (context_.sizeLimit == 0) return false;
        const uint64_t chainBytes = uint64_t(path_.size()) * uint64_t(b_);
        if (chainBytes >= context_.sizeLimit) return false;
        const uint64_t rest = context_.sizeLimit - chainBytes;
        return rest > kLongTail && rest > chainBytes;
    }

    // Takes the best untried candidate of the latest choice into the chain; false when none is left.
    bool NextCandidate() {
        while (!stack_.empty() && !context_.StopRequested()) {
            Frame& top = stack_.back();
            if (top.deferred) {
                // Only blocks taken just before a dead end are doubted: further back, the blocks after
                // them went on fitting.
                if (deadEnd_ > top.pathLength + StreamWalkSearch::kDeferredReach) {
                    stack_.pop_back();
                    continue;
                }
                Truncate(top.pathLength);
                cursor_ = std::move(top.cursor);
                const int32_t taken = top.taken;
                Frame found;
                const bool any = Choose(found, taken, false);
                stack_.pop_back();
                if (any) stack_.push_back(std::move(found));
                continue;
            }
            if (top.next >= top.candidates.size()) {
                stack_.pop_back();
                continue;
            }
            Candidate& candidate = top.candidates[top.next++];
            Truncate(top.pathLength);
            ReplaceLast(top.lastBlock);  // a later choice may have taken another block there
            Append(candidate.block);
            cursor_ = std::move(candidate.cursor);
            next_ = candidate.ends ? Next::Report : Next::Advance;
            return true;
        }
        return false;
    }

    void Mark(int32_t block, uint8_t value) {
        if (block >= 0 && size_t(block) < used_.size()) used_[size_t(block)] = value;
    }
    bool Used(int32_t block) const { return block < 0 || size_t(block) >= used_.size() || used_[size_t(block)] != 0; }
    void Append(int32_t block) {
        path_.push_back(block);
        Mark(block, 1);
    }
    void ReplaceLast(int32_t block) {
        if (path_.empty() || block < 0 || path_.back() == block) return;
        Mark(path_.back(), 0);
        path_.back() = block;
        Mark(block, 1);
    }
    void Truncate(size_t length) {
        while (path_.size() > length) {
            Mark(path_.back(), 0);
            path_.pop_back();
        }
    }
    bool Full() const { return maxBlocks_ != 0 && path_.size() >= maxBlocks_; }

    // The chain as a result, with the two blocks after it on disk, where the container's tail usually
    // lies (and which the tail completion checks), as far as the file's recorded size reaches.
    std::vector<int32_t> Chain() const {
        std::vector<int32_t> chain = path_;
        for (int32_t k = 1; k <= 2 && !chain.empty() && (maxBlocks_ == 0 || chain.size() < maxBlocks_); ++k)
            if (int64_t(path_.back()) + k < blocks_.BlockCount()) chain.push_back(path_.back() + k);
        return chain;
    }

    // Feeds the block `block`, which lies next on disk after the chain's last one, as Fed does; a stream
    // that then disagrees with the size its directory gives fails.
    StreamCursor::Result Try(const StreamCursor& from, int32_t block, const StreamCursor::Judging& judging,
                             StreamCursor& after, bool stepping = false, bool offeredOnly = false) {
        const auto data = blocks_.GetBlock(block);
        return Sized(Fed(from, block, data, judging, after, stepping, offeredOnly), after);
    }

    // A continuation must keep the stream within its size: the directory's, else the file's recorded size
    // (which also holds the header). Files of one template share their first records, and another file's
    // sheet list that reaches past this file's end shows a block of that file.
    StreamCursor::Result Sized(StreamCursor::Result result, const StreamCursor& after) const {
        if (!AgreesWithStreamSize(after, result, context_.streamSize)) return StreamCursor::Result::Fails;
        const uint64_t room = context_.streamSize != 0 ? context_.streamSize : context_.sizeLimit;
        const int64_t sheet = after.FurthestListedSheet();
        if (result != StreamCursor::Result::Fails && room != 0 && sheet >= 0 && uint64_t(sheet) + kMinSheetBytes > room)
            return StreamCursor::Result::Fails;
        return result;
    }

    // Feeds block `block` holding `data`. With `stepping`, up to kMaxForeignSectors sectors of the
    // document's own that stand in it are stepped over. A block of one byte value throughout, which the
    // source does not offer, is taken where a record body that cannot be judged runs through all of it (a
    // long record of zeros), unless `offeredOnly`.
    StreamCursor::Result Fed(const StreamCursor& from, int32_t block, std::span<const uint8_t> data,
                             const StreamCursor::Judging& judging, StreamCursor& after, bool stepping, bool offeredOnly) {
        if (data.size() < size_t(b_)) {
            if (offeredOnly || from.AtRecordStart() || from.BodyLeft() < uint32_t(b_) || from.JudgesBody(uint64_t(b_)))
                return StreamCursor::Result::Fails;
            const int filler = blocks_.FillerByte(block);
            if (filler < 0) return StreamCursor::Result::Fails;
            held_.assign(size_t(b_), uint8_t(filler));
            return FeedBlock(from, held_, judging, after);
        }
        const auto result = FeedBlock(from, data.first(size_t(b_)), judging, after);
        if (result != StreamCursor::Result::Fails || !stepping) return result;
        // Stepping over sectors may need the block after this one; the source's buffer is reused.
        held_.assign(data.begin(), data.begin() + b_);
        std::span<const uint8_t> following;
        if (int64_t(block) + 1 < blocks_.BlockCount()) {
            following = blocks_.GetBlock(block + 1);
            following = following.size() >= size_t(b_) ? following.first(size_t(b_)) : std::span<const uint8_t> {};
        }
        return FeedBlock(from, held_, judging, after, kMaxForeignSectors, following);
    }

    // The document's own sectors that the header in the chain's first block names: the allocation
    // table's, and the first of the short-stream table, the DIFAT and the directory. Writers that grow the document as
    // they write put them inside the stream's run; where a block holds no more than a sector or two, such
    // a sector fills a block of its own, which the stream's bytes pass over.
    void LearnContainerSectors() {
        if (path_.empty() || b_ > kMaxSkippedSectors * int32_t(kCompoundSectorBytes)) return;
        const auto first = blocks_.GetBlock(path_.front());
        CompoundLayout layout;
        if (first.size() < kCompoundSectorBytes || !ReadCompoundLayout(first.first(kCompoundSectorBytes), layout) ||
            layout.sectorBytes != kCompoundSectorBytes)
            return;
        const uint32_t count = std::min<uint32_t>(layout.fatSectorCount, CompoundLayout::kHeaderFatEntries);
        for (uint32_t i = 0; i < count; ++i) containerSectors_.emplace_back(layout.headerFatSectors[i], false);
        containerSectors_.emplace_back(layout.firstMiniFatSector, false);
        containerSectors_.emplace_back(layout.firstDifatSector, false);
        containerSectors_.emplace_back(layout.firstDirectorySector, true);
        std::sort(containerSectors_.begin(), containerSectors_.end());
    }

    // The kind of the document's own sector `sector`: 0 none the header names, 1 a table's, 2 the
    // directory's first.
    int ContainerSectorKind(uint64_t sector) const {
        if (sector >= kCompoundDifatSector) return 0;
        const std::pair<uint32_t, bool> key(uint32_t(sector), false);
        const auto it = std::lower_bound(containerSectors_.begin(), containerSectors_.end(), key);
        if (it == containerSectors_.end() || it->first != sector) return 0;
        return it->second ? 2 : 1;
    }

    // Whether every sector of the file's cluster `cluster` is one of the document's own that the header
    // names.
    bool ContainerCluster(size_t cluster) const {
        if (containerSectors_.empty() || cluster == 0) return false;
        const uint64_t begin = uint64_t(cluster) * uint64_t(b_), end = begin + uint64_t(b_);
        for (uint64_t offset = begin; offset < end; offset += kCompoundSectorBytes)
            if (ContainerSectorKind(offset / kCompoundSectorBytes - 1) == 0) return false;
        return true;
    }

    // Whether block `block` reads, sector by sector, as the document's own sectors of file cluster
    // `cluster`: table sectors, and the directory's opening.
    bool FitsContainerCluster(int32_t block, size_t cluster) {
        const auto data = blocks_.GetBlock(block);
        if (data.size() < size_t(b_)) return false;
        for (size_t at = 0; at < size_t(b_); at += kCompoundSectorBytes) {
            const auto sector = data.subspan(at, kCompoundSectorBytes);
            const int kind = ContainerSectorKind((uint64_t(cluster) * uint64_t(b_) + at) / kCompoundSectorBytes - 1);
            if (kind == 0 || (kind == 1 ? !LooksLikeAllocationSector(sector) : !IsDirectoryRun(sector, true))) return false;
        }
        return true;
    }

    // Takes block `block`, next on disk, into the chain without a choice; the frame kept lets a later
    // dead end doubt it.
    void TakeNextOnDisk(int32_t block) {
        Frame deferred;
        deferred.deferred = true;
        deferred.pathLength = path_.size();
        deferred.cursor = cursor_;
        deferred.taken = block;
        stack_.push_back(std::move(deferred));
        Append(block);
    }

    // Where the file's next cluster holds the document's own sectors and the block next on disk does not,
    // the file's piece broke there: the candidates are the blocks that hold such sectors and whose next
    // block on disk continues the stream; those whose cells go on nearest first, then those whose blocks
    // after them go on furthest, then forward and nearest.
    bool ChooseContainerBlock(Frame& frame) {
        if (scans_ >= StreamWalkSearch::kMaxScans) return false;
        ++scans_;
        ++context_.steps;
        const StreamCursor::Judging strict {true, &context_.table, true};
        const int32_t count = blocks_.BlockCount();
        for (int32_t i = 0; i + 1 < count; ++i) {
            if (Used(i) || Used(i + 1)) continue;
            if ((i & 1023) == 0 && context_.StopRequested()) return false;
            if (!FitsContainerCluster(i, path_.size())) continue;
            Candidate candidate;
            candidate.block = i;
            candidate.cursor = cursor_;
            Candidate next;
            next.block = i + 1;
            const auto result = Try(cursor_, i + 1, strict, next.cursor);
            if (result == StreamCursor::Result::Fails) continue;
            candidate.cellDistance = CellDistance(next.cursor);
            candidate.lookAhead = result == StreamCursor::Result::Ends ? lookAheadBlocks_ : LookAhead(next);
            frame.candidates.push_back(std::move(candidate));
        }
        if (frame.candidates.empty()) return false;
        const int32_t last = path_.back();
        std::stable_sort(frame.candidates.begin(), frame.candidates.end(), [last](const Candidate& a, const Candidate& b) {
            if (a.cellDistance != b.cellDistance) return a.cellDistance < b.cellDistance;
            if (a.lookAhead != b.lookAhead) return a.lookAhead > b.lookAhead;
            return NearerOnDisk(a.block, b.block, last);
        });
        frame.pathLength = path_.size();
        frame.lastBlock = last;
        return true;
    }

    // Follows the blocks after the chain on disk while they continue the stream. True with a choice point
    // in `frame` when the next piece must be chosen; false when the stream ended (found_) or nothing
    // continues it.
    bool Advance(Frame& frame) {
        const StreamCursor::Judging natural {true, nullptr};
        while (!context_.StopRequested()) {
            if (Full()) return false;
            const int32_t c = path_.back() + 1;
            if (ContainerCluster(path_.size())) {
                // The document's own sectors: the stream's bytes go on in the block after it.
                if (!Used(c) && FitsContainerCluster(c, path_.size())) {
                    TakeNextOnDisk(c);
                    continue;
                }
                return ChooseContainerBlock(frame);
            }
            StreamCursor after;
            StreamCursor::Result result = StreamCursor::Result::Fails;
            if (!Used(c)) result = Try(cursor_, c, natural, after);
            if (result == StreamCursor::Result::Fails) {
                if (!Choose(frame, -1, true)) return false;
                DoubtOrderBreak(frame);
                return true;
            }
            TakeNextOnDisk(c);
            cursor_ = std::move(after);
            if (result == StreamCursor::Result::Ends) {
                found_ = true;
                return false;
            }
        }
        return false;
    }

    // Where the stream goes on only with its row and cell order broken, the block taken next on disk just
    // before is more likely another file's that happened to fit than the stream's: the blocks that may
    // take its place are tried first. The continuation with the order broken stays, for writers that do
    // not keep their rows in order, beneath them.
    void DoubtOrderBreak(Frame& frame) {
        const bool orderBroken = std::all_of(frame.candidates.begin(), frame.candidates.end(),
                                             [](const Candidate& candidate) { return candidate.fallback == 2; });
        if (!orderBroken || stack_.empty() || !stack_.back().deferred || stack_.back().taken != path_.back()) return;
        Frame deferred = std::move(stack_.back());
        stack_.pop_back();
        // The alternatives are sought from where the stream stood before the block, and the chain and
        // cursor are then put back as the order-broken frame has them.
        const int32_t taken = path_.back();
        StreamCursor current = std::move(cursor_);
        Truncate(deferred.pathLength);
        cursor_ = std::move(deferred.cursor);
        Frame alternatives;
        const bool any = Choose(alternatives, taken, false);
        cursor_ = std::move(current);
        Append(taken);
        if (!any) return;  // no block can take its place: it stays, as a later doubt would leave it
        stack_.push_back(std::move(frame));
        frame = std::move(alternatives);
    }

    uint64_t CellDistance(const StreamCursor& after) const {
        const int32_t row = after.FedFirstCellRow();
        const int32_t lastRow = cursor_.LastCellRow();
        if (row < 0 || lastRow < 0) {
            // Without cells on both sides, the sheet's ROW records tell how far the rows moved on.
            const int32_t rowRecord = after.FedFirstRowRecord(), lastRowRecord = cursor_.LastRowRecord();
            if (rowRecord > lastRowRecord && lastRowRecord >= 0) return uint64_t(rowRecord - lastRowRecord) << 32;
            return std::numeric_limits<uint64_t>::max() / 2;
        }
        const int32_t column = after.FedFirstCellColumn();
        const int32_t gap = row == lastRow ? column - cursor_.LastCellColumn() : column;
        return (uint64_t(row - lastRow) << 32) | uint32_t(std::max(gap, 0));
    }

    int32_t LookAhead(const Candidate& candidate) {
        const StreamCursor::Judging natural {true, nullptr};
        StreamCursor cursor = candidate.cursor;
        int32_t passed = 0;
        for (int32_t k = 1; k <= lookAheadBlocks_; ++k) {
            const int32_t block = candidate.block + k;
            if (Used(block)) break;
            StreamCursor after;
            const auto result = Try(cursor, block, natural, after);
            if (result == StreamCursor::Result::Fails) break;
            ++passed;
            if (result == StreamCursor::Result::Ends) {
                passed = lookAheadBlocks_;
                break;
            }
            cursor = std::move(after);
        }
        return passed;
    }

    // The next piece: every offered block that continues the stream, best first.
    bool Choose(Frame& frame, int32_t skip, bool withNextLoose) {
        if (scans_ >= StreamWalkSearch::kMaxScans) return false;
        ++scans_;
        ++context_.steps;
        const StreamCursor::Judging strict {true, &context_.table, true};
        const int32_t count = blocks_.BlockCount();
        if (!cursor_.AtRecordStart() && cursor_.BodyLeft() >= uint32_t(b_) && !cursor_.JudgesBody(uint64_t(b_))) {
            if (!ChooseAcross(frame, skip)) return false;
            return Rank(frame);
        }
        for (int32_t i = 0; i < count; ++i) {
            if (Used(i) || i == skip) continue;
            if ((i & 1023) == 0 && context_.StopRequested()) return false;
            const auto data = blocks_.GetBlock(i);
            if (data.size() < size_t(b_)) continue;
            const auto block = data.first(size_t(b_));
            if (!cursor_.MayContinueWith(block, strict.succession) && !HoldsAllocationSector(block))
                continue;
            Candidate candidate;
            candidate.block = i;
            const auto result = Sized(FeedBlock(cursor_, block, strict, candidate.cursor), candidate.cursor);
            if (result == StreamCursor::Result::Fails) continue;
            // A block with no record header of its own shows too little to be told from others.
            if (result == StreamCursor::Result::Continues && candidate.cursor.FedKnownRecords() == 0 &&
                !cursor_.JudgesBody(uint64_t(b_)))
                continue;
            candidate.ends = result == StreamCursor::Result::Ends;
            candidate.stringsEnded = candidate.cursor.FedStringsEnded();
            candidate.stringSimilarity = candidate.cursor.FedStringSimilarity();
            frame.candidates.push_back(std::move(candidate));
        }
        // The block next on disk may continue the stream past sectors of the document that are not the
        // stream's (its directory, its short-stream tables), or with its cells out of order: some writers
        // do not keep rows sorted. Either comes after every block that continues the stream as it is: a
        // later piece of the same stream often passes too once a sector or two are stepped over.
        const int32_t c = path_.back() + 1;
        if (withNextLoose && !Used(c)) {
            const StreamCursor::Judging natural {true, nullptr};
            const StreamCursor::Judging loose {false, nullptr};
            for (const uint8_t fallback : {uint8_t(1), uint8_t(2)}) {
                Candidate candidate;
                candidate.block = c;
                const auto result = fallback == 1 ? Try(cursor_, c, natural, candidate.cursor, true)
                                                  : Try(cursor_, c, loose, candidate.cursor);
                if (result == StreamCursor::Result::Fails) continue;
                candidate.ends = result == StreamCursor::Result::Ends;
                candidate.fallback = fallback;
                frame.candidates.push_back(std::move(candidate));
            }
        }
        return Rank(frame);
    }

    // The next piece begins inside a record body that cannot be judged and fills the whole block: any block
    // would do as its first. A block is taken for what the blocks after it on disk show where the body
    // ends: records that continue the stream, judged as strictly as a piece's first block, or at least the
    // header of one that may follow the body's record (long records follow each other: a drawing and its
    // continuations). A body that ends more than kMaxAcross blocks further on leaves the piece unfindable,
    // and so does evidence that many blocks fit: it does not tell the piece's first block.
    bool ChooseAcross(Frame& frame, int32_t skip) {
        const int32_t across = int32_t(cursor_.BodyLeft() / uint32_t(b_));  // the block, after the first, where the body ends
        if (across > kMaxAcross) return false;
        const bool headerInside = cursor_.BodyLeft() % uint32_t(b_) + 4 <= uint32_t(b_);  // the next header, in that block
        const StreamCursor::Judging natural {true, nullptr};
        const StreamCursor::Judging strict {true, &context_.table, true};
        const int32_t count = blocks_.BlockCount();
        for (int32_t i = 0; i + across < count; ++i) {
            if (Used(i) || i == skip) continue;
            if ((i & 1023) == 0 && context_.StopRequested()) return false;
            bool available = true;
            for (int32_t k = 1; k <= across && available; ++k) available = !Used(i + k);
            if (!available) continue;
            Candidate candidate;
            candidate.block = i;
            if (Try(cursor_, i, natural, candidate.cursor, false, true) != StreamCursor::Result::Continues) continue;
            StreamCursor probe = candidate.cursor;
            bool body = true;
            for (int32_t k = 1; k < across && body; ++k) {
                StreamCursor next;
                body = Try(probe, i + k, natural, next) == StreamCursor::Result::Continues;
                probe = std::move(next);
            }
            if (!body) continue;
            const auto data = blocks_.GetBlock(i + across);
            if (data.size() < size_t(b_)) continue;
            const auto last = data.first(size_t(b_));
            if (!probe.MayContinueWith(last, strict.succession) && !HoldsAllocationSector(last)) continue;
            StreamCursor after;
            const auto result = Sized(FeedBlock(probe, last, strict, after), after);
            if (result == StreamCursor::Result::Fails) continue;
            if (result == StreamCursor::Result::Continues && after.FedKnownRecords() == 0 && !headerInside) continue;
            candidate.across = true;
            candidate.acrossDistance = CellDistance(after);
            frame.candidates.push_back(std::move(candidate));
            if (frame.candidates.size() > kMaxAcrossCandidates) return false;
        }
        return !frame.candidates.empty();
    }

    // Numbers the candidates by the runs of offered, unused blocks on disk they lie in; candidates more
    // than kMaxRunGap blocks apart count as in different runs (in direct mode each block between is a
    // read, as many as a candidate's look-ahead takes).
    void NumberRuns(std::vector<Candidate>& candidates) {
        constexpr int32_t kMaxRunGap = StreamWalkSearch::kLookAheadBlocks;
        std::vector<size_t> order(candidates.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return candidates[x].block < candidates[y].block; });
        int32_t run = 0;
        for (size_t k = 0; k < order.size(); ++k) {
            if (k > 0) {
                const int32_t from = candidates[order[k - 1]].block, to = candidates[order[k]].block;
                bool joined = to - from <= kMaxRunGap;
                for (int32_t x = from + 1; x < to && joined; ++x) joined = !Used(x) && blocks_.GetBlock(x).size() >= size_t(b_);
                if (!joined) ++run;
            }
            candidates[order[k]].run = run;
        }
    }

    // Ranks a choice point's candidates, best first.
    bool Rank(Frame& frame) {
        if (frame.candidates.empty()) return false;
        for (Candidate& candidate : frame.candidates) {
            candidate.cellDistance = candidate.across ? candidate.acrossDistance : CellDistance(candidate.cursor);
            candidate.lookAhead = candidate.ends ? lookAheadBlocks_ : LookAhead(candidate);
        }
        NumberRuns(frame.candidates);
        // A string table's own next bytes end about as many strings per block as its bytes so far did;
        // bytes read at a wrong place in a table read as one endless string, or as a swarm of tiny ones.
        // Fewer bytes than a block tell too little of the rate (a table's first strings are often its
        // column headings), and every candidate then counts as typical.
        const bool rateKnown = cursor_.StringBytes() >= b_;
        const double expected = cursor_.StringsPerByte() * b_;
        auto typicalStrings = [expected, rateKnown](const Candidate& candidate) {
            if (!rateKnown) return true;
            return expected > 0 && candidate.stringsEnded * 2.0 >= expected && candidate.stringsEnded <= expected * 2.0;
        };
        // How far a block's strings are from that rate, as a factor either way (0 where it tells nothing).
        auto rateDistance = [expected, rateKnown](const Candidate& candidate) {
            if (!rateKnown || expected <= 0 || candidate.stringsEnded <= 0) return 0.0;
            return std::abs(std::log(candidate.stringsEnded / expected));
        };
        const int32_t last = path_.back();
        std::stable_sort(frame.candidates.begin(), frame.candidates.end(), [&](const Candidate& a, const Candidate& b) {
            if (a.fallback != b.fallback) return a.fallback < b.fallback;
            if (a.cellDistance != b.cellDistance) return a.cellDistance < b.cellDistance;
            // An endless string swallows the blocks after it too: judge by the strings first.
            const bool aStrings = typicalStrings(a), bStrings = typicalStrings(b);
            if (aStrings != bStrings) return aStrings;
            // Among string tables alike in form, neighbouring strings resemble each other; a table of
            // another file alike in form has strings of its own.
            if (a.stringSimilarity != b.stringSimilarity) return a.stringSimilarity > b.stringSimilarity;
            // A block that fits by chance is soon contradicted by the blocks after it on disk: a record
            // boundary the stream does not have, a cell out of order.
            if (a.lookAhead != b.lookAhead) return a.lookAhead > b.lookAhead;
            // Of string tables alike so far, the one nearer the table's own rate.
            const double aRate = rateDistance(a), bRate = rateDistance(b);
            if (aRate != bRate) return aRate < bRate;
            // Two blocks of one run of free blocks that fit alike: the run is most likely one piece of the
            // file, which the earlier one opens. A later one fits as well where the stream repeats itself
            // (runs of like records), and taking it would leave the blocks before it out.
            if (a.run == b.run) return a.block < b.block;
            return NearerOnDisk(a.block, b.block, last);
        });
        frame.pathLength = path_.size();
        frame.lastBlock = path_.back();
        return true;
    }

    SearchContext& context_;
    BlockSource& blocks_;
    const int32_t b_;
    std::vector<int32_t> path_;
    std::vector<uint8_t> used_;
    size_t maxBlocks_ = 0;
    StreamCursor cursor_;
    std::vector<Frame> stack_;
    std::vector<uint8_t> held_;  // a block kept while the one after it is read
    size_t deadEnd_ = 0;               // chain length at the latest dead end
    std::vector<int32_t> unlikely_;    // a whole stream that leaves too much of the file unexplained
    // Where blocks are small, the document's own sectors the header names, sorted; true for the
    // directory's first.
    std::vector<std::pair<uint32_t, bool>> containerSectors_;
    // Blocks after a candidate on disk tried to rank it: where blocks are small, enough to cover
    // kLookAheadBytes, as small blocks show little each and pieces run over more of them.
    const int32_t lookAheadBlocks_ = std::max<int32_t>(StreamWalkSearch::kLookAheadBlocks,
                                                       int32_t(StreamWalkSearch::kLookAheadBytes / std::max(b_, 1)));
    Next next_ = Next::Advance;
    bool found_ = false;
    uint64_t scans_ = 0;
    size_t results_ = 0;  // results the context held before this search
};

}  // namespace

void StreamWalkSearch::Run(SearchContext& context, const std::vector<int32_t>& chain,
                           std::span<const uint8_t> streamBytes) {
    if (chain.empty() || streamBytes.empty() || context.blocks.BlockBytes() <= 0) return;
    StreamCursor cursor;
    const auto seeded = FeedBlock(StreamCursor {}, streamBytes, StreamCursor::Judging {false, nullptr}, cursor);
    if (seeded == StreamCursor::Result::Fails || !AgreesWithStreamSize(cursor, seeded, context.streamSize)) return;
    Walk walk(context, chain);
    walk.Run(std::move(cursor), seeded);
}

}  // namespace tabulon
