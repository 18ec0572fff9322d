#pragma once
// Names of data sources: a FAT volume (a partition block device), a whole disk (a block device that is
// not a partition, or the alias HDn), or an image file (any other path).

#include <optional>
#include <string>
#include <string_view>

namespace tabulon {

enum class SourceKind { Volume, Disk, Image };

struct SourceName {
    SourceKind kind = SourceKind::Image;
    std::string text;        // the name as the user gave it
    std::string devicePath;  // what is opened: the block device or the file
    int diskNumber = -1;     // n of an HDn alias, else -1

    // Empty text is refused; everything else is one of the three kinds. HDn resolves through
    // /sys/block (see DiskAliasPath); an alias with no such disk keeps its own text as the path so that
    // opening it fails cleanly.
    static std::optional<SourceName> Parse(std::string_view text);
};

// The n-th whole disk in /sys/block order (loop and ram devices excluded), as "/dev/NAME"; empty when
// there is none. `sysBlock` is a seam for tests.
std::string DiskAliasPath(int diskNumber, const std::string& sysBlock = "/sys/block");

// Kind of a /dev path from its name and /sys: partition devices have a "partition" attribute.
// Returns nullopt for paths that are not block devices.
std::optional<SourceKind> BlockDeviceKind(const std::string& path, const std::string& sysClassBlock = "/sys/class/block");

}  // namespace tabulon
