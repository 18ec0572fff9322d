#include "source/platform_file.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace tabulon {

PlatformFile::~PlatformFile() { Close(); }

bool PlatformFile::Open(const std::string& path, int extraFlags) {
    Close();
    if (path.empty()) return false;
    const int forbidden = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (extraFlags & ~forbidden));
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    isBlockDevice_ = S_ISBLK(info.st_mode);
    return true;
}

void PlatformFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    isBlockDevice_ = false;
}

bool PlatformFile::ReadAt(void* buffer, size_t count, uint64_t offset, size_t* bytesRead) const {
    size_t done = 0;
    bool ok = fd_ >= 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (ok && done < count) {
        ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
        } else if (n == 0) {
            break;  // end of the source
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (bytesRead) *bytesRead = done;
    return ok;
}

uint64_t PlatformFile::Size() const {
    if (fd_ < 0) return 0;
    if (isBlockDevice_) {
        uint64_t bytes = 0;
        if (ioctl(fd_, BLKGETSIZE64, &bytes) == 0) return bytes;
        return 0;
    }
    struct stat info {};
    if (fstat(fd_, &info) != 0 || info.st_size < 0) return 0;
    return static_cast<uint64_t>(info.st_size);
}

std::optional<DiskGeometry> PlatformFile::Geometry() const {
    if (fd_ < 0 || !isBlockDevice_) return std::nullopt;
    hd_geometry geometry {};
    if (ioctl(fd_, HDIO_GETGEO, &geometry) != 0 || geometry.heads == 0 || geometry.sectors == 0)
        return std::nullopt;
    DiskGeometry result;
    result.tracksPerCylinder = geometry.heads;
    result.sectorsPerTrack = geometry.sectors;
    int logicalSector = 0;
    result.bytesPerSector = ioctl(fd_, BLKSSZGET, &logicalSector) == 0 ? static_cast<uint32_t>(logicalSector) : 512;
    // The kernel's cylinder field is 16-bit; derive the count from the exact size instead.
    uint64_t perCylinder = uint64_t(result.tracksPerCylinder) * result.sectorsPerTrack * 512;
    result.cylinders = perCylinder ? Size() / perCylinder : 0;
    return result;
}

std::string PlatformFile::FileSystemName() const {
    if (fd_ < 0) return {};
    blkid_probe probe = blkid_new_probe();
    if (!probe) return {};
    std::string name;
    if (blkid_probe_set_device(probe, fd_, 0, 0) == 0) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
        if (blkid_do_safeprobe(probe) == 0) {
            const char* type = nullptr;
            const char* version = nullptr;
            blkid_probe_lookup_value(probe, "TYPE", &type, nullptr);
            blkid_probe_lookup_value(probe, "VERSION", &version, nullptr);
            std::string typeText = type ? type : "";
            std::string versionText = version ? version : "";
            if (typeText == "vfat") {
                name = versionText == "FAT32" ? "FAT32" : "FAT";
            } else if (typeText == "exfat") {
                name = "exFAT";
            } else if (typeText == "ntfs") {
                name = "NTFS";
            } else {
                name = typeText;
                std::transform(name.begin(), name.end(), name.begin(),
                               [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            }
        }
    }
    blkid_free_probe(probe);
    return name;
}

}  // namespace tabulon
