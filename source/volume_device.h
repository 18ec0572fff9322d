#pragma once
// The device that a SourceDisk owns and every analyser of the source reads through. It also carries
// the boot snapshot (the first 60 bytes of a boot sector and the 16-bit value at offset 60) and the
// region that the raw scan hands to a reconstructed volume.

#include <array>
#include <cstdint>
#include <string>

#include "source/device_handle.h"

namespace tabulon {

class VolumeDevice {
public:
    static constexpr uint8_t kDeviceKind = 2;  // a device or image file read through the DeviceHandle

    struct Region {
        uint32_t unitSize = 0;
        uint64_t firstSector = 0;
        uint64_t sectorCount = 0;
    };

    void SetPath(const std::string& sourceName);
    bool Open();
    bool IsOpen() const { return isOpen_; }
    uint64_t SectorCount() const { return kind_ == kDeviceKind ? device_.SectorCount() : 0; }
    uint32_t SectorsPerCylinder() const { return device_.SectorsPerCylinder(); }
    // Reads through the device only when open; otherwise false with the buffer untouched.
    bool Read(void* buffer, int32_t byteCount, uint32_t sector);

    // Keeps a snapshot of the boot sector at `sector` unless one was handed over beforehand.
    bool ReadBootSector(uint32_t sector);
    // `sector` must hold at least 62 bytes.
    void SetBootSnapshot(const uint8_t* sector, bool given);
    void SetRegion(uint32_t unitSize, uint64_t firstSector, uint64_t count, bool given);

    const std::array<uint8_t, 60>& BootSnapshot() const { return bootSnapshot_; }
    uint16_t BootSnapshotWord60() const { return bootWord60_; }
    bool SnapshotGiven() const { return snapshotGiven_; }
    const Region& GetRegion() const { return region_; }
    const std::string& SourceName() const { return sourceName_; }
    uint8_t Kind() const { return kind_; }
    DeviceHandle& Device() { return device_; }

private:
    uint8_t kind_ = kDeviceKind;
    std::string sourceName_;
    bool isOpen_ = false;
    DeviceHandle device_;
    std::array<uint8_t, 60> bootSnapshot_ {};
    uint16_t bootWord60_ = 0;
    bool snapshotGiven_ = false;
    Region region_;
};

}  // namespace tabulon
