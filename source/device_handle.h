#pragma once
// Raw access under the file-system analysers. Unlike SectorReader it counts sectors in 64 bits, reports
// the sector size of the geometry, gives image files the 63 / 16065 sectors-per-cylinder rule, and
// zero-fills reads at or past the end.

#include <cstdint>
#include <string>

#include "source/platform_file.h"

namespace tabulon {

class DeviceHandle {
public:
    static constexpr uint32_t kDefaultSectorsPerCylinder = 16065;

    DeviceHandle() = default;
    ~DeviceHandle() { Close(); }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    void SetPath(const std::string& sourceName) { path_ = sourceName; }
    const std::string& Path() const { return path_; }
    bool Open();
    void Close();
    // Reads `byteCount` bytes at byte unitSize x `sector`. At or beyond the end, the first `byteCount`
    // bytes of the buffer become zero and the result is false.
    bool Read(void* buffer, int32_t byteCount, uint32_t sector);

    bool IsOpen() const { return isOpen_; }
    uint64_t SectorCount() const { return sectorCount_; }
    uint32_t BytesPerSector() const { return bytesPerSector_; }
    uint32_t SectorsPerCylinder() const { return sectorsPerCylinder_; }

    uint32_t extraAccess = 0;  // extra open flags; write access is never granted
    uint32_t unitSize = 512;

private:
    std::string path_;
    PlatformFile handle_;
    bool isOpen_ = false;
    uint32_t bytesPerSector_ = 0;
    uint64_t sectorCount_ = 0;
    uint32_t sectorsPerCylinder_ = kDefaultSectorsPerCylinder;
};

// Sectors per cylinder of an image file: 63 up to 9 GiB, 16065 above.
uint32_t ImageSectorsPerCylinder(uint64_t fileBytes);

}  // namespace tabulon
