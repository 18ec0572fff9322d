#include "source/source_name.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <dirent.h>
#include <fstream>
#include <vector>

namespace tabulon {
namespace {

bool IsDiskAlias(std::string_view text, int& number) {
    if (text.size() < 3 || text.size() > 12) return false;
    if (std::toupper(static_cast<unsigned char>(text[0])) != 'H' ||
        std::toupper(static_cast<unsigned char>(text[1])) != 'D')
        return false;
    std::string_view digits = text.substr(2);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size();
}

bool IsExcludedDisk(const std::string& name) {
    return name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0;
}

}  // namespace

std::string DiskAliasPath(int diskNumber, const std::string& sysBlock) {
    if (diskNumber < 0) return {};
    std::vector<std::string> names;
    if (DIR* dir = opendir(sysBlock.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == ".." || IsExcludedDisk(name)) continue;
            names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    if (static_cast<size_t>(diskNumber) >= names.size()) return {};
    return "/dev/" + names[static_cast<size_t>(diskNumber)];
}

std::optional<SourceKind> BlockDeviceKind(const std::string& path, const std::string& sysClassBlock) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
    // /sys/dev/block/MAJ:MIN/partition exists for partitions; fall back to the name under /sys/class/block.
    std::string byNumber = "/sys/dev/block/" + std::to_string(major(info.st_rdev)) + ":" +
                           std::to_string(minor(info.st_rdev)) + "/partition";
    struct stat attribute {};
    if (stat(byNumber.c_str(), &attribute) == 0) return SourceKind::Volume;
    std::string base = path.substr(path.find_last_of('/') + 1);
    if (stat((sysClassBlock + "/" + base + "/partition").c_str(), &attribute) == 0) return SourceKind::Volume;
    return SourceKind::Disk;
}

std::optional<SourceName> SourceName::Parse(std::string_view text) {
    if (text.empty() || text.find('\0') != std::string_view::npos) return std::nullopt;
    SourceName name;
    name.text = std::string(text);
    int number = -1;
    if (IsDiskAlias(text, number)) {
        name.kind = SourceKind::Disk;
        name.diskNumber = number;
        name.devicePath = DiskAliasPath(number);
        if (name.devicePath.empty()) name.devicePath = name.text;
        return name;
    }
    name.devicePath = name.text;
    if (auto blockKind = BlockDeviceKind(name.devicePath)) {
        name.kind = *blockKind;
    } else {
        name.kind = SourceKind::Image;
    }
    return name;
}

}  // namespace tabulon
