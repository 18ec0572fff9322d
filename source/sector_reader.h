#pragma once
// The reader used by scan control: opens a source by name and reads 512-byte sectors at absolute
// positions. Read-only, unbuffered; each read is one positioned read of the device or file.

#include <cstdint>
#include <string>

#include "source/platform_file.h"

namespace tabulon {

class SectorReader {
public:
    static constexpr uint32_t kDefaultSectorsPerCylinder = 16065;

    SectorReader() = default;
    ~SectorReader() { Close(); }
    SectorReader(const SectorReader&) = delete;
    SectorReader& operator=(const SectorReader&) = delete;

    bool Open(const std::string& sourceName);
    void Close();
    // Reads `byteCount` bytes from byte 512 x `firstSector`. A first sector above the sector count is
    // refused without touching the buffer; one equal to it is passed to the system. A short read at the
    // end of the source leaves the rest of the buffer as it was.
    bool ReadSectors(void* buffer, uint32_t byteCount, uint32_t firstSector);

    bool IsOpen() const { return isOpen_; }
    const std::string& SourceName() const { return sourceName_; }
    uint32_t SectorCount() const { return sectorCount_; }
    uint64_t TotalBytes() const { return totalBytes_; }
    uint32_t SectorsPerCylinder() const { return sectorsPerCylinder_; }
    const std::string& FileSystemName() const { return fileSystemName_; }

private:
    std::string sourceName_;
    PlatformFile handle_;
    bool isOpen_ = false;
    uint64_t totalBytes_ = 0;
    uint32_t sectorCount_ = 0;  // 32 bits: larger sources are truncated
    uint32_t sectorsPerCylinder_ = kDefaultSectorsPerCylinder;
    std::string fileSystemName_;
};

}  // namespace tabulon
