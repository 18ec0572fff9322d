#include "source/volume_device.h"

#include <cstring>
#include <vector>

namespace tabulon {

void VolumeDevice::SetPath(const std::string& sourceName) {
    sourceName_ = sourceName;
    if (kind_ == kDeviceKind) device_.SetPath(sourceName);
}

bool VolumeDevice::Open() {
    if (kind_ != kDeviceKind) {
        isOpen_ = false;
        return false;
    }
    if (isOpen_) device_.Close();
    device_.SetPath(sourceName_);
    isOpen_ = device_.Open();
    return isOpen_;
}

bool VolumeDevice::Read(void* buffer, int32_t byteCount, uint32_t sector) {
    if (!isOpen_ || kind_ != kDeviceKind) return false;
    return device_.Read(buffer, byteCount, sector);
}

bool VolumeDevice::ReadBootSector(uint32_t sector) {
    if (snapshotGiven_) return true;
    std::vector<uint8_t> buffer(1024);
    if (!Read(buffer.data(), static_cast<int32_t>(buffer.size()), sector)) return false;
    std::memcpy(bootSnapshot_.data(), buffer.data(), bootSnapshot_.size());
    bootWord60_ = static_cast<uint16_t>(buffer[60] | (buffer[61] << 8));
    return true;
}

void VolumeDevice::SetBootSnapshot(const uint8_t* sector, bool given) {
    std::memcpy(bootSnapshot_.data(), sector, bootSnapshot_.size());
    bootWord60_ = static_cast<uint16_t>(sector[60] | (sector[61] << 8));
    snapshotGiven_ = given;
}

void VolumeDevice::SetRegion(uint32_t unitSize, uint64_t firstSector, uint64_t count, bool given) {
    region_ = {unitSize, firstSector, count};
    snapshotGiven_ = given;
}

}  // namespace tabulon
