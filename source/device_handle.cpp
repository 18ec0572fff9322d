#include "source/device_handle.h"

#include <cstring>

#include "source/source_name.h"

namespace tabulon {

uint32_t ImageSectorsPerCylinder(uint64_t fileBytes) {
    constexpr uint64_t kNineGiB = 9ull << 30;
    return fileBytes <= kNineGiB ? 63 : 16065;
}

bool DeviceHandle::Open() {
    Close();
    auto name = SourceName::Parse(path_);
    if (!name) return false;
    if (!handle_.Open(name->devicePath, static_cast<int>(extraAccess))) return false;

    uint64_t bytes = handle_.Size();
    sectorCount_ = bytes >> 9;
    if (auto geometry = handle_.Geometry()) {
        bytesPerSector_ = geometry->bytesPerSector;
        sectorsPerCylinder_ = geometry->tracksPerCylinder * geometry->sectorsPerTrack;
    } else if (!handle_.IsBlockDevice()) {
        sectorsPerCylinder_ = ImageSectorsPerCylinder(bytes);
    }
    isOpen_ = true;
    return true;
}

void DeviceHandle::Close() {
    handle_.Close();
    isOpen_ = false;
    bytesPerSector_ = 0;
    sectorCount_ = 0;
    sectorsPerCylinder_ = kDefaultSectorsPerCylinder;
}

bool DeviceHandle::Read(void* buffer, int32_t byteCount, uint32_t sector) {
    if (buffer == nullptr || byteCount < 0) return false;
    if (uint64_t(sector) >= sectorCount_) {
        std::memset(buffer, 0, static_cast<size_t>(byteCount));
        return false;
    }
    if (!isOpen_) return false;
    return handle_.ReadAt(buffer, static_cast<size_t>(byteCount), uint64_t(unitSize) * sector);
}

}  // namespace tabulon
