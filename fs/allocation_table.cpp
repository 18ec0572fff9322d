#include "fs/allocation_table.h"

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"

namespace tabulon {
namespace {

constexpr uint32_t kPieceBytes = 65536;

}  // namespace

void AllocationTable::Configure(FatType type, VolumeDevice* device, uint32_t partitionStart) {
    type_ = type;
    device_ = device;
    partitionStart_ = partitionStart;
    InvalidateWindow();
}

void AllocationTable::SetLayout(uint32_t reservedSectors, uint32_t sectorsPerFat) {
    reservedSectors_ = reservedSectors;
    sectorsPerFat_ = sectorsPerFat;
    InvalidateWindow();
}

bool AllocationTable::LoadWholeTable() {
    ReleaseWholeTable();
    if (sectorsPerFat_ == 0) return false;
    const uint64_t first = uint64_t(reservedSectors_) + (rebuilt_ ? sectorsPerFat_ : 0);
    uint64_t last = first + sectorsPerFat_ - 1;
    // A table cannot reach past the end of the device; boot parameters that claim otherwise are not
    // allowed to make us allocate for sectors that do not exist.
    const uint64_t deviceSectors = device_ ? device_->SectorCount() : 0;
    if (deviceSectors > 0) {
        const uint64_t absoluteFirst = partitionStart_ + first;
        if (absoluteFirst >= deviceSectors) return false;
        last = std::min(last, deviceSectors - 1 - partitionStart_);
    }
    if (last < first) return false;
    const uint64_t bytes = (last - first + 1) * 512;
    whole_.assign(bytes, 0);
    for (uint64_t done = 0; done < bytes; done += kPieceBytes) {
        const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(kPieceBytes, bytes - done));
        const uint64_t sector = partitionStart_ + first + done / 512;
        bool ok = device_ != nullptr && device_->IsOpen() && sector <= 0xFFFFFFFFu &&
                  device_->Read(whole_.data() + done, static_cast<int32_t>(piece), static_cast<uint32_t>(sector));
        if (!ok) std::memset(whole_.data() + done, 0, piece);
    }
    loaded_ = true;
    return true;
}

void AllocationTable::ReleaseWholeTable() {
    whole_.clear();
    whole_.shrink_to_fit();
    loaded_ = false;
}

uint64_t AllocationTable::EntryOffset(FatType type, uint32_t c) {
    switch (type) {
        case FatType::Fat12: return uint64_t(c) + c / 2;
        case FatType::Fat16: return uint64_t(c) * 2;
        case FatType::Fat32: return uint64_t(c) * 4;
        case FatType::None: break;
    }
    return 0;
}

uint32_t AllocationTable::DecodeEntry(FatType type, uint32_t c, const uint8_t* entry) {
    switch (type) {
        case FatType::Fat12: {
            const uint16_t value = LoadU16(entry);
            return (c & 1) ? uint32_t(value >> 4) : uint32_t(value & 0xFFF);
        }
        case FatType::Fat16: return LoadU16(entry);
        case FatType::Fat32: return LoadU32(entry);
        case FatType::None: break;
    }
    return 0;
}

uint32_t AllocationTable::NextCluster(uint32_t c) {
    if (type_ == FatType::None) return 0;
    const uint64_t offset = EntryOffset(type_, c);
    const size_t size = EntryBytes(type_);
    if (loaded_) {
        if (offset + size > whole_.size()) return 0;
        return DecodeEntry(type_, c, whole_.data() + offset);
    }
    const uint64_t index = offset / 512;
    if (index != windowIndex_) {
        const uint64_t firstFat = uint64_t(reservedSectors_) + (rebuilt_ ? 0 : sectorsPerFat_);
        const uint64_t sector = uint64_t(partitionStart_) + firstFat + index;
        std::memset(window_, 0, sizeof window_);  // a short read at the device's end leaves zeros
        if (device_ == nullptr || sector > 0xFFFFFFFFu ||
            !device_->Read(window_, static_cast<int32_t>(sizeof window_), static_cast<uint32_t>(sector))) {
            InvalidateWindow();
            return 0;
        }
        windowIndex_ = index;
    }
    return DecodeEntry(type_, c, window_ + (offset - index * 512));
}

bool AllocationTable::ContinuesFileChain(FatType type, uint32_t next) {
    switch (type) {
        case FatType::Fat12: return next > 1 && next < 0xFF0;
        case FatType::Fat16: return next > 1 && next < 0xFFF0 && next != 0xFBFF;
        case FatType::Fat32: return next > 1 && next < 0x0FFFFFFF && next != 0x0FFFFFF8;
        case FatType::None: break;
    }
    return false;
}

bool AllocationTable::ContinuesDirectoryChain(FatType type, uint32_t next) {
    switch (type) {
        case FatType::Fat12: return next >= 2 && next <= 0xFF0;
        case FatType::Fat16: return next >= 2 && next <= 0xFFF0 && next != 0xFBFF;
        case FatType::Fat32: return next >= 2 && next <= 0x0FFFFFFE && next != 0x0FFFFFF8;
        case FatType::None: break;
    }
    return false;
}

}  // namespace tabulon
