#include "fragment/workbook_stream_seed.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "common/little_endian.h"
#include "fragment/block_source.h"
#include "fragment/compound_layout.h"

namespace tabulon {
namespace {

constexpr uint8_t kSignature[4] = {0xD0, 0xCF, 0x11, 0xE0};
constexpr uint8_t kBof[4] = {0x09, 0x08, 0x10, 0x00};
// A BIFF8 BOF record that opens workbook globals: version 0x0600, substream type 0x0005.
constexpr uint8_t kGlobalsBof[8] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00};
constexpr uint32_t kMaxDirectorySectors = 64;  // the workbook entry is near the directory's start
constexpr int32_t kMaxSeedBlocks = 4096;       // blocks from the document's first to the stream's
constexpr size_t kMaxOtherStarts = 4;          // further blocks that may hold a stream's start found anywhere

bool HasAt(std::span<const uint8_t> data, size_t offset, const uint8_t* bytes, size_t count) {
    return data.size() >= offset + count && std::memcmp(data.data() + offset, bytes, count) == 0;
}
bool HasAt(std::span<const uint8_t> data, size_t offset, const uint8_t (&bytes)[4]) {
    return HasAt(data, offset, bytes, 4);
}

// Block `index` without the bytes the source offers after it (the next sector in direct mode, a few bytes
// in memory), so that what is found in a block does not depend on the mode.
std::span<const uint8_t> OwnBytes(BlockSource& blocks, int32_t index) {
    const auto data = blocks.GetBlock(index);
    return data.first(std::min(data.size(), size_t(std::max(blocks.BlockBytes(), 0))));
}

bool StartsWithBof(BlockSource& blocks, int32_t index) { return HasAt(OwnBytes(blocks, index), 0, kBof); }

struct StreamStart {
    int32_t block = -1;
    int32_t offset = 0;
    // File clusters before the stream's block, taken to follow block g on disk; -1 when the stream's
    // block itself does (block - g of them).
    int32_t clustersBefore = -1;
};

// The places where a compound document puts its workbook stream when that is its first stream.
StreamStart AtFixedPlaces(BlockSource& blocks, int32_t g, int32_t sectorsPerBlock) {
    if (sectorsPerBlock == 1) {
        if (StartsWithBof(blocks, g + 1)) return {g + 1, 0};
        if (StartsWithBof(blocks, g + 3)) return {g + 3, 0};
    } else if (sectorsPerBlock == 2) {
        if (HasAt(OwnBytes(blocks, g), 512, kBof)) return {g, 512};
        if (HasAt(OwnBytes(blocks, g + 1), 512, kBof)) return {g + 1, 512};
    } else {
        const auto first = OwnBytes(blocks, g);
        if (HasAt(first, 512, kBof)) return {g, 512};
        if (HasAt(first, 1536, kBof)) return {g, 1536};
    }
    return {};
}

// The document's bytes read as if it lay contiguously from block g, as its first piece does.
class ContiguousView {
public:
    ContiguousView(BlockSource& blocks, int32_t g) : blocks_(blocks), g_(g), b_(blocks.BlockBytes()) {}

    // The block holding file offset `offset`; -1 past the source's end.
    int32_t BlockAt(uint64_t offset) const {
        const uint64_t block = uint64_t(g_) + offset / uint64_t(b_);
        return block < uint64_t(blocks_.BlockCount()) ? int32_t(block) : -1;
    }

    // Copies `out.size()` bytes from `offset`, which must not cross a 512-byte boundary.
    bool Read(uint64_t offset, std::span<uint8_t> out) {
        const int32_t block = BlockAt(offset);
        if (block < 0) return false;
        const auto data = blocks_.GetBlock(block);
        const size_t at = size_t(offset % uint64_t(b_));
        if (data.size() < size_t(b_) || at + out.size() > size_t(b_)) return false;
        std::copy_n(data.begin() + long(at), out.size(), out.begin());
        return true;
    }

private:
    BlockSource& blocks_;
    const int32_t g_;
    const int32_t b_;
};

// The workbook stream's start as the directory gives it, the directory and the stream's first sector
// being read where a contiguous document puts them.
StreamStart ThroughDirectory(BlockSource& blocks, int32_t g) {
    const auto first = blocks.GetBlock(g);
    std::array<uint8_t, 512> header {};
    if (first.size() < header.size()) return {};
    std::copy_n(first.begin(), header.size(), header.begin());
    CompoundLayout layout;
    if (!ReadCompoundLayout(header, layout)) return {};

    ContiguousView view(blocks, g);
    const uint32_t entriesPerSector = layout.sectorBytes / kCompoundEntryBytes;
    uint32_t sector = layout.firstDirectorySector;
    std::array<uint8_t, kCompoundEntryBytes> entry {};
    for (uint32_t visited = 0; visited < kMaxDirectorySectors; ++visited) {
        for (uint32_t i = 0; i < entriesPerSector; ++i) {
            if (!view.Read(layout.OffsetOf(sector) + uint64_t(i) * kCompoundEntryBytes, entry)) return {};
            CompoundEntry parsed;
            if (!IsDirectoryRun(entry, visited == 0 && i == 0) || !ReadCompoundEntry(entry, parsed)) return {};
            if (!IsWorkbookStreamEntry(entry, parsed) || parsed.size < layout.miniStreamCutoff) continue;
            const uint64_t offset = layout.OffsetOf(parsed.startSector);
            const int32_t block = view.BlockAt(offset);
            const int32_t within = int32_t(offset % uint64_t(blocks.BlockBytes()));
            if (block < 0 || !HasAt(blocks.GetBlock(block), size_t(within), kBof)) return {};
            return {block, within};
        }
        // The next directory sector, from the allocation table sector that covers this one.
        const uint32_t fatIndex = sector / layout.EntriesPerSector();
        if (fatIndex >= CompoundLayout::kHeaderFatEntries || fatIndex >= layout.fatSectorCount) return {};
        std::array<uint8_t, 4> next {};
        const uint64_t at = layout.OffsetOf(layout.headerFatSectors[fatIndex]) + 4 * uint64_t(sector % layout.EntriesPerSector());
        if (!view.Read(at, next)) return {};
        sector = LoadU32(next.data());
        if (sector >= kCompoundDifatSector) return {};
    }
    return {};
}

// A workbook-globals BOF at a sector boundary of block g after the header: the stream follows a small
// one in the document's first block, whose directory lies in a piece of its own.
StreamStart InFirstBlock(BlockSource& blocks, int32_t g) {
    const auto first = OwnBytes(blocks, g);
    for (size_t at = 512; at + 512 <= first.size(); at += 512)
        if (HasAt(first, at, kGlobalsBof, sizeof kGlobalsBof)) return {g, int32_t(at)};
    return {};
}

// The workbook stream's entry in the directory's first sector: in block g, which surely is the document's
// own, or in a later block where a contiguous first piece puts it, when it opens with the root entry as
// a directory does (a block of anything else does not).
struct EntryInFirstPiece {
    bool found = false;
    uint32_t startSector = 0;
    uint32_t size = 0;
    uint64_t startOffset = 0;  // in the file
};

EntryInFirstPiece WorkbookEntryInFirstPiece(BlockSource& blocks, int32_t g) {
    const auto first = blocks.GetBlock(g);
    CompoundLayout layout;
    if (first.size() < 512 || !ReadCompoundLayout(first.first(512), layout)) return {};
    if (layout.firstDirectorySector >= kCompoundDifatSector) return {};
    const uint64_t directory = layout.OffsetOf(layout.firstDirectorySector);
    std::vector<uint8_t> sector(layout.sectorBytes);
    ContiguousView view(blocks, g);
    for (size_t at = 0; at < sector.size(); at += kCompoundEntryBytes)
        if (!view.Read(directory + at, std::span(sector).subspan(at, kCompoundEntryBytes))) return {};
    if (directory + layout.sectorBytes > uint64_t(blocks.BlockBytes()) && !IsDirectoryRun(sector, true)) return {};
    for (size_t at = 0; at < sector.size(); at += kCompoundEntryBytes) {
        const auto entry = std::span<const uint8_t>(sector).subspan(at, kCompoundEntryBytes);
        CompoundEntry parsed;
        if (!ReadCompoundEntry(entry, parsed)) return {};
        if (IsWorkbookStreamEntry(entry, parsed) && parsed.size >= layout.miniStreamCutoff && parsed.startSector < kCompoundDifatSector)
            return {true, parsed.startSector, parsed.size, layout.OffsetOf(parsed.startSector)};
    }
    return {};
}

// The stream's start where the directory in the first piece puts it, in a block of its own that may lie
// anywhere: the first pieces of the document may break before it. Its block holds a workbook-globals BOF
// at the offset the start sector gives; the nearest such block after g is taken, block g + k itself
// first, and the next few are kept for the search to try when the stream cannot be followed from it
// (another document's stream, whose pieces also broke before its start, may begin at the same offset).
// A block that opens with the compound-document signature is another document's first block: it is
// passed over.
StreamStart AnywhereThroughFirstPiece(BlockSource& blocks, int32_t g, const EntryInFirstPiece& entry,
                                      std::vector<int32_t>& others) {
    const int32_t b = blocks.BlockBytes();
    if (!entry.found || entry.startOffset < uint64_t(b)) return {};
    const uint64_t k = entry.startOffset / uint64_t(b);
    const size_t within = size_t(entry.startOffset % uint64_t(b));
    if (k >= uint64_t(kMaxSeedBlocks) || within + sizeof kGlobalsBof > size_t(b)) return {};
    const int32_t count = blocks.BlockCount();
    const int32_t expected = g + int32_t(k);
    if (expected < count && HasAt(blocks.GetBlock(expected), within, kGlobalsBof, sizeof kGlobalsBof))
        return {expected, int32_t(within), -1};
    StreamStart start;
    for (int32_t n = 1; n < count - 2 && others.size() < kMaxOtherStarts; ++n) {
        const int32_t index = 2 + (g - 2 + n) % (count - 2);
        if (index >= g && index <= expected) continue;  // the blocks the contiguous view takes
        const auto data = blocks.GetBlock(index);
        if (!HasAt(data, within, kGlobalsBof, sizeof kGlobalsBof) || HasAt(data, 0, kSignature)) continue;
        if (start.block < 0)
            start = {index, int32_t(within), int32_t(k)};
        else
            others.push_back(index);
    }
    return start;
}

// The stream's opening where the document's allocation table, read in its first piece, shows that the
// stream's first sectors do not lie in stream order: writers that rewrite a stream's start put it after
// sectors that come later in the stream (sectors 11..19 first, then 3..10, then on from 20). Followed
// from the stream's start, after a step back the chain must reach a sector beyond every one before it,
// from which it runs in order to its block's end: from there on the stream lies block after block again,
// as the search follows it. The opening's sectors in stream order go to `bytes`; `lastBlock` is the last
// block they take, counted from the document's first. False where the chain runs in order, or where the
// table or the handover is not found within the first kMaxOpeningBlocks blocks (kMaxOpeningBytes at least).
bool OutOfOrderOpening(BlockSource& blocks, int32_t g, const CompoundLayout& layout, uint32_t startSector,
                       std::vector<uint8_t>& bytes, int32_t& lastBlock) {
    constexpr uint64_t kMaxOpeningBlocks = 16, kMaxOpeningBytes = 65536;
    const uint64_t b = uint64_t(blocks.BlockBytes());
    const uint64_t limit = std::max(kMaxOpeningBlocks * b, kMaxOpeningBytes), s = layout.sectorBytes;
    if (s != 512) return false;  // a 4096-byte sector fills a block of its own at most cluster sizes
    ContiguousView view(blocks, g);
    const auto next = [&](uint32_t sector, uint32_t& value) {
        const uint32_t index = sector / layout.EntriesPerSector();
        if (index >= CompoundLayout::kHeaderFatEntries || index >= layout.fatSectorCount) return false;
        const uint64_t at = layout.OffsetOf(layout.headerFatSectors[index]) + 4 * uint64_t(sector % layout.EntriesPerSector());
        std::array<uint8_t, 4> entry {};
        if (at + 4 > limit || !view.Read(at, entry)) return false;
        value = LoadU32(entry.data());
        return true;
    };
    std::vector<uint32_t> opening;
    uint64_t highest = 0;  // one past the furthest byte of the opening's sectors
    bool backwards = false;
    for (uint32_t sector = startSector; opening.size() < limit / s;) {
        const uint64_t offset = layout.OffsetOf(sector);
        if (offset + s > limit) return false;
        if (backwards && offset >= highest) {
            // The handover: the chain runs on in order to the end of this block, which the opening takes.
            const uint64_t blockEnd = (offset / b + 1) * b;
            for (uint64_t at = offset; at < blockEnd; at += s, ++sector) {
                opening.push_back(sector);
                uint32_t following = 0;
                if (at + s < blockEnd && (!next(sector, following) || following != sector + 1)) return false;
            }
            lastBlock = int32_t(offset / b);
            if (offset % b == 0) {  // a block boundary: the search takes the block as the stream's next
                opening.resize(opening.size() - size_t(b / s));
                --lastBlock;
            }
            bytes.assign(opening.size() * s, 0);
            for (size_t i = 0; i < opening.size(); ++i)
                if (!view.Read(layout.OffsetOf(opening[i]), std::span(bytes).subspan(i * s, s))) return false;
            return true;
        }
        // Only a step back marks the opening out of order: a step forward passes over the table's own
        // sectors inside the stream's run, which the search passes over itself.
        if (!opening.empty() && sector < opening.back()) backwards = true;
        opening.push_back(sector);
        highest = std::max(highest, offset + s);
        if (!next(sector, sector) || sector >= kCompoundDifatSector) return false;
    }
    return false;
}

}  // namespace

bool FindWorkbookStreamSeed(BlockSource& blocks, int32_t g, int32_t sectorsPerBlock, WorkbookStreamSeed& out) {
    out = WorkbookStreamSeed {};
    const int32_t b = blocks.BlockBytes();
    if (g < 2 || sectorsPerBlock < 1 || b != sectorsPerBlock * 512) return false;
    if (!HasAt(blocks.GetBlock(g), 0, kSignature)) return false;

    const EntryInFirstPiece entry = WorkbookEntryInFirstPiece(blocks, g);
    StreamStart start = AtFixedPlaces(blocks, g, sectorsPerBlock);
    if (start.block < 0) start = ThroughDirectory(blocks, g);
    if (start.block < 0) start = InFirstBlock(blocks, g);
    std::vector<int32_t> otherStarts;
    if (start.block < 0) start = AnywhereThroughFirstPiece(blocks, g, entry, otherStarts);
    if (start.clustersBefore < 0) start.clustersBefore = start.block - g;
    if (start.block < 0 || start.clustersBefore < 0 || start.clustersBefore >= kMaxSeedBlocks) return false;
    out.streamSize = entry.found ? entry.size : 0;

    // A stream whose opening sectors lie out of order in a contiguous first piece starts with them (its
    // start sector is where the piece puts the start).
    std::vector<uint8_t> opening;
    int32_t openingEnd = 0;
    CompoundLayout layout;
    const auto first = blocks.GetBlock(g);
    const uint64_t startOffset = uint64_t(start.clustersBefore) * uint64_t(b) + uint64_t(start.offset);
    if (start.block == g + start.clustersBefore && startOffset >= 512 && startOffset % 512 == 0 && first.size() >= 512 &&
        ReadCompoundLayout(first.first(512), layout) &&
        OutOfOrderOpening(blocks, g, layout, uint32_t(startOffset / 512 - 1), opening, openingEnd) &&
        openingEnd >= start.clustersBefore && g + openingEnd < blocks.BlockCount()) {
        for (int32_t k = 0; k <= openingEnd; ++k) out.chain.Append(g + k);
        const auto last = blocks.GetBlock(g + openingEnd);
        if (last.size() < size_t(b)) return false;
        out.data = std::move(opening);
        out.length = int32_t(out.data.size());
        out.data.insert(out.data.end(), last.begin() + b, last.end());  // the bytes the source adds
        out.streamBlock = g + openingEnd;
        return true;
    }

    for (int32_t k = 0; k < start.clustersBefore; ++k) out.chain.Append(g + k);
    out.chain.Append(start.block);
    out.otherStreamBlocks = std::move(otherStarts);
    // Read last, so that the data stay valid whatever the source keeps of earlier reads.
    const auto data = blocks.GetBlock(start.block);
    if (data.size() < size_t(b)) return false;
    out.data.assign(data.begin() + start.offset, data.end());
    out.length = b - start.offset;
    out.streamBlock = start.block;
    return true;
}

bool ReseedAt(BlockSource& blocks, const WorkbookStreamSeed& seed, int32_t block, WorkbookStreamSeed& out) {
    const int32_t b = blocks.BlockBytes();
    if (seed.chain.blocks.empty() || seed.length <= 0 || seed.length > b) return false;
    const auto data = blocks.GetBlock(block);
    if (data.size() < size_t(b)) return false;
    out = WorkbookStreamSeed {};
    for (size_t k = 0; k + 1 < seed.chain.blocks.size(); ++k) out.chain.Append(seed.chain.blocks[k]);
    out.chain.Append(block);
    out.data.assign(data.begin() + (b - seed.length), data.end());
    out.length = seed.length;
    out.streamBlock = block;
    out.streamSize = seed.streamSize;
    return true;
}

}  // namespace tabulon
