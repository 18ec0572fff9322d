#include "fragment/fragment_assembler.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/little_endian.h"
#include "fragment/block_classification.h"
#include "fragment/block_source.h"
#include "fragment/record_succession_table.h"
#include "fragment/record_type_codes.h"
#include "fragment/record_type_names.h"

namespace tabulon {
namespace {

// The search runs on an explicit stack rather than by recursion: a chain may be thousands of steps
// deep, and a worker thread's stack is small. Each frame holds the candidates one step produced and the
// parent's last record type, which decides which of them are followed.
// How the parent's last record looks from one candidate block: normally the parent's own view, but a
// record cut by the parent's block end is completed with the candidate's first bytes.
struct ParentView {
    uint16_t lastType = 0;
    uint16_t lastRow = 0, lastColumn = 0;
    int32_t entryOffset = 0;
    bool takesParentKeys = true;
};

struct Frame {
    std::vector<ChainNode> candidates;
    std::vector<ParentView> views;  // one per candidate
    size_t next = 0;
};

// A candidate is first built as the parent's extension only (its new blocks and the key sets of the
// block that was classified); it gets the parent's blocks and keys once it survived filtering.
class Step {
public:
    Step(SearchContext& context, ChainNode& parent)
        : context_(context), table_(context.table), blocks_(context.blocks), n_(parent),
          b_(context.blocks.BlockBytes()) {}

    // Steps 1 to 5 of one extension: the candidates for the block after the parent, filtered and
    // ordered, in `frame`. False when the step ends without candidates to follow.
    bool Run(bool tryAllBlocks, Frame& frame);

private:
    bool NaturalContinuation(std::vector<ChainNode>& candidates, std::vector<ParentView>& views);
    void ScanAllBlocks(std::vector<ChainNode>& candidates, std::vector<ParentView>& views);
    bool FinishScanChild(ChainNode& child, std::span<const uint8_t> data, const LastRecord& last, int32_t& scanIndex);
    bool FindMissingBlocks(int32_t entryBlock, StreamLandmarks& landmarks, std::vector<int32_t>& missing);
    ParentView ViewFrom(std::span<const uint8_t> data) const;
    void Filter(std::vector<ChainNode>& candidates, std::vector<ParentView>& views);
    void Order(std::vector<ChainNode>& candidates, std::vector<ParentView>& views);
    void BreakTies(std::vector<ChainNode>& candidates, std::vector<ParentView>& views);
    void Complete(std::vector<ChainNode>& candidates, const std::vector<ParentView>& views);

    ChainNode Extension(const BlockProfile& scratch, std::span<const uint8_t> entryData, int32_t entryOffset) const;
    void SetLast(ChainNode& child, std::span<const uint8_t> data, const LastRecord& last) const;
    ParentView OwnView() const { return {n_.lastType, n_.lastRow, n_.lastColumn, n_.nextOffset, true}; }
    int64_t Over(const LastRecord& last) const {
        return int64_t(table_.LengthOf(last.type, last.length, last.position, b_)) + last.position + 4 - b_;
    }
    size_t TotalBlocks(const ChainNode& child) const { return n_.blocks.size() + child.blocks.size(); }
    // A chain whose stream does not end in its blocks needs more bytes than the file's recorded size.
    bool ExceedsSize(const ChainNode& child) const {
        return context_.sizeLimit != 0 &&
               context_.sizeLimit < uint64_t(b_) * (TotalBlocks(child) + uint64_t(child.missingBlocks));
    }
    void Report(const ChainNode& child, bool withTwoTrailingBlocks);

    SearchContext& context_;
    const RecordSuccessionTable& table_;
    BlockSource& blocks_;
    ChainNode& n_;
    const int32_t b_;
};

uint16_t TypeAt(std::span<const uint8_t> data, int64_t offset) {
    if (offset < 0 || size_t(offset) + 2 > data.size()) return 0;
    return LoadU16(data.data() + offset);
}

bool EndsStream(uint16_t type) {
    return type == record_type::kEof || IsFiller(type) || !RecordTypeNames::IsKnown(type);
}

// C-style division and remainder of a signed value by the block size, as the offsets are defined.
int64_t Quotient(int64_t over, int32_t b) { return over / b; }
int32_t Remainder(int64_t over, int32_t b) { return int32_t(over % b); }

// Takes the blocks after `newest` on disk that the last record's body covers, `span` of them, into
// `taken`. Where the record is the shared-string table each block is judged by its strings, and the first
// one that does not fit ends the run: the rest are left missing. Any other body cannot be judged and is
// taken as it lies.
template <typename Uses>
int32_t TakeCoveredBlocks(BlockSource& blocks, StreamLandmarks& landmarks, int32_t newest, int64_t span, int32_t b,
                          Uses uses, std::vector<int32_t>& taken) {
    for (int64_t j = 1; j <= span; ++j) {
        const int32_t block = int32_t(newest + j);
        if (landmarks.JudgesBody()) {
            if (uses(block)) return int32_t(span - j + 1);
            const auto data = blocks.GetBlock(block);
            StreamLandmarks trial = landmarks;
            if (data.empty() || !trial.FollowBody(data, b)) return int32_t(span - j + 1);
            landmarks = std::move(trial);
        }
        taken.push_back(block);
    }
    return 0;
}

ChainNode Step::Extension(const BlockProfile& scratch, std::span<const uint8_t> entryData, int32_t entryOffset) const {
    ChainNode child;
    child.profile = scratch;
    child.landmarks = n_.landmarks;
    child.depth = n_.depth + 1;
    child.firstType = TypeAt(entryData, entryOffset);
    if (IsKeyedCellType(child.firstType)) {
        const CellKey key = KeyOf(entryData, size_t(entryOffset));
        child.firstRow = key.row;
        child.firstColumn = key.column;
    }
    return child;
}

void SetCut(ChainNode& node, std::span<const uint8_t> data, const LastRecord& last, int32_t blockEnd) {
    node.cutBytes = 0;
    const int32_t inBlock = blockEnd - last.position;
    if (IsFiller(last.type) || inBlock <= 0 || inBlock >= int32_t(node.cutRecord.size())) return;
    node.cutBytes = uint8_t(inBlock);
    for (int32_t k = 0; k < inBlock; ++k) node.cutRecord[size_t(k)] = data[size_t(last.position + k)];
}

void Step::SetLast(ChainNode& child, std::span<const uint8_t> data, const LastRecord& last) const {
    if (IsKeyedCellType(last.type)) {
        const CellKey key = KeyOf(data, size_t(last.position));
        child.lastRow = key.row;
        child.lastColumn = key.column;
    }
    SetCut(child, data, last, b_);
}

ParentView Step::ViewFrom(std::span<const uint8_t> data) const {
    ParentView view = OwnView();
    const int32_t cut = n_.cutBytes;
    if (cut == 0) return view;
    // The cut record as it reads when `data` follows the parent's block.
    std::array<uint8_t, 8> record {};
    for (int32_t k = 0; k < 8; ++k)
        record[size_t(k)] = k < cut ? n_.cutRecord[size_t(k)] : (size_t(k - cut) < data.size() ? data[size_t(k - cut)] : 0);
    const uint16_t type = LoadU16(record.data());
    const int64_t entry = int64_t(LoadU16(record.data() + 2)) + 4 - cut;
    if (entry < 0 || entry + 2 > b_) return view;  // a record that runs on beyond this block: as the parent saw it
    view.lastType = type;
    view.entryOffset = int32_t(entry);
    view.lastRow = view.lastColumn = 0;
    if (IsKeyedCellType(type)) {
        view.lastRow = LoadU16(record.data() + 4);
        view.lastColumn = LoadU16(record.data() + 6);
    }
    return view;
}

void Step::Report(const ChainNode& child, bool withTwoTrailingBlocks) {
    std::vector<int32_t> chain = n_.blocks;
    chain.insert(chain.end(), child.blocks.begin(), child.blocks.end());
    if (withTwoTrailingBlocks && !chain.empty()) {
        // The container's tail (allocation tables, directory) usually follows the stream's last block.
        const int32_t last = chain.back();
        chain.push_back(last + 1);
        chain.push_back(last + 2);
    }
    context_.AddResult(chain);
}

bool Step::NaturalContinuation(std::vector<ChainNode>& candidates, std::vector<ParentView>& views) {
    if (n_.missingBlocks > 0) return false;  // the block after the chain on disk is known not to fit
    int32_t c = n_.nextBlock;
    if (n_.Uses(c)) return false;
    const auto data = blocks_.GetBlock(c);
    if (data.empty()) return false;
    if (n_.nextOffset < 0 || b_ < n_.nextOffset + 2) return true;  // no valid entry offset: the step ends
    // A record cut by the parent's block end reads on in this block, as in the scan.
    const ParentView view = ViewFrom(data);
    const int32_t e = view.entryOffset;
    if (!table_.MayFollow(view.lastType, TypeAt(data, e))) return false;
    BlockProfile scratch = n_.profile.ScratchCopy();
    LastRecord last;
    if (!ClassifyBlock(data, e, b_, scratch, last)) return false;

    ChainNode child = Extension(scratch, data, e);
    if (!child.landmarks.Follow(data, e, b_, n_.streamPosition)) return false;
    child.blocks.push_back(c);
    SetLast(child, data, last);
    const int64_t over = Over(last);
    child.nextOffset = Remainder(over, b_);
    const int64_t span = Quotient(over, b_);
    if (EndsStream(last.type) && IsComplete(child.profile)) {
        Report(child, true);
        return true;
    }
    if (span > FragmentAssembler::kMaxSpanBlocks) return true;
    const size_t before = child.blocks.size();
    child.missingBlocks = TakeCoveredBlocks(blocks_, child.landmarks, c, span, b_,
                                            [&](int32_t block) { return n_.Uses(block); }, child.blocks);
    c += int32_t(child.blocks.size() - before);
    child.nextBlock = c + 1;
    if (ExceedsSize(child)) {
        // The stream goes on beyond the blocks the file can have: whatever follows, it is not this file.
        if (IsComplete(child.profile)) Report(child, false);
        return true;
    }
    if (TotalBlocks(child) <= FragmentAssembler::kMaxChainBlocks || !IsComplete(child.profile)) {
        child.lastType = last.type;
        candidates.push_back(std::move(child));
        views.push_back(view);
        return true;
    }
    Report(child, false);
    return true;
}

bool Step::FinishScanChild(ChainNode& child, std::span<const uint8_t> data, const LastRecord& last,
                           int32_t& scanIndex) {
    SetLast(child, data, last);
    if (EndsStream(last.type) && IsComplete(child.profile)) {
        Report(child, true);
        return false;
    }
    if (IsFiller(last.type)) return false;
    const int64_t over = Over(last);
    const int64_t span = Quotient(over, b_);
    if (span > FragmentAssembler::kMaxSpanBlocks) return false;
    const int32_t newest = child.blocks.back();
    const size_t before = child.blocks.size();
    child.missingBlocks = TakeCoveredBlocks(
        blocks_, child.landmarks, newest, span, b_,
        [&](int32_t block) { return n_.Uses(block) || std::find(child.blocks.begin(), child.blocks.end(), block) != child.blocks.end(); },
        child.blocks);
    const int32_t takenSpan = int32_t(child.blocks.size() - before);
    scanIndex += takenSpan;
    if (TotalBlocks(child) > FragmentAssembler::kMaxChainBlocks || ExceedsSize(child)) {
        if (IsComplete(child.profile)) Report(child, false);
        return false;
    }
    child.nextBlock += takenSpan;
    child.nextOffset = Remainder(over, b_);
    child.lastType = last.type;
    return child.nextOffset >= 0 && child.nextOffset + 2 <= b_;
}

bool Step::FindMissingBlocks(int32_t entryBlock, StreamLandmarks& landmarks, std::vector<int32_t>& missing) {
    for (int32_t block = entryBlock - n_.missingBlocks; block < entryBlock; ++block) {
        if (block < 2 || n_.Uses(block)) return false;
        const auto data = blocks_.GetBlock(block);
        if (data.empty() || !landmarks.FollowBody(data, b_)) return false;
        missing.push_back(block);
    }
    return true;
}

void Step::ScanAllBlocks(std::vector<ChainNode>& candidates, std::vector<ParentView>& views) {
    const int32_t count = blocks_.BlockCount();
    for (int32_t i = 0; i < count && !context_.StopRequested(); ++i) {
        if (n_.Uses(i)) continue;
        auto data = blocks_.GetBlock(i);
        if (data.empty()) continue;
        if (b_ < n_.nextOffset) return;
        if (n_.nextOffset < 0 || b_ < n_.nextOffset + 2) return;
        const ParentView view = ViewFrom(data);
        const int32_t e = view.entryOffset;
        if (!table_.MayFollow(view.lastType, TypeAt(data, e))) continue;

        BlockProfile scratch = n_.profile.ScratchCopy();
        LastRecord last;
        if (ClassifyBlock(data, e, b_, scratch, last)) {
            std::vector<int32_t> missing;
            StreamLandmarks landmarks = n_.landmarks;
            if (n_.missingBlocks > 0) {
                // The blocks just before i must hold the rest of the parent's last record.
                if (!FindMissingBlocks(i, landmarks, missing)) continue;
                data = blocks_.GetBlock(i);
                if (data.empty()) continue;
            }
            ChainNode child = Extension(scratch, data, e);
            child.landmarks = std::move(landmarks);
            if (!child.landmarks.Follow(data, e, b_, n_.streamPosition + int64_t(b_) * n_.missingBlocks)) continue;
            child.blocks = std::move(missing);
            child.blocks.push_back(i);
            child.nextBlock = i + 1;
            if (FinishScanChild(child, data, last, i)) {
                candidates.push_back(std::move(child));
                views.push_back(view);
            }
            continue;
        }
        if (IsFiller(last.type) || n_.missingBlocks > 0) continue;

        // The walk stopped at a record that may be long enough to run through whole blocks: try the block
        // where it would end, entered where the record ends.
        const int64_t over = Over(last);
        const int64_t span = Quotient(over, b_);
        const int32_t off = Remainder(over, b_);
        if (span > FragmentAssembler::kMaxSpanBlocks || off < 0 || off > b_) continue;
        const int64_t k = int64_t(i) + span + 1;
        if (k >= count || n_.Uses(int32_t(k))) continue;
        // The entry record of block i gives the child's first type and cell; take them before reading k,
        // which may replace the data of block i.
        ChainNode child = Extension(BlockProfile {}, data, e);
        // The walk of block i reaches the long record and jumps with it beyond the block.
        if (!child.landmarks.Follow(data, e, b_, n_.streamPosition)) continue;
        auto kData = blocks_.GetBlock(int32_t(k));
        if (kData.empty()) continue;
        BlockProfile kScratch = n_.profile.ScratchCopy();
        LastRecord kLast;
        if (!ClassifyBlock(kData, off, b_, kScratch, kLast)) continue;
        if (!child.landmarks.Follow(kData, off, b_, n_.streamPosition + (span + 1) * b_)) continue;
        child.profile = std::move(kScratch);
        for (int64_t j = 0; j <= span; ++j) child.blocks.push_back(int32_t(i + j));
        // Block k holds the end of the long record and the records after it, so it joins the chain.
        child.blocks.push_back(int32_t(k));
        child.nextBlock = int32_t(k) + 1;
        i += int32_t(span);
        if (FinishScanChild(child, kData, kLast, i)) {
            candidates.push_back(std::move(child));
            views.push_back(view);
        }
    }
}

void Step::Filter(std::vector<ChainNode>& candidates, std::vector<ParentView>& views) {
    for (size_t j = candidates.size(); j-- > 0;) {
        BlockProfile& profile = candidates[j].profile;
        if (profile.sheetStarted) {
            // A new sheet began in this block: its rows may repeat the previous sheet's, and its key sets
            // hold the new sheet's keys only.
            profile.sheetStarted = false;
            views[j].takesParentKeys = false;
            continue;
        }
        if (profile.rowKeys.Intersects(n_.profile.rowKeys) || profile.cellKeys.Intersects(n_.profile.cellKeys)) {
            // The block repeats rows or cells the chain already has: another file, or another copy.
            candidates.erase(candidates.begin() + long(j));
            views.erase(views.begin() + long(j));
        }
    }
}

void Step::Order(std::vector<ChainNode>& candidates, std::vector<ParentView>& views) {
    bool keyedParent = false;
    for (const ParentView& view : views) keyedParent = keyedParent || IsKeyedCellType(view.lastType);
    if (!keyedParent) return;
    auto swap = [&](size_t a, size_t b) {
        std::swap(candidates[a], candidates[b]);
        std::swap(views[a], views[b]);
    };
    const size_t count = candidates.size();
    for (size_t j = 0; j < count; ++j) {
        if (IsKeyedCellType(candidates[j].firstType)) continue;
        for (size_t k = j + 1; k < count; ++k)
            if (IsKeyedCellType(candidates[k].firstType)) {
                swap(j, k);
                break;
            }
    }
    for (size_t j = 0; j < count; ++j) {
        ChainNode& candidate = candidates[j];
        if (!IsKeyedCellType(candidate.firstType) || !IsKeyedCellType(views[j].lastType)) continue;
        const int32_t lastRow = views[j].lastRow, lastColumn = views[j].lastColumn;
        const int32_t row = candidate.firstRow, column = candidate.firstColumn;
        if ((row == lastRow + 1 && column == lastColumn) || (row == lastRow && column == lastColumn + 1))
            candidate.score = 3;  // the next cell down or to the right
        else if (row == lastRow + 1 && column == 0)
            candidate.score = 2;  // the start of the next row
        else if (lastRow != 0 && lastColumn == 0 && column == 0)
            candidate.score = 1;
    }
    for (size_t j = 0; j < count; ++j)
        for (size_t k = j + 1; k < count; ++k)
            if (candidates[k].score > candidates[j].score) swap(j, k);
}

// How far a candidate's first cell lies beyond the chain's last cell, in rows, then columns: the
// next cell of the same sheet is the nearest one. Candidates without a cell, or continuing no cell,
// come last among their equals.
uint64_t CellDistance(const StreamLandmarks& parent, const ChainNode& candidate) {
    const int32_t row = candidate.landmarks.BlockFirstCellRow();
    const int32_t lastRow = parent.LastCellRow();
    if (row < 0 || lastRow < 0 || row < lastRow) return UINT64_MAX;
    const int32_t column = candidate.landmarks.BlockFirstCellColumn();
    const int32_t columnGap = row == lastRow ? column - parent.LastCellColumn() : column;
    return (uint64_t(row - lastRow) << 32) | uint32_t(std::max(columnGap, 0));
}

void Step::BreakTies(std::vector<ChainNode>& candidates, std::vector<ParentView>& views) {
    // Candidates of equal rank (score, and keyed cell first where the parent ends in a keyed cell) are
    // tried nearest cell first: a sheet's cells come row by row, so among blocks that fit equally well
    // the one that continues closest to where the chain stopped is most likely the file's own.
    const size_t count = candidates.size();
    if (count < 2) return;
    bool keyedParent = false;
    for (const ParentView& view : views) keyedParent = keyedParent || IsKeyedCellType(view.lastType);
    std::vector<size_t> order(count);
    std::vector<uint64_t> distance(count);
    for (size_t j = 0; j < count; ++j) {
        order[j] = j;
        distance[j] = CellDistance(n_.landmarks, candidates[j]);
    }
    auto rank = [&](size_t j) { return keyedParent && !IsKeyedCellType(candidates[j].firstType) ? 1 : 0; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (candidates[a].score != candidates[b].score) return candidates[a].score > candidates[b].score;
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        return distance[a] < distance[b];
    });
    std::vector<ChainNode> sorted;
    std::vector<ParentView> sortedViews;
    sorted.reserve(count);
    sortedViews.reserve(count);
    for (size_t j : order) {
        sorted.push_back(std::move(candidates[j]));
        sortedViews.push_back(views[j]);
    }
    candidates = std::move(sorted);
    views = std::move(sortedViews);
}

void Step::Complete(std::vector<ChainNode>& candidates, const std::vector<ParentView>& views) {
    // Each candidate becomes a whole chain: the parent's blocks, then its own; the parent's keys join its
    // own. The last one takes the parent's containers instead of copying them.
    for (size_t j = 0; j < candidates.size(); ++j) {
        ChainNode& child = candidates[j];
        const bool last = j + 1 == candidates.size();
        std::vector<int32_t> own = std::move(child.blocks);
        child.streamPosition = n_.streamPosition + int64_t(b_) * int64_t(own.size());
        if (last) {
            child.blocks = std::move(n_.blocks);
            child.usedBlocks = std::move(n_.usedBlocks);
        } else {
            child.blocks = n_.blocks;
            child.usedBlocks = n_.usedBlocks;
        }
        for (int32_t block : own) child.Append(block);
        if (!views[j].takesParentKeys) continue;
        if (last) {
            KeySet rows = std::move(n_.profile.rowKeys), cells = std::move(n_.profile.cellKeys);
            rows.InsertAll(child.profile.rowKeys);
            cells.InsertAll(child.profile.cellKeys);
            child.profile.rowKeys = std::move(rows);
            child.profile.cellKeys = std::move(cells);
        } else {
            child.profile.rowKeys.InsertAll(n_.profile.rowKeys);
            child.profile.cellKeys.InsertAll(n_.profile.cellKeys);
        }
    }
}

bool Step::Run(bool tryAllBlocks, Frame& frame) {
    if (n_.depth > FragmentAssembler::kMaxDepth) return false;
    std::vector<ChainNode> candidates;
    std::vector<ParentView> views;
    if (!NaturalContinuation(candidates, views) && tryAllBlocks) ScanAllBlocks(candidates, views);
    if (candidates.empty()) return false;
    Filter(candidates, views);
    Order(candidates, views);
    BreakTies(candidates, views);
    if (candidates.empty()) return false;
    Complete(candidates, views);
    frame.candidates = std::move(candidates);
    frame.views = std::move(views);
    frame.next = 0;
    return true;
}

}  // namespace

void FragmentAssembler::Extend(SearchContext& context, ChainNode node, bool tryAllBlocks) {
    const int32_t b = context.blocks.BlockBytes();
    std::vector<Frame> stack;
    auto expand = [&](ChainNode&& parent) {
        ++context.steps;
        Frame frame;
        if (Step(context, parent).Run(tryAllBlocks, frame)) stack.push_back(std::move(frame));
    };
    expand(std::move(node));
    while (!stack.empty()) {
        if (context.StopRequested()) break;
        Frame& top = stack.back();
        if (top.next >= top.candidates.size()) {
            stack.pop_back();
            continue;
        }
        const uint16_t parentLastType = top.views[top.next].lastType;
        ChainNode candidate = std::move(top.candidates[top.next++]);
        if (b < candidate.nextOffset + 2) continue;
        if (!context.table.MayFollow(parentLastType, candidate.firstType)) continue;
        if (top.candidates.size() > 1 && candidate.score == 0 && IsKeyedCellType(parentLastType) &&
            IsKeyedCellType(candidate.firstType))
            continue;
        expand(std::move(candidate));  // may grow the stack: `top` is not used after this
    }
}

void FragmentAssembler::Seed(SearchContext& context, ChainNode seed, std::span<const uint8_t> seedData, int32_t n,
                             int32_t first) {
    const int32_t b = context.blocks.BlockBytes();
    if (n <= 0 || b <= 0) return;
    seed.profile = BlockProfile {};
    LastRecord last;
    if (!ClassifyBlock(seedData, 0, n, seed.profile, last)) return;
    const int64_t p = last.position;
    if (p == 0) return;
    if (IsKeyedCellType(last.type)) {
        const CellKey key = KeyOf(seedData, size_t(p));
        seed.lastRow = key.row;
        seed.lastColumn = key.column;
    }
    const int64_t span = (int64_t(last.length) + p + 4 - n) / b;
    if (span > kMaxSpanBlocks) return;
    // The seed is the file's own start: what it says is learnt, never judged.
    seed.landmarks = StreamLandmarks {};
    (void)seed.landmarks.Follow(seedData, 0, n, 0);
    std::vector<int32_t> covered;
    seed.missingBlocks = TakeCoveredBlocks(context.blocks, seed.landmarks, first, span, b,
                                           [&](int32_t block) { return seed.Uses(block); }, covered);
    for (int32_t block : covered) seed.Append(block);
    seed.lastType = last.type;
    seed.nextBlock = int32_t(first + int64_t(covered.size()) + 1);
    seed.nextOffset = int32_t((int64_t(context.table.LengthOf(last.type, last.length, p, n)) + p + 4 - n) % b);
    seed.profile.sheetStarted = false;
    seed.streamPosition = n + int64_t(covered.size()) * b;
    SetCut(seed, seedData, last, n);
    Extend(context, std::move(seed), true);
}

}  // namespace tabulon
