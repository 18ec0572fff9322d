#pragma once
// The operating-system layer under the sector readers: a read-only handle on a device or file, with
// positioned reads, the size, and disk geometry where the device reports one. The Linux back-end lives in
// platform_file_linux.cpp; another system supplies the same class in its own file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tabulon {

struct DiskGeometry {
    uint64_t cylinders = 0;
    uint32_t tracksPerCylinder = 0;  // heads
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;
};

class PlatformFile {
public:
    PlatformFile() = default;
    ~PlatformFile();
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;

    // Opens for reading only, always; `extraFlags` may add flags such as O_DIRECT but never write access.
    // Directories and other things that are neither regular files nor block devices are refused.
    bool Open(const std::string& path, int extraFlags = 0);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    bool IsBlockDevice() const { return isBlockDevice_; }

    // Reads up to `count` bytes at `offset`; true unless the system reports an error. A read that meets
    // the end of the source stops there and sets `*bytesRead` to what was read.
    bool ReadAt(void* buffer, size_t count, uint64_t offset, size_t* bytesRead = nullptr) const;

    // Exact size in bytes: the file size, or the block device's size.
    uint64_t Size() const;
    // Geometry of a block device when it answers the geometry request; nullopt for files.
    std::optional<DiskGeometry> Geometry() const;
    // The file-system name found on the device (libblkid): "FAT" for FAT12/16, "FAT32", "exFAT",
    // "NTFS", another type upper-cased, or empty when nothing is recognised.
    std::string FileSystemName() const;

private:
    int fd_ = -1;
    bool isBlockDevice_ = false;
};

}  // namespace tabulon
