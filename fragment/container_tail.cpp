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

enum class SectorRole : uint8_t { Fat, Difat, Directory };

struct RoleOf {
    SectorRole role;
    uint32_t index;  // position in the allocation table, the DIFAT chain or the directory chain
};

class TailCompletion {
public:
    TailCompletion(BlockSource& blocks, const NextFreeBlock& nextFree, const CompoundLayout& layout, uint64_t size,
                   std::vector<int32_t>& fileBlocks)
        : blocks_(blocks), nextFree_(nextFree), layout_(layout), list_(fileBlocks), b_(uint64_t(blocks.BlockBytes())),
          s_(layout.sectorBytes), perSector_(layout.EntriesPerSector()),
          fileSectors_(size > s_ ? uint32_t(std::min<uint64_t>((size - s_ + s_ - 1) / s_, 0xFFFFFFF0u)) : 0),
          clusters_((size + b_ - 1) / b_) {
        used_.insert(list_.begin(), list_.end());
    }

    void Run() {
        GuessStreamFromSearch();
        RecheckFoundClusters();
        int32_t last = list_.back();
        bool relearn = true;
        while (uint64_t(list_.size()) < clusters_) {
            const uint64_t cluster = list_.size();
            // Only a placed table, DIFAT or directory sector tells more about the sectors after it.
            if (relearn) LearnRoles();
            int32_t next = nextFree_(last);
            while (next >= 0 && used_.contains(next)) next = nextFree_(next);
            int32_t chosen = next;
            relearn = Predictable(cluster);
            if (relearn && !(next >= 0 && Agrees(cluster, blocks_.GetBlock(next)))) {
                const int32_t found = FindAgreeing(cluster, last);
                if (found >= 0) chosen = found;
            }
            if (chosen < 0) return;
            list_.push_back(chosen);
            used_.insert(chosen);
            last = chosen;
        }
    }

private:
    // A search result ends with the two blocks that follow the stream's last block on disk; where they
    // hold table or directory sectors and disagree with them while another free block agrees, the file's
    // piece broke there: that block replaces them, and the clusters after it are taken anew. The blocks
    // before them hold the stream the search followed and stay.
    void RecheckFoundClusters() {
        LearnRoles();
        for (size_t cluster = std::max<size_t>(list_.size(), 3) - 2; cluster < list_.size(); ++cluster) {
            if (!Predictable(cluster) || Agrees(cluster, blocks_.GetBlock(list_[cluster]))) continue;
            const int32_t found = FindAgreeing(cluster, list_[cluster - 1]);
            if (found < 0) continue;
            for (size_t k = cluster; k < list_.size(); ++k) used_.erase(list_[k]);
            list_.resize(cluster);
            list_.push_back(found);
            used_.insert(found);
            return;
        }
    }

    // Bytes of the file from the placed clusters; `out` must not cross a 512-byte boundary.
    bool ReadPlaced(uint64_t offset, std::span<uint8_t> out) {
        const uint64_t cluster = offset / b_;
        if (cluster >= list_.size()) return false;
        const auto data = blocks_.GetBlock(list_[size_t(cluster)]);
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

    bool FatEntry(uint32_t sector, uint32_t& value) {
        const uint32_t index = sector / perSector_;
        if (index >= fat_.size()) return false;
        return ReadU32(layout_.OffsetOf(fat_[index]) + 4 * uint64_t(sector % perSector_), value);
    }

    void Assign(uint32_t sector, SectorRole role, uint32_t index) {
        if (sector < fileSectors_) roles_.try_emplace(sector, RoleOf {role, index});
    }

    // Which sectors hold the allocation table, the DIFAT and the directory, as far as the header and
    // the placed clusters tell; and where the workbook stream lies once the directory is readable.
    void LearnRoles() {
        roles_.clear();
        fat_.clear();
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

        uint32_t directory = layout_.firstDirectorySector;
        for (uint32_t k = 0; k < kMaxDirectorySectors && directory < fileSectors_; ++k) {
            if (roles_.contains(directory)) break;
            Assign(directory, SectorRole::Directory, k);
            if (!streamKnown_) LearnStream(directory);
            if (!FatEntry(directory, directory)) break;
        }
    }

    // The workbook stream's first sector and length from its directory entry, when placed.
    void LearnStream(uint32_t directorySector) {
        std::array<uint8_t, kCompoundEntryBytes> entry {};
        for (uint32_t i = 0; i < s_ / kCompoundEntryBytes; ++i) {
            if (!ReadPlaced(layout_.OffsetOf(directorySector) + uint64_t(i) * kCompoundEntryBytes, entry)) return;
            CompoundEntry parsed;
            if (!ReadCompoundEntry(entry, parsed) || !IsWorkbookStreamEntry(entry, parsed)) continue;
            if (parsed.size < layout_.miniStreamCutoff || parsed.startSector >= fileSectors_) return;
            streamKnown_ = true;
            streamStart_ = parsed.startSector;
            streamChainEnd_ = parsed.startSector + (parsed.size + s_ - 1) / s_ - 1;
            streamEndKnown_ = true;
            return;
        }
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

    bool Predictable(uint64_t cluster) const {
        const auto [first, last] = SectorsIn(cluster);
        for (uint64_t s = first; s < last; ++s)
            if (roles_.contains(uint32_t(s))) return true;
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

    // An allocation table entry for sector `x` holding `value`.
    bool FatEntryAgrees(uint32_t x, uint32_t value) const {
        if (x >= fileSectors_) return value == kCompoundFree;
        if (!ValidSector(value)) return false;
        if ((value == kCompoundFatSector) != RoleIs(x, SectorRole::Fat)) return false;
        if ((value == kCompoundDifatSector) != RoleIs(x, SectorRole::Difat)) return false;
        if (x >= streamStart_ && x < streamChainEnd_) return value == x + 1;
        if (x == streamChainEnd_ && streamEndKnown_) return value == kCompoundEndOfChain;
        return true;
    }

    // Whether block contents `data` agree with what is predicted for file cluster `cluster`.
    bool Agrees(uint64_t cluster, std::span<const uint8_t> data) const {
        if (data.size() < b_) return false;
        const uint64_t begin = cluster * b_, end = begin + b_;
        const auto [first, last] = SectorsIn(cluster);
        for (uint64_t s = first; s < last; ++s) {
            const auto it = roles_.find(uint32_t(s));
            if (it == roles_.end()) continue;
            const uint64_t sectorBegin = layout_.OffsetOf(uint32_t(s));
            const uint64_t from = std::max(begin, sectorBegin), to = std::min(end, sectorBegin + s_);
            const uint8_t* bytes = data.data() + (from - begin);
            const uint64_t firstUnit = from - sectorBegin;
            switch (it->second.role) {
                case SectorRole::Fat:
                    for (uint64_t at = 0; at < to - from; at += 4) {
                        const uint64_t x = uint64_t(it->second.index) * perSector_ + (firstUnit + at) / 4;
                        if (!FatEntryAgrees(uint32_t(std::min<uint64_t>(x, 0xFFFFFFFFu)), LoadU32(bytes + at))) return false;
                    }
                    break;
                case SectorRole::Difat:
                    for (uint64_t at = 0; at < to - from; at += 4) {
                        const uint32_t value = LoadU32(bytes + at);
                        if (value >= fileSectors_ && value != kCompoundFree && value != kCompoundEndOfChain) return false;
                    }
                    break;
                case SectorRole::Directory:
                    if (!IsDirectoryRun({bytes, size_t(to - from)}, it->second.index == 0 && firstUnit == 0)) return false;
                    break;
            }
        }
        return true;
    }

    // The first free block, from the one after `last` on and round, that agrees with the prediction.
    int32_t FindAgreeing(uint64_t cluster, int32_t last) {
        const int32_t count = blocks_.BlockCount();
        if (count <= 2) return -1;
        const int32_t start = std::clamp(last + 1, 2, count - 1);
        for (int32_t n = 0; n < count - 2; ++n) {
            const int32_t index = 2 + (start - 2 + n) % (count - 2);
            if (used_.contains(index)) continue;
            if (Agrees(cluster, blocks_.GetBlock(index))) return index;
        }
        return -1;
    }

    BlockSource& blocks_;
    const NextFreeBlock& nextFree_;
    const CompoundLayout& layout_;
    std::vector<int32_t>& list_;
    const uint64_t b_;
    const uint32_t s_;
    const uint32_t perSector_;
    const uint32_t fileSectors_;  // sectors after the header that the recorded size holds
    const uint64_t clusters_;
    std::unordered_set<int32_t> used_;
    std::unordered_map<uint32_t, RoleOf> roles_;
    std::vector<uint32_t> fat_;  // the allocation table's sectors, in table order
    // The workbook stream's chain: entries from its first sector to streamChainEnd_ lead to the next
    // sector; that of streamChainEnd_ ends the chain when the directory told the stream's size.
    bool streamKnown_ = false;  // from the directory
    bool streamEndKnown_ = false;
    uint32_t streamStart_ = 0, streamChainEnd_ = 0;
};

}  // namespace

bool CompleteContainerTail(BlockSource& blocks, const NextFreeBlock& nextFree, std::span<const uint8_t> header,
                           uint64_t size, std::vector<int32_t>& fileBlocks) {
    CompoundLayout layout;
    if (!ReadCompoundLayout(header, layout)) return false;
    if (fileBlocks.empty() || blocks.BlockBytes() <= 0 || blocks.BlockBytes() % 512 != 0) return true;
    TailCompletion(blocks, nextFree, layout, size, fileBlocks).Run();
    return true;
}

void CompleteFragmentResult(BlockStore& store, std::vector<int32_t>& fileBlocks, uint64_t size) {
    if (fileBlocks.empty() || size == 0) return;
    std::array<uint8_t, 512> header {};
    const auto first = store.GetBlock(fileBlocks.front());
    const bool read = first.size() >= header.size();
    if (read) std::copy_n(first.begin(), header.size(), header.begin());
    const NextFreeBlock nextFree = [&store](int32_t block) { return store.NextFreeBlock(block); };
    if (!read || !CompleteContainerTail(store, nextFree, header, size, fileBlocks)) store.ExtendToSize(fileBlocks, size);
}

}  // namespace tabulon
