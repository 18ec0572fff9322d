#include "fragment/block_store.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "common/little_endian.h"
#include "fs/boot_parameters.h"

namespace tabulon {
namespace {

constexpr uint32_t kFat12MaxClusters = 4085;
// Memory mode reads runs of free blocks in windows of about this many bytes.
constexpr size_t kMemoryReadWindow = 1 << 20;
// Direct mode reads ahead at most this much, from two blocks on, doubling while requests go forward.
constexpr uint32_t kMaxReadAheadSectors = (1 << 20) / 512;
// A request counts as going forward when it lies at most this many blocks after the one before: a scan
// passes over blocks of live files and blocks it has taken.
constexpr int32_t kMaxForwardGap = 64;
// The neighbours of a block on disk pass over a run of at most this many blocks that live files own.
constexpr int32_t kMaxOwnedRun = 64;

bool Bit(const std::vector<uint64_t>& bits, int64_t i) {
    return i >= 0 && size_t(i >> 6) < bits.size() && ((bits[size_t(i >> 6)] >> (i & 63)) & 1) != 0;
}

void SetBit(std::vector<uint64_t>& bits, int64_t i) {
    if (i >= 0 && size_t(i >> 6) < bits.size()) bits[size_t(i >> 6)] |= uint64_t(1) << (i & 63);
}

// Whether an allocation-table entry gives its cluster to a file. The end-of-chain values 0xFFF8 and
// 0x0FFFFFF8 count as free, like free, reserved and bad clusters; FAT12 entries follow the 16-bit rule
// in their own width. The top four bits of a 32-bit entry are reserved and not part of the value.
bool EntryAllocates(uint32_t value, int entryBits) {
    switch (entryBits) {
        case 12: return (value >= 2 && value <= 0xFF0) || value == 0xFFF;
        case 16: return (value >= 2 && value <= 0xFFF0) || value == 0xFFFF;
        default: value &= 0x0FFFFFFF; return value >= 2 && value != 0x0FFFFFF8;
    }
}

}  // namespace

void BlockStore::Clear() {
    reader_.Close();
    blockCount_ = 0;
    sectorsPerBlock_ = 0;
    firstSector_ = 0;
    inMemory_ = false;
    allocated_.clear();
    allocated_.shrink_to_fit();
    slotOf_.clear();
    slotOf_.shrink_to_fit();
    blockData_.clear();
    blockData_.shrink_to_fit();
    readBuffer_.clear();
    readBuffer_.shrink_to_fit();
    window_.clear();
    window_.shrink_to_fit();
    windowSectors_ = 0;
    lastRequest_ = -1;
    inOrderRequests_ = 0;
    examined_.clear();
    examined_.shrink_to_fit();
    filler_.clear();
    filler_.shrink_to_fit();
    erased_.clear();
    erased_.shrink_to_fit();
    blockReads_ = 0;
}

BlockStore::PrepareResult BlockStore::Prepare(const BlockStoreLayout& layout, ScanProgress* progress) {
    Clear();
    PrepareResult result = PrepareResult::Ready;
    try {
        if (!reader_.Open(layout.sourceName)) return PrepareResult::Unreadable;
        result = layout.fatFound ? LoadAllocationTable(layout, progress) : AlignGrid(layout);
        if (result == PrepareResult::Ready) {
            const size_t b = size_t(sectorsPerBlock_) * 512;
            filler_.assign((size_t(blockCount_) + 63) / 64, 0);
            erased_.assign(filler_.size(), 0);
            if (layout.inMemory) {
                inMemory_ = true;
                result = ReadIntoMemory(progress);
            } else {
                readBuffer_.assign(b + 512, 0);
                examined_.assign(filler_.size(), 0);
            }
        }
    } catch (const std::bad_alloc&) {
        result = PrepareResult::OutOfMemory;
    }
    if (result != PrepareResult::Ready) Clear();
    return result;
}

// Blocks are clusters; the first allocation table says which belong to live files.
BlockStore::PrepareResult BlockStore::LoadAllocationTable(const BlockStoreLayout& layout, ScanProgress* progress) {
    BootParameters boot;
    boot.AssignSector(layout.bootCopy.data());
    if (!boot.HasUsableCoreFields() || boot.ReservedSectors() == 0) return PrepareResult::BadLayout;
    const bool fat32 = boot.SectorsPerFat16() == 0;
    const uint32_t tableSectors = fat32 ? boot.SectorsPerFat32() : boot.SectorsPerFat16();
    const uint32_t totalSectors = boot.SmallTotalSectors() != 0 ? boot.SmallTotalSectors() : boot.TotalSectors32();
    const uint32_t spc = boot.SectorsPerCluster();
    if (tableSectors == 0 || layout.dataStartSector == 0) return PrepareResult::BadLayout;

    // Clusters that exist in the data area; without a usable total the table alone bounds them.
    uint64_t clusters = totalSectors > layout.dataStartSector ? (totalSectors - layout.dataStartSector) / spc : 0;
    const int entryBits = fat32 ? 32 : clusters != 0 && clusters < kFat12MaxClusters ? 12 : 16;
    const uint64_t tableBytes = uint64_t(tableSectors) * 512;
    const uint64_t entries = entryBits == 12 ? tableBytes * 2 / 3 : tableBytes / (entryBits / 8);
    uint64_t count = clusters != 0 ? std::min<uint64_t>(entries, clusters + 2) : entries;
    if (count <= 2 || count > 0x7FFFFFFF) return PrepareResult::BadLayout;
    const uint64_t tableStart = uint64_t(layout.partitionStart) + boot.ReservedSectors();
    const uint64_t dataStart = uint64_t(layout.partitionStart) + layout.dataStartSector;
    if (tableStart + tableSectors > reader_.SectorCount() || dataStart >= reader_.SectorCount())
        return PrepareResult::BadLayout;

    sectorsPerBlock_ = int32_t(spc);
    firstSector_ = uint32_t(dataStart);
    blockCount_ = int32_t(count);
    allocated_.assign((size_t(count) + 63) / 64, 0);
    if (progress) {
        progress->SetMax(int32_t(count));
        progress->SetPos(0);
    }

    // The table is read in windows; an entry of FAT12 may straddle two sectors, so each window
    // after the first begins with the bytes the previous one left undecoded.
    constexpr uint32_t kWindowSectors = 2048;
    std::vector<uint8_t> window;
    std::vector<uint8_t> carry;
    uint64_t windowStartByte = 0;  // table byte offset of window[0]
    int64_t cluster = 0;
    for (uint32_t done = 0; done < tableSectors && cluster < int64_t(count); done += kWindowSectors) {
        if (progress && progress->StopRequested()) return PrepareResult::Stopped;
        const uint32_t n = std::min(kWindowSectors, tableSectors - done);
        window = carry;
        const size_t carried = carry.size();
        window.resize(carried + size_t(n) * 512);
        if (!reader_.ReadSectors(window.data() + carried, n * 512, uint32_t(tableStart + done)))
            return PrepareResult::Unreadable;
        const uint64_t windowEnd = windowStartByte + window.size();
        for (; cluster < int64_t(count); ++cluster) {
            const uint64_t offset = entryBits == 12 ? uint64_t(cluster) + uint64_t(cluster) / 2
                                                    : uint64_t(cluster) * uint64_t(entryBits / 8);
            const uint64_t width = entryBits == 32 ? 4 : 2;
            if (offset + width > windowEnd) break;
            const uint8_t* at = window.data() + (offset - windowStartByte);
            uint32_t value = entryBits == 32 ? LoadU32(at) : LoadU16(at);
            if (entryBits == 12) value = (cluster & 1) ? value >> 4 : value & 0xFFF;
            if (cluster >= 2 && EntryAllocates(value, entryBits)) SetBit(allocated_, cluster);
        }
        // Keep the bytes from the first undecoded entry on.
        const uint64_t keepFrom = entryBits == 12 ? uint64_t(cluster) + uint64_t(cluster) / 2
                                                  : uint64_t(cluster) * uint64_t(entryBits / 8);
        const uint64_t keepAt = std::min(keepFrom, windowEnd);
        carry.assign(window.begin() + ptrdiff_t(keepAt - windowStartByte), window.end());
        windowStartByte = keepAt;
        if (progress) progress->SetPos(int32_t(cluster));
    }
    return PrepareResult::Ready;
}

// Without a file system every block is free; the grid follows the workbooks found by content, since
// a deleted workbook's first block is what a search starts from.
BlockStore::PrepareResult BlockStore::AlignGrid(const BlockStoreLayout& layout) {
    const int32_t b = layout.blockSectors;
    if (b == 0) return PrepareResult::NoBlockSize;
    if (b < 1 || b > kMaxBlockSectors) return PrepareResult::BadLayout;
    std::map<uint32_t, int32_t> counts;
    uint32_t best = 0;
    int32_t bestCount = 0;
    for (uint32_t start : layout.contentStarts) {
        const uint32_t remainder = start % uint32_t(b);
        const int32_t count = ++counts[remainder];
        if (count > bestCount) {
            bestCount = count;
            best = remainder;
        }
    }
    const uint32_t sectors = reader_.SectorCount();
    if (sectors <= best || (sectors - best) / uint32_t(b) == 0) return PrepareResult::BadLayout;
    sectorsPerBlock_ = b;
    firstSector_ = best;
    // Indices 2 ... cover every whole block of the source.
    blockCount_ = int32_t(std::min<uint64_t>((sectors - best) / uint32_t(b) + 2, 0x7FFFFFFF));
    return PrepareResult::Ready;
}

BlockStore::PrepareResult BlockStore::ReadIntoMemory(ScanProgress* progress) {
    const size_t b = size_t(sectorsPerBlock_) * 512;
    slotOf_.assign(size_t(blockCount_), -1);
    if (progress) {
        progress->SetMax(blockCount_);
        progress->SetPos(0);
    }
    const int32_t windowBlocks = int32_t(std::max<size_t>(1, kMemoryReadWindow / b));
    std::vector<uint8_t> window(size_t(windowBlocks) * b);
    uint8_t* previous = nullptr;  // the last kept block, whose tail takes the next kept block's head
    for (int32_t i = 2; i < blockCount_;) {
        if (progress && progress->StopRequested()) return PrepareResult::Stopped;
        if (IsAllocated(i)) {
            ++i;
            continue;
        }
        // A run of free blocks, read at once.
        int32_t run = 1;
        while (run < windowBlocks && i + run < blockCount_ && !IsAllocated(i + run)) ++run;
        const uint64_t sector = SectorOfBlock(i);
        bool read = sector + uint64_t(run) * uint64_t(sectorsPerBlock_) <= reader_.SectorCount() &&
                    reader_.ReadSectors(window.data(), uint32_t(run * b), uint32_t(sector));
        for (int32_t k = 0; k < run; ++k) {
            const uint8_t* data = window.data() + size_t(k) * b;
            // A failed window is read again block by block, so one bad sector costs only its block.
            if (!read && (SectorOfBlock(i + k) + uint64_t(sectorsPerBlock_) > reader_.SectorCount() ||
                          !reader_.ReadSectors(window.data() + size_t(k) * b, uint32_t(b), uint32_t(SectorOfBlock(i + k)))))
                continue;
            if (IsFiller(data)) {
                SetBit(filler_, i + k);
                if (data[0] == 0xFF) SetBit(erased_, i + k);
                continue;
            }
            auto copy = std::make_unique<uint8_t[]>(b + kMemoryTailBytes);
            std::memcpy(copy.get(), data, b);
            std::memset(copy.get() + b, 0, kMemoryTailBytes);
            if (previous) std::memcpy(previous + b, data, kMemoryTailBytes);
            previous = copy.get();
            slotOf_[size_t(i + k)] = int32_t(blockData_.size());
            blockData_.push_back(std::move(copy));
        }
        i += run;
        if (progress) progress->SetPos(i);
    }
    return PrepareResult::Ready;
}

int BlockStore::FillerByte(int32_t index) {
    if (index < 2 || index >= blockCount_ || IsAllocated(index)) return -1;
    if (!inMemory_ && !Bit(examined_, index)) GetBlock(index);
    if (!Bit(filler_, index)) return -1;
    return Bit(erased_, index) ? 0xFF : 0x00;
}

bool BlockStore::IsFiller(const uint8_t* data) const {
    const size_t b = size_t(sectorsPerBlock_) * 512;
    const uint8_t first = data[0];
    if (first != 0x00 && first != 0xFF) return false;
    return std::all_of(data, data + b, [first](uint8_t byte) { return byte == first; });
}

bool BlockStore::IsAllocated(int32_t index) const { return Bit(allocated_, index); }

uint64_t BlockStore::SectorOfBlock(int32_t index) const {
    return uint64_t(firstSector_) + uint64_t(index - 2) * uint64_t(sectorsPerBlock_);
}

int32_t BlockStore::NextFreeBlock(int32_t block) const {
    int32_t next = std::max(block + 1, 2);
    int32_t owned = 0;
    while (next < blockCount_ && IsAllocated(next) && owned < kMaxOwnedRun) {
        ++next;
        ++owned;
    }
    if (next >= blockCount_ || IsAllocated(next)) return -1;
    return next;
}

int32_t BlockStore::PreviousFreeBlock(int32_t block) const {
    int32_t previous = std::min(block, blockCount_) - 1;
    int32_t owned = 0;
    while (previous >= 2 && IsAllocated(previous) && owned < kMaxOwnedRun) {
        --previous;
        ++owned;
    }
    if (previous < 2 || IsAllocated(previous)) return -1;
    return previous;
}

void BlockStore::ExtendToSize(std::vector<int32_t>& blocks, uint64_t size) const {
    const uint64_t b = uint64_t(BlockBytes());
    if (size == 0 || blocks.empty() || b == 0) return;
    int32_t last = blocks.back();
    while (uint64_t(blocks.size()) * b < size) {
        last = NextFreeBlock(last);
        if (last < 0) return;
        blocks.push_back(last);
    }
}

int32_t BlockStore::BlockAtSector(uint32_t sector) const {
    if (blockCount_ == 0 || sector < firstSector_) return -1;
    const uint32_t delta = sector - firstSector_;
    if (delta % uint32_t(sectorsPerBlock_) != 0) return -1;
    const uint64_t index = uint64_t(delta / uint32_t(sectorsPerBlock_)) + 2;
    return index < uint64_t(blockCount_) ? int32_t(index) : -1;
}

// Reads block `index` (first sector `sector`, within the source) and the sector after it into readBuffer_.
// The sector after the block lets record tests near its end look ahead; the last block of the source has
// none, so its look-ahead reads as zeros.
bool BlockStore::ReadDirect(int32_t index, uint64_t sector) {
    const uint64_t sectors = reader_.SectorCount();
    const auto spb = uint64_t(sectorsPerBlock_);
    const uint64_t wanted = std::min(spb + 1, sectors - sector);
    const bool forward = lastRequest_ >= 0 && index > lastRequest_ && index - lastRequest_ <= kMaxForwardGap;
    inOrderRequests_ = forward ? inOrderRequests_ + 1 : 0;
    lastRequest_ = index;
    const auto copyOut = [&](const uint8_t* from) {
        std::copy_n(from, size_t(wanted) * 512, readBuffer_.begin());
        std::fill(readBuffer_.begin() + ptrdiff_t(wanted * 512), readBuffer_.end(), 0);
    };
    if (sector >= windowFirst_ && sector + wanted <= windowFirst_ + windowSectors_) {
        copyOut(window_.data() + (sector - windowFirst_) * 512);
        return true;
    }
    if (inOrderRequests_ >= 2) {
        // Two blocks' worth after two forward requests, doubling with each further one.
        const uint32_t doublings = std::min<uint32_t>(inOrderRequests_ - 2, 16);
        const uint64_t ahead = std::min<uint64_t>({uint64_t(kMaxReadAheadSectors), (2 * spb) << doublings, sectors - sector});
        if (ahead >= wanted) {
            window_.resize(size_t(ahead) * 512);
            ++blockReads_;
            if (reader_.ReadSectors(window_.data(), uint32_t(ahead * 512), uint32_t(sector))) {
                windowFirst_ = sector;
                windowSectors_ = uint32_t(ahead);
                copyOut(window_.data());
                return true;
            }
            windowSectors_ = 0;
        }
    }
    ++blockReads_;
    if (wanted == spb + 1 && reader_.ReadSectors(readBuffer_.data(), uint32_t((spb + 1) * 512), uint32_t(sector))) return true;
    std::fill(readBuffer_.begin() + ptrdiff_t(spb * 512), readBuffer_.end(), 0);
    return reader_.ReadSectors(readBuffer_.data(), uint32_t(spb * 512), uint32_t(sector));
}

std::span<const uint8_t> BlockStore::GetBlock(int32_t index) {
    if (index < 2 || index >= blockCount_) return {};
    const size_t b = size_t(sectorsPerBlock_) * 512;
    if (inMemory_) {
        const int32_t slot = slotOf_[size_t(index)];
        if (slot < 0) return {};
        return {blockData_[size_t(slot)].get(), b + kMemoryTailBytes};
    }
    if (Bit(examined_, index) && Bit(filler_, index)) return {};
    if (IsAllocated(index)) return {};
    const uint64_t sector = SectorOfBlock(index);
    if (sector + uint64_t(sectorsPerBlock_) > reader_.SectorCount()) return {};
    if (!ReadDirect(index, sector)) return {};
    const size_t length = b + 512;
    if (!Bit(examined_, index)) {
        SetBit(examined_, index);
        if (IsFiller(readBuffer_.data())) {
            SetBit(filler_, index);
            if (readBuffer_[0] == 0xFF) SetBit(erased_, index);
            return {};
        }
    }
    return {readBuffer_.data(), length};
}

}  // namespace tabulon
