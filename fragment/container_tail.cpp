#include "fragment/container_tail.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "common/little_endian.h"
#include "fragment/block_source.h"
#include "fragment/block_store.h"
#include "fragment/compound_layout.h"

namespace tabulon {
namespace {

constexpr uint32_t kMaxDirectorySectors = 4096;
// Passes over all free blocks for one file: each costs a read of the whole free space in direct mode.
constexpr int kMaxFreeSpacePasses = 16;
// Each round places what the blocks placed before tell; a table or directory sector tells more.
constexpr int kMaxRounds = 8;
// A property set's header: byte order mark, format version, class id, section count, then per section
// a format id and an offset.
constexpr uint32_t kPropertySetHeaderBytes = 48;
// Bytes at each edge of a block compared when two blocks meet.
constexpr uint32_t kMaxLikeness = 1024;
// Entries for sectors inside the file that a table sector must hold before all of them free tells.
constexpr uint32_t kMinTableEntriesJudged = 4;

enum class SectorRole : uint8_t { Fat, Difat, Directory, PropertySetStart };

struct RoleOf {
    SectorRole role;
    uint32_t index;  // position in the allocation table, the DIFAT chain or the directory chain
};

// How a block's bytes compare with what is predicted for a file cluster.
struct Verdict {
    bool fits = true;    // no predicted structure broken and no predicted byte different
    uint32_t known = 0;  // bytes the prediction covered
};

class TailCompletion {
public:
    TailCompletion(BlockSource& blocks, const FreeNeighbours& free, const CompoundLayout& layout, uint64_t size,
                   std::vector<int32_t>& fileBlocks)
        : blocks_(blocks), free_(free), layout_(layout), list_(fileBlocks), b_(uint64_t(blocks.BlockBytes())),
          s_(layout.sectorBytes), perSector_(layout.EntriesPerSector()),
          fileSectors_(size > s_ ? uint32_t(std::min<uint64_t>((size - s_ + s_ - 1) / s_, 0xFFFFFFF0u)) : 0),
          clusters_(size_t((size + b_ - 1) / b_)), placed_(clusters_, -1) {
        // Blocks past the recorded size are no part of the file.
        for (size_t c = 0; c < fileBlocks.size() && c < clusters_; ++c) Place(c, fileBlocks[c]);
    }

    void Run() {
        const size_t taken = list_.size();
        const size_t found = std::min(taken, clusters_);
        GuessStreamFromSearch();
        // Where the header block's own directory puts the stream's start in a later cluster and the
        // stream's block does not lie where a contiguous first piece puts it, the file broke before the
        // stream: the clusters between were taken in disk order after the first block and may be wrong.
        size_t headEnd = StreamStartCluster();
        if (headEnd >= found || int64_t(placed_[headEnd]) == int64_t(placed_[0]) + int64_t(headEnd)) headEnd = 0;
        for (size_t c = 1; c < headEnd; ++c) head_.push_back(c);
        // A search result ends with the two blocks that follow the stream's last block on disk; the blocks
        // before them hold the stream the search followed and stay.
        for (size_t c = std::max({taken, size_t(3), headEnd + 2}) - 2; c < found; ++c) tentative_.push_back(c);
        for (int round = 0; round < kMaxRounds; ++round) {
            LearnRoles();
            const bool headDropped = DropDisagreeing(head_);
            const bool dropped = DropDisagreeing(tentative_) || headDropped;
            if (!PlacePredicted() && !dropped) break;
        }
        LearnRoles();
        // A head block that nothing predicts is weighed with the other runs when its gap is filled.
        for (const size_t c : head_)
            if (IsPlaced(c) && Evaluate(c, Unknown()).known == 0) Unplace(c);
        // A block taken after the stream that nothing predicts is no likelier than any other run: the gap
        // filling weighs it with the rest. Where the recorded size ends first the search takes fewer blocks
        // after the stream, so without the directory to tell where the stream ends, a full list may end
        // with stream blocks, which stay.
        for (const size_t c : tentative_) {
            const bool afterStream = streamKnown_ ? c * b_ >= layout_.OffsetOf(streamChainEnd_) + s_ : found < clusters_;
            if (afterStream && Evaluate(c, Unknown()).known == 0) Unplace(c);
        }
        FillGaps();
        list_.clear();
        for (size_t c = 0; c < clusters_ && placed_[c] >= 0; ++c) list_.push_back(placed_[c]);
    }

    // The first cluster where another block agreed as well as the one taken, if any.
    std::optional<TailTie> Tie() const { return tie_; }
    // Keeps the block of `tie` out of its cluster.
    void Avoid(const TailTie& tie) { avoid_ = tie; }

private:
    void Place(size_t cluster, int32_t block) {
        placed_[cluster] = block;
        used_.insert(block);
    }

    void Unplace(size_t cluster) {
        used_.erase(placed_[cluster]);
        placed_[cluster] = -1;
    }

    // Where a block taken in disk order disagrees with what the placed clusters now predict, the file's
    // piece broke there: it and the blocks taken after it in the same run go. True when any went.
    bool DropDisagreeing(std::vector<size_t>& taken) {
        for (size_t i = 0; i < taken.size(); ++i) {
            if (EvaluateBlock(taken[i], placed_[taken[i]]).fits) continue;
            for (size_t k = i; k < taken.size(); ++k) Unplace(taken[k]);
            taken.resize(i);
            return true;
        }
        return false;
    }

    // The cluster holding the workbook stream's first sector, where the directory's first sector lies in
    // the first cluster, which is surely the document's own; 0 when it does not or names no such stream.
    size_t StreamStartCluster() {
        const uint64_t directory = layout_.OffsetOf(layout_.firstDirectorySector);
        if (layout_.firstDirectorySector >= fileSectors_ || directory + s_ > b_) return 0;
        std::array<uint8_t, kCompoundEntryBytes> entry {};
        for (uint64_t at = directory; at < directory + s_; at += kCompoundEntryBytes) {
            CompoundEntry parsed;
            if (!ReadPlaced(at, entry) || !ReadCompoundEntry(entry, parsed)) return 0;
            if (IsWorkbookStreamEntry(entry, parsed) && parsed.size >= layout_.miniStreamCutoff &&
                parsed.startSector < fileSectors_)
                return size_t(layout_.OffsetOf(parsed.startSector) / b_);
        }
        return 0;
    }

    bool IsPlaced(size_t cluster) const { return cluster < clusters_ && placed_[cluster] >= 0; }

    int32_t NextUnused(int32_t block) const {
        int32_t next = free_.next(block);
        while (next >= 0 && used_.contains(next)) next = free_.next(next);
        return next;
    }

    int32_t PreviousUnused(int32_t block) const {
        int32_t previous = free_.previous(block);
        while (previous >= 0 && used_.contains(previous)) previous = free_.previous(previous);
        return previous;
    }

    // Bytes of the file from the placed clusters; `out` must not cross a 512-byte boundary.
    bool ReadPlaced(uint64_t offset, std::span<uint8_t> out) {
        const uint64_t cluster = offset / b_;
        if (!IsPlaced(size_t(cluster))) return false;
        const auto data = blocks_.GetBlock(placed_[size_t(cluster)]);
        const size_t at = size_t(offset % b_);
        if (data.size() < b_ || at + out.size() > b_) return false;
        std::copy_n(data.begin() + long(at), out.size(), out.begin());
        return true;
    }

    bool ReadU32(uint64_t offset, uint32_t& value) {
        std::array<uint8_t, 4> bytes {};
        if (!ReadPlaced(offset, bytes)) return false;
        value = LoadU32(bytes.data());
        return true;
    }

    // Reads every placed table sector once per round: chains are followed entry by entry, and block
    // contents under evaluation must not be displaced by reads.
    void ReadPlacedFatSectors() {
        fatSectors_.clear();
        std::array<uint8_t, 512> part {};
        for (uint32_t index = 0; index < fat_.size(); ++index) {
            std::vector<uint32_t> entries(perSector_);
            const uint64_t offset = layout_.OffsetOf(fat_[index]);
            bool whole = fat_[index] < fileSectors_;
            for (uint32_t at = 0; at < s_ && whole; at += 512) {
                whole = ReadPlaced(offset + at, part);
                for (uint32_t i = 0; i < 128 && whole; ++i) entries[at / 4 + i] = LoadU32(part.data() + 4 * i);
            }
            if (whole) fatSectors_.emplace(index, std::move(entries));
        }
    }

    // The allocation table's entry for `sector`, when the table sector holding it is placed.
    bool FatEntry(uint32_t sector, uint32_t& value) const {
        const auto it = fatSectors_.find(sector / perSector_);
        if (it == fatSectors_.end()) return false;
        value = it->second[sector % perSector_];
        return true;
    }

    // Whether the chain from `start` holds `size` bytes, as far as the placed table tells.
    bool ChainLengthAgrees(uint32_t start, uint32_t size) const {
        const uint64_t wanted = (uint64_t(size) + s_ - 1) / s_;
        uint32_t sector = start;
        for (uint64_t n = 1; n <= wanted; ++n) {
            if (sector >= fileSectors_) return false;
            uint32_t next = 0;
            if (!FatEntry(sector, next)) return true;
            if (n == wanted) return next == kCompoundEndOfChain;
            sector = next;
        }
        return true;
    }

    void Assign(uint32_t sector, SectorRole role, uint32_t index) {
        if (sector < fileSectors_) roles_.try_emplace(sector, RoleOf {role, index});
    }

    // Bytes from `from` (within the sector) to the sector's end are predicted zero.
    void ZeroFrom(uint32_t sector, uint64_t from) {
        if (sector >= fileSectors_ || from >= s_) return;
        const auto [it, inserted] = zeroFrom_.try_emplace(sector, uint32_t(from));
        if (!inserted) it->second = std::min(it->second, uint32_t(from));
    }

    // What the header and the placed clusters tell: which sectors hold the allocation table, the DIFAT
    // and the directory; where the workbook stream lies; which sectors open a property set; and which
    // bytes pad a stream or a property set with zeros.
    void LearnRoles() {
        roles_.clear();
        zeroFrom_.clear();
        propertySets_.clear();
        fat_.clear();
        chainSteps_ = 0;
        const uint32_t fatCount = std::min(layout_.fatSectorCount, fileSectors_);
        for (uint32_t i = 0; i < fatCount && i < CompoundLayout::kHeaderFatEntries; ++i)
            fat_.push_back(layout_.headerFatSectors[i]);
        uint32_t difat = layout_.firstDifatSector;
        for (uint32_t k = 0; k < layout_.difatSectorCount && difat < fileSectors_ && fat_.size() < fatCount; ++k) {
            Assign(difat, SectorRole::Difat, k);
            uint32_t value = 0;
            for (uint32_t i = 0; i + 1 < perSector_ && fat_.size() < fatCount; ++i) {
                if (!ReadU32(layout_.OffsetOf(difat) + 4 * uint64_t(i), value)) break;
                fat_.push_back(value);
            }
            if (!ReadU32(layout_.OffsetOf(difat) + 4 * uint64_t(perSector_ - 1), difat)) break;
        }
        for (uint32_t i = 0; i < fat_.size(); ++i) Assign(fat_[i], SectorRole::Fat, i);
        ReadPlacedFatSectors();

        std::vector<uint32_t> directory;
        uint32_t sector = layout_.firstDirectorySector;
        directoryEntries_ = 0;
        miniSectors_ = 0;
        for (uint32_t k = 0; k < kMaxDirectorySectors && sector < fileSectors_; ++k) {
            if (roles_.contains(sector)) break;
            Assign(sector, SectorRole::Directory, k);
            directory.push_back(sector);
            if (!FatEntry(sector, sector)) break;
            if (sector == kCompoundEndOfChain) directoryEntries_ = uint32_t(directory.size()) * (s_ / kCompoundEntryBytes);
        }
        directoryLinks_.clear();
        for (uint32_t k = 0; k < directory.size(); ++k) LearnEntries(directory[k], k);
        linkCounts_.clear();
        for (const auto& entry : directoryLinks_)
            for (const uint32_t id : entry.second) ++linkCounts_[id];
    }

    // The sectors of the chain from `start` that the placed allocation table tells, at most `count`.
    // A sound document's chains share no sector, so all of them together take at most every sector once;
    // a damaged table that loops or joins chains stops there.
    std::vector<uint32_t> Chain(uint32_t start, uint64_t count) {
        std::vector<uint32_t> chain;
        uint32_t sector = start;
        while (sector < fileSectors_ && chain.size() < count && chainSteps_ < fileSectors_) {
            ++chainSteps_;
            chain.push_back(sector);
            if (chain.size() == count || !FatEntry(sector, sector)) break;
        }
        return chain;
    }

    void LearnEntries(uint32_t directorySector, uint32_t chainIndex) {
        std::array<uint8_t, kCompoundEntryBytes> entry {};
        for (uint32_t i = 0; i < s_ / kCompoundEntryBytes; ++i) {
            if (!ReadPlaced(layout_.OffsetOf(directorySector) + uint64_t(i) * kCompoundEntryBytes, entry)) return;
            if (i == 0) directoryLinks_[chainIndex];  // placed, links or none
            CompoundEntry parsed;
            if (!ReadCompoundEntry(entry, parsed)) continue;
            for (const size_t link : {68, 72, 76})
                if (const uint32_t id = LoadU32(entry.data() + link); parsed.type != 0 && id != kCompoundFree)
                    directoryLinks_[chainIndex].push_back(id);
            const bool root = parsed.type == 5;
            if (root) miniSectors_ = (parsed.size + 63) / 64;
            if (!root && (parsed.type != 2 || parsed.size < layout_.miniStreamCutoff)) continue;
            if (parsed.startSector >= fileSectors_ || parsed.size == 0) continue;
            if (!streamKnown_ && IsWorkbookStreamEntry(entry, parsed)) {
                streamKnown_ = streamStartKnown_ = true;
                streamStart_ = parsed.startSector;
                streamChainEnd_ = parsed.startSector;
                for (uint64_t n = 1; n < (parsed.size + s_ - 1) / s_ && streamChainEnd_ < fileSectors_; ++n)
                    streamChainEnd_ = NextRunSector(streamChainEnd_);
                streamEndKnown_ = true;
            }
            const uint64_t sectors = (uint64_t(parsed.size) + s_ - 1) / s_;
            const auto chain = Chain(parsed.startSector, sectors);
            // Writers pad a stream's last sector with zeros.
            if (chain.size() == sectors && parsed.size % s_ != 0) ZeroFrom(chain.back(), parsed.size % s_);
            const bool propertySet = !root && parsed.nameBytes >= 4 && LoadU16(entry.data()) == 0x0005;
            if (propertySet) LearnPropertySet(chain, parsed.size);
        }
    }

    // A property set stream opens with its header; what its sections leave of the stream is zeros.
    void LearnPropertySet(const std::vector<uint32_t>& chain, uint32_t size) {
        if (chain.empty() || size < kPropertySetHeaderBytes) return;
        Assign(chain.front(), SectorRole::PropertySetStart, uint32_t(propertySets_.size()));
        propertySets_.push_back({chain, size});
        const uint64_t start = layout_.OffsetOf(chain.front());
        uint32_t sections = 0;
        if (!ReadU32(start + 24, sections) || sections < 1 || sections > 2) return;
        uint64_t contentEnd = 0;
        for (uint32_t k = 0; k < sections; ++k) {
            uint32_t offset = 0, length = 0;
            if (!ReadU32(start + 44 + 20 * k, offset) || offset % 4 != 0 || uint64_t(offset) + 8 > size) return;
            const uint64_t sector = offset / s_;
            if (sector >= chain.size()) return;
            if (!ReadU32(layout_.OffsetOf(chain[sector]) + offset % s_, length)) return;
            contentEnd = std::max(contentEnd, uint64_t(offset) + length);
        }
        if (contentEnd > size) return;
        for (uint64_t i = contentEnd / s_; i < chain.size(); ++i)
            ZeroFrom(chain[i], std::max(contentEnd, i * s_) - i * s_);
    }

    // Before the directory is placed: the stream starts at the first workbook-globals BOF at a sector
    // boundary, and the search ends a result at most two blocks after the block where the stream ends,
    // so the stream holds every sector before the third block from the list's end.
    void GuessStreamFromSearch() {
        constexpr uint8_t kGlobalsBof[8] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00};
        constexpr size_t kMaxStartClusters = 4096;
        if (list_.size() < 4) return;
        const uint64_t coveredEnd = (uint64_t(list_.size()) - 3) * b_;
        for (uint64_t offset = s_; offset + 8 <= coveredEnd && offset / b_ < kMaxStartClusters; offset += s_) {
            std::array<uint8_t, 8> bytes {};
            if (!ReadPlaced(offset, bytes) || !std::equal(bytes.begin(), bytes.end(), kGlobalsBof)) continue;
            const uint64_t start = offset / s_ - 1, end = coveredEnd / s_ - 1;  // sectors [start, end)
            if (end <= start + 1 || end > fileSectors_) return;
            streamStartKnown_ = true;
            streamStart_ = uint32_t(start);
            streamChainEnd_ = uint32_t(end - 1);
            return;
        }
    }

    // Sectors that share file cluster `cluster`, as the first and one past the last.
    std::pair<uint64_t, uint64_t> SectorsIn(uint64_t cluster) const {
        const uint64_t begin = cluster * b_, end = begin + b_;
        const uint64_t first = begin / s_ == 0 ? 0 : begin / s_ - 1;
        return {first, std::min<uint64_t>((end + s_ - 1) / s_ - 1, fileSectors_)};
    }

    // Whether the prediction for a cluster is distinctive enough to look for its block among all free
    // blocks: it holds a table or directory sector or a property set's opening, or every byte of it is
    // predicted. Zero padding alone is not: any empty block would agree.
    bool Distinctive(uint64_t cluster, uint32_t known) const {
        if (known >= b_) return true;
        const auto [first, last] = SectorsIn(cluster);
        for (uint64_t s = first; s < last; ++s) {
            const auto it = roles_.find(uint32_t(s));
            if (it == roles_.end()) continue;
            if (it->second.role != SectorRole::PropertySetStart || layout_.OffsetOf(uint32_t(s)) >= cluster * b_) return true;
        }
        return false;
    }

    bool ValidSector(uint32_t value) const {
        return value < fileSectors_ || value == kCompoundFree || value == kCompoundEndOfChain ||
               value == kCompoundFatSector || value == kCompoundDifatSector;
    }

    bool RoleIs(uint32_t sector, SectorRole role) const {
        const auto it = roles_.find(sector);
        return it != roles_.end() && it->second.role == role;
    }

    bool IsTableSector(uint32_t sector) const { return RoleIs(sector, SectorRole::Fat) || RoleIs(sector, SectorRole::Difat); }

    // The sector after `sector` in the workbook stream's run: writers put the allocation table's own
    // sectors inside a long stream's run, and the stream's chain steps over them.
    uint32_t NextRunSector(uint32_t sector) const {
        do ++sector;
        while (sector < fileSectors_ && IsTableSector(sector));
        return sector;
    }

    // An allocation table entry for sector `x` holding `value`.
    bool FatEntryAgrees(uint32_t x, uint32_t value) const {
        if (x >= fileSectors_) return value == kCompoundFree;
        if (!ValidSector(value)) return false;
        if (value == kCompoundFatSector && !RoleIs(x, SectorRole::Fat)) return false;
        if (value == kCompoundDifatSector && !RoleIs(x, SectorRole::Difat)) return false;
        // Some writers leave the table's own sectors unmarked: an end of chain, or a chain through them.
        if (IsTableSector(x)) return true;
        if (x >= streamStart_ && x < streamChainEnd_) return value == NextRunSector(x);
        if (x == streamChainEnd_ && streamEndKnown_) return value == kCompoundEndOfChain;
        return true;
    }

    // A directory run that is this document's: sound entries, the workbook stream's entry where the
    // stream is known to start, and chains as long as the entries' sizes where the table is placed.
    bool DirectoryAgrees(std::span<const uint8_t> bytes, uint32_t chainIndex, uint64_t firstUnit) const {
        if (!IsDirectoryRun(bytes, chainIndex == 0 && firstUnit == 0)) return false;
        if (!TreeAgrees(bytes, chainIndex, firstUnit)) return false;
        // A writer takes a directory sector for entries: a whole sector of unused ones is empty space.
        bool used = bytes.size() < s_;
        for (size_t at = 0; at < bytes.size() && !used; at += kCompoundEntryBytes) used = bytes[at + 66] != 0;
        if (!used) return false;
        for (size_t at = 0; at + kCompoundEntryBytes <= bytes.size(); at += kCompoundEntryBytes) {
            const auto entry = bytes.subspan(at, kCompoundEntryBytes);
            CompoundEntry parsed;
            if (!ReadCompoundEntry(entry, parsed)) return false;
            if (parsed.type == 0) continue;
            // Tree links name entries of the directory, or none.
            for (const size_t link : {68, 72, 76}) {
                const uint32_t id = LoadU32(entry.data() + link);
                if (directoryEntries_ != 0 && id != kCompoundFree && id >= directoryEntries_) return false;
            }
            const bool inSectors = parsed.type == 5 || (parsed.type == 2 && parsed.size >= layout_.miniStreamCutoff);
            if (parsed.type == 2 && !inSectors && parsed.size != 0 && miniSectors_ != 0 &&
                uint64_t(parsed.startSector) + (parsed.size + 63) / 64 > miniSectors_)
                return false;  // a small stream lies in the mini stream
            if (!inSectors || parsed.size == 0) continue;
            // The document's own stream has its entry in the directory's first sector; one further on may
            // be that of an embedded workbook, which starts elsewhere.
            if (streamStartKnown_ && chainIndex == 0 && IsWorkbookStreamEntry(entry, parsed) && parsed.startSector != streamStart_)
                return false;
            if (!ChainLengthAgrees(parsed.startSector, parsed.size)) return false;
        }
        return true;
    }

    // The directory's entries form a tree from the root: an entry that a placed entry links to is in
    // use, and once every other directory sector is placed, an entry in use is one that some entry links
    // to (the root aside).
    bool TreeAgrees(std::span<const uint8_t> bytes, uint32_t chainIndex, uint64_t firstUnit) const {
        const uint32_t perSector = s_ / kCompoundEntryBytes;
        // Links from the other placed sectors (all placed ones, less this sector's own when it is placed),
        // and from the candidate's entries. This runs for every free block a search tries.
        const auto own = directoryLinks_.find(chainIndex);
        std::vector<uint32_t> candidateLinks;
        for (size_t at = 0; at + kCompoundEntryBytes <= bytes.size(); at += kCompoundEntryBytes)
            if (bytes[at + 66] != 0)
                for (const size_t link : {68, 72, 76}) candidateLinks.push_back(LoadU32(bytes.data() + at + link));
        const auto linked = [&](uint32_t id) {
            if (std::find(candidateLinks.begin(), candidateLinks.end(), id) != candidateLinks.end()) return true;
            const auto total = linkCounts_.find(id);
            if (total == linkCounts_.end()) return false;
            const auto ownCount = own == directoryLinks_.end() ? 0 : std::count(own->second.begin(), own->second.end(), id);
            return total->second > uint32_t(ownCount);
        };
        const size_t others = directoryLinks_.size() - (directoryLinks_.contains(chainIndex) ? 1 : 0);
        const bool allOthers = directoryEntries_ != 0 && others + 1 == directoryEntries_ / perSector;
        for (size_t at = 0; at + kCompoundEntryBytes <= bytes.size(); at += kCompoundEntryBytes) {
            const uint32_t id = chainIndex * perSector + uint32_t((firstUnit + at) / kCompoundEntryBytes);
            const uint8_t type = bytes[at + 66];
            if (type == 0 && linked(id)) return false;
            if (type != 0 && type != 5 && allOthers && !linked(id)) return false;
        }
        return true;
    }

    struct PropertySetStream {
        std::vector<uint32_t> chain;  // as far as the placed allocation table tells
        uint32_t size = 0;
    };

    // A property set's opening in `bytes` (its first sector's bytes within cluster `cluster`, from the
    // sector's start): byte order mark, version 0 or 1, one or two sections, the first section right after
    // the section list, sections that end within the stream, and zeros after the last section where the
    // stream's sectors lie in this cluster. Adds the bytes it checked to `verdict`.
    void CheckPropertySetStart(uint64_t cluster, std::span<const uint8_t> data, const PropertySetStream& set,
                               const uint8_t* bytes, uint64_t length, Verdict& verdict) const {
        if (length < kPropertySetHeaderBytes) return;
        verdict.known += kPropertySetHeaderBytes;
        const uint32_t sections = LoadU32(bytes + 24);
        if (LoadU16(bytes) != 0xFFFE || LoadU16(bytes + 2) > 1 || (sections != 1 && sections != 2) ||
            LoadU32(bytes + 44) != 28 + 20 * sections) {
            verdict.fits = false;
            return;
        }
        uint64_t contentEnd = 0;
        for (uint32_t k = 0; k < sections; ++k) {
            const uint32_t offset = LoadU32(bytes + 44 + 20 * k);
            if (uint64_t(offset) + 8 > set.size) {
                verdict.fits = false;
                return;
            }
            if (offset + 4 > length) return;  // the section's length lies outside this sector
            contentEnd = std::max(contentEnd, uint64_t(offset) + LoadU32(bytes + offset));
        }
        if (contentEnd > set.size) {
            verdict.fits = false;
            return;
        }
        const uint64_t begin = cluster * b_, end = begin + b_;
        for (uint64_t i = contentEnd / s_; i < set.chain.size(); ++i) {
            const uint64_t sectorBegin = layout_.OffsetOf(set.chain[i]);
            const uint64_t from = std::max(begin, sectorBegin + std::max(contentEnd, i * s_) - i * s_);
            const uint64_t to = std::min(end, sectorBegin + s_);
            if (from >= to) continue;
            verdict.known += uint32_t(to - from);
            const uint8_t* z = data.data() + (from - begin);
            if (std::any_of(z, z + (to - from), [](uint8_t byte) { return byte != 0; })) verdict.fits = false;
        }
    }

    // How block contents `data` compare with what is predicted for file cluster `cluster`.
    Verdict Evaluate(uint64_t cluster, std::span<const uint8_t> data) const {
        Verdict verdict;
        if (data.size() < b_) return Verdict {false, 0};
        const uint64_t begin = cluster * b_, end = begin + b_;
        const auto [first, last] = SectorsIn(cluster);
        for (uint64_t s = first; s < last; ++s) {
            const uint64_t sectorBegin = layout_.OffsetOf(uint32_t(s));
            const uint64_t from = std::max(begin, sectorBegin), to = std::min(end, sectorBegin + s_);
            const uint8_t* bytes = data.data() + (from - begin);
            const uint64_t firstUnit = from - sectorBegin;
            if (const auto zero = zeroFrom_.find(uint32_t(s)); zero != zeroFrom_.end()) {
                const uint64_t zeroBegin = std::max(from, sectorBegin + zero->second);
                if (zeroBegin < to) {
                    verdict.known += uint32_t(to - zeroBegin);
                    const uint8_t* z = data.data() + (zeroBegin - begin);
                    if (std::any_of(z, z + (to - zeroBegin), [](uint8_t byte) { return byte != 0; })) verdict.fits = false;
                }
            }
            const auto it = roles_.find(uint32_t(s));
            if (it == roles_.end()) continue;
            verdict.known += uint32_t(to - from);
            bool agrees = true;
            switch (it->second.role) {
                case SectorRole::Fat: {
                    // A writer keeps table sectors for the sectors it uses: one that marks every sector of the
                    // file it describes free is a run of 0xFF bytes (a white picture, empty space).
                    uint32_t inFile = 0, free = 0;
                    for (uint64_t at = 0; at < to - from && agrees; at += 4) {
                        const uint64_t x = uint64_t(it->second.index) * perSector_ + (firstUnit + at) / 4;
                        const uint32_t value = LoadU32(bytes + at);
                        agrees = FatEntryAgrees(uint32_t(std::min<uint64_t>(x, 0xFFFFFFFFu)), value);
                        if (x < fileSectors_) {
                            ++inFile;
                            if (value == kCompoundFree) ++free;
                        }
                    }
                    if (inFile >= kMinTableEntriesJudged && free == inFile) agrees = false;
                    break;
                }
                case SectorRole::Difat:
                    for (uint64_t at = 0; at < to - from && agrees; at += 4) {
                        const uint32_t value = LoadU32(bytes + at);
                        agrees = value < fileSectors_ || value == kCompoundFree || value == kCompoundEndOfChain;
                    }
                    break;
                case SectorRole::Directory:
                    agrees = DirectoryAgrees({bytes, size_t(to - from)}, it->second.index, firstUnit);
                    break;
                case SectorRole::PropertySetStart:
                    verdict.known -= uint32_t(to - from);
                    if (firstUnit == 0)
                        CheckPropertySetStart(cluster, data, propertySets_[it->second.index], bytes, to - from, verdict);
                    break;
            }
            if (!agrees) verdict.fits = false;
        }
        return verdict;
    }

    // A free block the source does not offer for holding one byte value throughout is judged as that.
    Verdict EvaluateBlock(uint64_t cluster, int32_t block) {
        if (block < 0) return Verdict {false, 0};
        const auto data = blocks_.GetBlock(block);
        if (!data.empty()) return Evaluate(cluster, data);
        const int filler = blocks_.FillerByte(block);
        if (filler < 0) return Verdict {false, 0};
        PrepareFiller();
        return Evaluate(cluster, filler_[filler == 0 ? 0 : 1]);
    }

    // Places each unplaced cluster with a prediction: the disk-next block of the cluster before or the
    // disk-previous block of the cluster after when it agrees; a cluster whose prediction is distinctive
    // otherwise takes the first free block that agrees. True when any cluster was placed.
    bool PlacePredicted() {
        bool placedAny = false;
        for (const size_t c : PredictedClusters()) {
            if (c == 0 || IsPlaced(c)) continue;
            const uint32_t known = Evaluate(c, Unknown()).known;
            if (known == 0) continue;
            int32_t chosen = -1;
            if (IsPlaced(c - 1)) {
                const int32_t next = NextUnused(placed_[c - 1]);
                if (next >= 0 && EvaluateBlock(c, next).fits) chosen = next;
            }
            if (chosen < 0 && IsPlaced(c + 1)) {
                const int32_t previous = PreviousUnused(placed_[c + 1]);
                if (previous >= 0 && EvaluateBlock(c, previous).fits) chosen = previous;
            }
            if (chosen < 0 && passes_ < kMaxFreeSpacePasses && Distinctive(c, known)) {
                ++passes_;
                chosen = FindAgreeing(c, LastPlacedBefore(c));
            }
            if (chosen < 0) continue;
            Place(c, chosen);
            // A placed table or directory sector or property set opening tells about the clusters after it.
            const auto [first, last] = SectorsIn(c);
            for (uint64_t sector = first; sector < last; ++sector)
                if (roles_.contains(uint32_t(sector))) {
                    LearnRoles();
                    break;
                }
            placedAny = true;
        }
        return placedAny;
    }

    // The clusters that hold a sector with a role or with zero padding, in file order.
    std::vector<size_t> PredictedClusters() const {
        std::vector<size_t> clusters;
        const auto add = [&](uint32_t sector) {
            const uint64_t begin = layout_.OffsetOf(sector);
            for (uint64_t c = begin / b_; c <= (begin + s_ - 1) / b_ && c < clusters_; ++c) clusters.push_back(size_t(c));
        };
        for (const auto& entry : roles_) add(entry.first);
        for (const auto& entry : zeroFrom_) add(entry.first);
        std::sort(clusters.begin(), clusters.end());
        clusters.erase(std::unique(clusters.begin(), clusters.end()), clusters.end());
        return clusters;
    }

    // A block of zeros as long as a cluster: evaluated, it tells how many bytes the prediction covers.
    std::span<const uint8_t> Unknown() {
        PrepareFiller();
        return filler_[0];
    }

    void PrepareFiller() {
        if (filler_[0].size() == b_) return;
        filler_[0].assign(size_t(b_), 0x00);
        filler_[1].assign(size_t(b_), 0xFF);
    }

    int32_t LastPlacedBefore(size_t cluster) const {
        while (cluster > 0 && !IsPlaced(--cluster)) {}
        return placed_[cluster];
    }

    // The free block that agrees with the prediction and whose edges are most alike those of the placed
    // clusters beside it; among equals the first from the one after `last` on and round. Other files of
    // one writer may hold a block that agrees as well as the right one.
    int32_t FindAgreeing(uint64_t cluster, int32_t last) {
        constexpr size_t kMaxAgreeing = 64;
        const int32_t count = blocks_.BlockCount();
        if (count <= 2) return -1;
        const int32_t start = std::clamp(last + 1, 2, count - 1);
        std::vector<int32_t> agreeing;
        for (int32_t n = 0; n < count - 2 && agreeing.size() < kMaxAgreeing; ++n) {
            const int32_t index = 2 + (start - 2 + n) % (count - 2);
            if (used_.contains(index)) continue;
            if (avoid_ && avoid_->cluster == cluster && avoid_->block == index) continue;
            if (Evaluate(cluster, blocks_.GetBlock(index)).fits) agreeing.push_back(index);
        }
        int32_t best = -1;
        uint64_t bestLikeness = 0;
        bool tied = false;
        for (const int32_t index : agreeing) {
            // Chains mostly run on to the next sector: a table sector of this file holds more such entries
            // than another file's that merely agrees. That counts before how the edges meet.
            uint64_t likeness = uint64_t(ForwardEntries(cluster, blocks_.GetBlock(index))) << 32;
            if (cluster > 0 && IsPlaced(cluster - 1)) likeness += Likeness(placed_[cluster - 1], index);
            if (IsPlaced(cluster + 1)) likeness += Likeness(index, placed_[cluster + 1]);
            tied = tied || (best >= 0 && likeness == bestLikeness);
            if (best < 0 || likeness > bestLikeness) {
                tied = false;
                best = index;
                bestLikeness = likeness;
            }
        }
        if (tied && !tie_) tie_ = TailTie {cluster, best};
        return best;
    }

    // Entries of the allocation-table sectors in `data` (as file cluster `cluster`) that lead a chain on
    // to the sector right after theirs.
    uint32_t ForwardEntries(uint64_t cluster, std::span<const uint8_t> data) const {
        if (data.size() < b_) return 0;
        uint32_t forward = 0;
        const uint64_t begin = cluster * b_;
        const auto [first, last] = SectorsIn(cluster);
        for (uint64_t sector = first; sector < last; ++sector) {
            const auto it = roles_.find(uint32_t(sector));
            if (it == roles_.end() || it->second.role != SectorRole::Fat) continue;
            const uint64_t sectorBegin = layout_.OffsetOf(uint32_t(sector));
            const uint64_t from = std::max(begin, sectorBegin), to = std::min(begin + b_, sectorBegin + s_);
            for (uint64_t at = from; at + 4 <= to; at += 4) {
                const uint64_t x = uint64_t(it->second.index) * perSector_ + (at - sectorBegin) / 4;
                if (LoadU32(data.data() + (at - begin)) == x + 1) ++forward;
            }
        }
        return forward;
    }

    // Fills every run of unplaced clusters. Between two placed clusters the run is the disk-next blocks
    // of the one before, then the disk-previous blocks of the one after: the split where every block
    // agrees with the prediction and the most predicted bytes agree wins, the most forward among equals.
    // Without a placed cluster after it, or without any split that agrees, it takes the disk-next blocks.
    void FillGaps() {
        for (size_t g1 = 1; g1 < clusters_; ++g1) {
            if (IsPlaced(g1)) continue;
            size_t g2 = g1;
            while (g2 + 1 < clusters_ && !IsPlaced(g2 + 1)) ++g2;
            const size_t k = g2 - g1 + 1;
            const auto forward = Run(placed_[g1 - 1], k, true);
            const auto backward = IsPlaced(g2 + 1) ? Run(placed_[g2 + 1], k, false) : std::vector<int32_t> {};
            // Predicted bytes that agree, summed from the run's start (forward) or end (backward); -1 once
            // a block disagrees.
            const auto sums = [&](const std::vector<int32_t>& run, bool ahead) {
                std::vector<int64_t> sum(run.size() + 1, 0);
                for (size_t i = 0; i < run.size(); ++i) {
                    const Verdict verdict = EvaluateBlock(ahead ? g1 + i : g2 - i, run[i]);
                    sum[i + 1] = sum[i] < 0 || !verdict.fits ? -1 : sum[i] + verdict.known;
                }
                return sum;
            };
            const auto forwardSum = sums(forward, true), backwardSum = sums(backward, false);
            // How alike the bytes are where one block of the run meets the next: the least alike junction
            // of each side's blocks, from the placed neighbour on (forward) or back from it (backward).
            const int32_t before = placed_[g1 - 1], after = IsPlaced(g2 + 1) ? placed_[g2 + 1] : -1;
            const auto leastAlike = [&](const std::vector<int32_t>& run, bool ahead) {
                std::vector<uint32_t> least(run.size() + 1, kMaxLikeness);
                for (size_t i = 0; i < run.size(); ++i) {
                    const int32_t neighbour = i == 0 ? (ahead ? before : after) : run[i - 1];
                    const size_t second = ahead ? g1 + i : g2 - i + 1;  // the cluster after the junction
                    least[i + 1] = std::min(least[i], ahead ? Junction(second, neighbour, run[i]) : Junction(second, run[i], neighbour));
                }
                return least;
            };
            const auto forwardLeast = leastAlike(forward, true), backwardLeast = leastAlike(backward, false);
            // A split j (j blocks forward, k - j backward) may not take one block twice.
            std::vector<int> clash(k + 2, 0);
            std::unordered_map<int32_t, size_t> backwardAt;
            for (size_t i = 0; i < backward.size(); ++i) backwardAt.emplace(backward[i], i);
            for (size_t a = 0; a < forward.size(); ++a) {
                const auto it = backwardAt.find(forward[a]);
                if (it == backwardAt.end() || a + 1 >= k - it->second) continue;
                ++clash[a + 1];  // splits a+1 .. k-b-1 take forward[a] and backward[b] both
                --clash[k - it->second];
            }
            // The split whose blocks agree with the most predicted bytes, then whose least alike junction
            // (the one where the two sides meet included) is the most alike, the most forward among equals.
            size_t bestSplit = forward.size();
            int64_t bestKnown = -1;
            uint32_t bestLikeness = 0;
            int running = 0;
            for (size_t j = 0; j <= std::min(k, forward.size()); ++j) {
                running += clash[j];
                const size_t m = k - j;
                if (m > backward.size() || running > 0) continue;
                if (forwardSum[j] < 0 || backwardSum[m] < 0) continue;
                const int32_t left = j > 0 ? forward[j - 1] : before, right = m > 0 ? backward[m - 1] : after;
                const uint32_t meet = right < 0 ? kMaxLikeness : Junction(g1 + j, left, right);
                const uint32_t likeness = std::min({forwardLeast[j], backwardLeast[m], meet});
                const int64_t known = forwardSum[j] + backwardSum[m];
                if (known > bestKnown || (known == bestKnown && likeness >= bestLikeness)) {
                    bestKnown = known;
                    bestLikeness = likeness;
                    bestSplit = j;
                }
            }
            if (bestKnown < 0) bestSplit = forward.size();
            for (size_t i = 0; i < bestSplit; ++i) Place(g1 + i, forward[i]);
            if (bestKnown < 0) {
                if (forward.size() < k) return;  // the volume ends: the list stops here
            } else {
                for (size_t i = 0; i < k - bestSplit; ++i) Place(g2 - i, backward[i]);
            }
            g1 = g2;
        }
    }

    // How alike blocks `first` and `second` are where they meet as clusters `second` - 1 and `second`.
    // Bytes that the document's structures predict (tables, directory, zero padding) were judged by the
    // prediction already: where they fill most of either edge, as where a stream's last bytes meet its
    // padding, the edge's bytes tell nothing about the meeting and any block pair is as alike as can be.
    uint32_t Junction(size_t secondCluster, int32_t first, int32_t second) {
        const uint64_t edge = std::min<uint64_t>(kMaxLikeness, b_);
        const uint64_t meet = uint64_t(secondCluster) * b_;
        if (meet < edge) return Likeness(first, second);
        const auto mostlyPredicted = [&](uint64_t from) { return 4 * PredictedBytesIn(from, from + edge) >= 3 * edge; };
        if (mostlyPredicted(meet - edge) || mostlyPredicted(meet)) return kMaxLikeness;
        return Likeness(first, second);
    }

    // File bytes in [from, to) that a table, DIFAT or directory sector or zero padding predicts.
    uint64_t PredictedBytesIn(uint64_t from, uint64_t to) const {
        uint64_t predicted = 0;
        for (uint64_t sector = from < s_ ? 0 : from / s_ - 1; sector < fileSectors_; ++sector) {
            const uint64_t sectorBegin = layout_.OffsetOf(uint32_t(sector));
            if (sectorBegin >= to) break;
            const uint64_t a = std::max(from, sectorBegin), e = std::min(to, sectorBegin + s_);
            if (a >= e) continue;
            const auto role = roles_.find(uint32_t(sector));
            if (role != roles_.end() && role->second.role != SectorRole::PropertySetStart) {
                predicted += e - a;
            } else if (const auto zero = zeroFrom_.find(uint32_t(sector)); zero != zeroFrom_.end()) {
                const uint64_t z = std::max(a, sectorBegin + zero->second);
                if (z < e) predicted += e - z;
            }
        }
        return predicted;
    }

    // How alike the end of block `first` and the start of block `second` are: the shared part of the
    // counts of the high four bits of their kEdgeBytes bytes there, from 0 to kMaxLikeness.
    uint32_t Likeness(int32_t first, int32_t second) {
        const auto& a = EdgeProfile(first, false);
        const auto& b = EdgeProfile(second, true);
        uint32_t shared = 0;
        for (size_t i = 0; i < a.size(); ++i) shared += std::min(a[i], b[i]);
        return shared;
    }

    const std::array<uint16_t, 16>& EdgeProfile(int32_t block, bool head) {
        const int64_t key = int64_t(block) * 2 + (head ? 1 : 0);
        const auto [it, inserted] = edges_.try_emplace(key);
        if (inserted) {
            const auto data = blocks_.GetBlock(block);
            const size_t edge = size_t(std::min<uint64_t>(kMaxLikeness, b_));
            if (data.size() < b_) {
                const int filler = blocks_.FillerByte(block);
                if (filler >= 0) it->second[size_t(filler) >> 4] = uint16_t(kMaxLikeness);
            } else {
                const uint8_t* bytes = data.data() + (head ? 0 : b_ - edge);
                // Scaled to kMaxLikeness counts, so that blocks shorter than the edge compare alike.
                for (size_t i = 0; i < edge; ++i) it->second[bytes[i] >> 4] += uint16_t(kMaxLikeness / edge);
            }
        }
        return it->second;
    }

    // Up to `count` unused free blocks from `block` on, forward or backward on disk.
    std::vector<int32_t> Run(int32_t block, size_t count, bool ahead) const {
        std::vector<int32_t> run;
        std::unordered_set<int32_t> seen;
        while (run.size() < count) {
            block = ahead ? NextUnused(block) : PreviousUnused(block);
            if (block < 0 || !seen.insert(block).second) break;
            run.push_back(block);
        }
        return run;
    }

    BlockSource& blocks_;
    const FreeNeighbours& free_;
    const CompoundLayout& layout_;
    std::vector<int32_t>& list_;
    const uint64_t b_;
    const uint32_t s_;
    const uint32_t perSector_;
    const uint32_t fileSectors_;  // sectors after the header that the recorded size holds
    const size_t clusters_;
    std::vector<int32_t> placed_;  // the block of each file cluster, -1 while unknown
    std::vector<size_t> tentative_;  // clusters the search's result took in disk order after the stream
    std::vector<size_t> head_;       // clusters taken in disk order between the first block and the stream's
    std::unordered_set<int32_t> used_;
    std::unordered_map<uint32_t, RoleOf> roles_;
    std::unordered_map<uint32_t, uint32_t> zeroFrom_;  // sector → first byte of its zero padding
    std::vector<uint32_t> fat_;                        // the allocation table's sectors, in table order
    std::unordered_map<uint32_t, std::vector<uint32_t>> fatSectors_;  // entries of the placed table sectors
    std::vector<PropertySetStream> propertySets_;     // by the index of their opening sector's role
    std::array<std::vector<uint8_t>, 2> filler_;  // a cluster of zeros and one of ones
    std::unordered_map<int64_t, std::array<uint16_t, 16>> edges_;  // by block and edge
    int passes_ = 0;
    std::optional<TailTie> tie_, avoid_;
    uint32_t directoryEntries_ = 0;  // entries in the directory's whole chain; 0 while not known
    std::unordered_map<uint32_t, std::vector<uint32_t>> directoryLinks_;  // placed directory sectors' tree links
    std::unordered_map<uint32_t, uint32_t> linkCounts_;  // how often each entry is linked to, over all of them
    uint32_t miniSectors_ = 0;       // 64-byte sectors of the mini stream; 0 while not known
    uint32_t chainSteps_ = 0;  // chain entries followed this round
    // The workbook stream's chain: entries from its first sector to streamChainEnd_ lead to the next
    // sector that is not the table's own; that of streamChainEnd_ ends the chain when the directory told
    // the stream's size.
    bool streamKnown_ = false;       // from the directory
    bool streamStartKnown_ = false;  // from the directory or from the search's result
    bool streamEndKnown_ = false;
    uint32_t streamStart_ = 0, streamChainEnd_ = 0;
};

}  // namespace

bool CompleteContainerTail(BlockSource& blocks, const FreeNeighbours& free, std::span<const uint8_t> header,
                           uint64_t size, std::vector<int32_t>& fileBlocks, std::optional<TailTie>* tie,
                           const TailTie* avoid) {
    CompoundLayout layout;
    if (!ReadCompoundLayout(header, layout)) return false;
    if (fileBlocks.empty() || blocks.BlockBytes() <= 0 || blocks.BlockBytes() % 512 != 0) return true;
    TailCompletion completion(blocks, free, layout, size, fileBlocks);
    if (avoid) completion.Avoid(*avoid);
    completion.Run();
    if (tie) *tie = completion.Tie();
    return true;
}

namespace {

// Completes a search result to `size` bytes as it is saved: through the document's structures when its
// first block holds a compound-document header, else with the blocks that follow on disk.
void Complete(BlockStore& store, std::vector<int32_t>& fileBlocks, uint64_t size, std::optional<TailTie>* tie,
              const TailTie* avoid) {
    if (fileBlocks.empty() || size == 0) return;
    std::array<uint8_t, 512> header {};
    const auto first = store.GetBlock(fileBlocks.front());
    const bool read = first.size() >= header.size();
    if (read) std::copy_n(first.begin(), header.size(), header.begin());
    const FreeNeighbours free {[&store](int32_t block) { return store.NextFreeBlock(block); },
                               [&store](int32_t block) { return store.PreviousFreeBlock(block); }};
    if (!read || !CompleteContainerTail(store, free, header, size, fileBlocks, tie, avoid)) store.ExtendToSize(fileBlocks, size);
}

}  // namespace

std::vector<std::vector<int32_t>> CompletedCandidates(BlockStore& store, const std::vector<int32_t>& fileBlocks,
                                                      uint64_t size, bool alternative) {
    std::vector<std::vector<int32_t>> completed(1, fileBlocks);
    std::optional<TailTie> tie;
    Complete(store, completed[0], size, alternative ? &tie : nullptr, nullptr);
    if (!tie) return completed;
    std::vector<int32_t> other = fileBlocks;
    Complete(store, other, size, nullptr, &*tie);
    if (other != completed[0]) completed.push_back(std::move(other));
    return completed;
}

}  // namespace tabulon
