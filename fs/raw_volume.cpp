#include "fs/raw_volume.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "fs/disk_node.h"
#include "fs/name_pool.h"
#include "fs/read_success_flag.h"
#include "source/volume_device.h"

namespace tabulon {
namespace {

constexpr uint64_t kSectorBytes = 512;
// Sectors read at once when copying a run.
constexpr uint32_t kReadSectors = 128;

uint64_t RoundUpToSector(uint64_t bytes) {
    return bytes > UINT64_MAX - (kSectorBytes - 1) ? UINT64_MAX & ~(kSectorBytes - 1)
                                                     : (bytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
}

}  // namespace

RawVolume::RawVolume() {
    root_.flags = FileEntryFlags::Directory;
    root_.name = NamePool::Global().Add(u"ROOT");
    second_.flags = FileEntryFlags::Directory;
}

RawVolume::~RawVolume() = default;

bool RawVolume::Mount() {
    root_.children.clear();
    second_.children.clear();
    if (BootCopyFlag() != 0) return true;
    return ScanRawDisk();
}

bool RawVolume::ScanRawDisk() {
    if (device_ == nullptr || owner_ == nullptr) return false;
    return tabulon::ScanRawDisk(*device_, *owner_, PartitionStart(), options_, progress_, summary_);
}

bool RawVolume::BuildChain(const FileEntry& entry, ClusterChain& chain, uint32_t* extra) {
    if (extra) *extra = 0;
    if (entry.runs && !entry.runs->Empty()) {
        for (const auto& run : entry.runs->Runs()) chain.Append(run.start, run.count);
        return true;
    }
    const uint64_t sectors = RoundUpToSector(entry.size) / kSectorBytes;
    if (sectors == 0) return true;
    // A run counts at most 2^32 - 1 sectors, more than a device can address past the start sector.
    chain.Append(entry.start, static_cast<uint32_t>(std::min<uint64_t>(sectors, UINT32_MAX)));
    return true;
}

bool RawVolume::GetSizes(const FileEntry& entry, ClusterChain& chain, uint64_t& allocatedOut, uint64_t& sizeOut) {
    if (!BuildChain(entry, chain, nullptr)) return false;
    sizeOut = entry.size;
    allocatedOut = RoundUpToSector(entry.size);
    return true;
}

bool RawVolume::GetSizes(const FileEntry& entry, uint64_t& allocatedOut, uint64_t& sizeOut) {
    ClusterChain chain;
    return GetSizes(entry, chain, allocatedOut, sizeOut);
}

bool RawVolume::GetExtent(const FileEntry& entry, uint64_t& allocatedOut, uint32_t& startSectorOut) {
    if (IsRoot(entry)) {
        allocatedOut = kSectorBytes;
        startSectorOut = 0;
        return true;
    }
    allocatedOut = RoundUpToSector(entry.size);
    startSectorOut = entry.start;
    return true;
}

bool RawVolume::ReadSectors(uint8_t* buffer, uint32_t byteCount, uint32_t sector, bool) {
    if (buffer == nullptr || device_ == nullptr || byteCount > uint32_t(INT32_MAX)) return false;
    const uint64_t at = uint64_t(PartitionStart()) + sector;
    if (at > UINT32_MAX) return false;
    return device_->Read(buffer, static_cast<int32_t>(byteCount), static_cast<uint32_t>(at));
}

bool RawVolume::ReadFileData(const FileEntry& entry, uint8_t* buffer, size_t bufferSize, uint64_t offset,
                             uint32_t count, const ClusterChain& chain) {
    if (device_ == nullptr || buffer == nullptr || bufferSize == 0 || count > bufferSize) return false;
    if (count == 0) return true;
    ClusterChain own;
    const ClusterChain* runs = &chain;
    if (chain.Empty()) {
        BuildChain(entry, own, nullptr);
        runs = &own;
    }
    // The runs must hold every byte asked for.
    if (runs->TotalCount() * kSectorBytes < offset + count) return false;

    std::vector<uint8_t> block(size_t(kReadSectors) * kSectorBytes);
    uint64_t skip = offset / kSectorBytes;  // whole sectors before the first byte
    size_t within = static_cast<size_t>(offset % kSectorBytes);
    size_t done = 0;
    for (const auto& run : runs->Runs()) {
        if (skip >= run.count) {
            skip -= run.count;
            continue;
        }
        uint64_t index = skip;
        skip = 0;
        while (index < run.count && done < count) {
            // Only the sectors that hold bytes still wanted are read.
            const uint64_t wanted = (within + (count - done) + kSectorBytes - 1) / kSectorBytes;
            const uint32_t sectors = static_cast<uint32_t>(std::min<uint64_t>({kReadSectors, run.count - index, wanted}));
            const uint64_t sector = uint64_t(run.start) + index;
            // A read that meets the end of the device must not leave the last block's bytes behind.
            std::memset(block.data(), 0, sectors * kSectorBytes);
            if (sector > UINT32_MAX ||
                !ReadSectors(block.data(), sectors * uint32_t(kSectorBytes), static_cast<uint32_t>(sector), true)) {
                ReadSuccessFlag().store(false);
                return false;
            }
            const size_t n = std::min<size_t>(sectors * kSectorBytes - within, count - done);
            std::memcpy(buffer + done, block.data() + within, n);
            done += n;
            within = 0;
            index += sectors;
        }
        if (done == count) return true;
    }
    return done == count;
}

bool RawVolume::ReadWholeFile(const FileEntry& entry, std::vector<uint8_t>& bufferOut, uint64_t& allocatedOut,
                              uint64_t& sizeOut) {
    bufferOut.clear();
    ClusterChain chain;
    if (!GetSizes(entry, chain, allocatedOut, sizeOut)) return false;
    if (allocatedOut == 0) return true;
    if (allocatedOut > UINT32_MAX) return false;
    try {
        bufferOut.resize(static_cast<size_t>(allocatedOut));
    } catch (const std::bad_alloc&) {
        bufferOut.clear();
        return false;
    }
    return ReadFileData(entry, bufferOut.data(), bufferOut.size(), 0, static_cast<uint32_t>(allocatedOut), chain);
}

}  // namespace tabulon
