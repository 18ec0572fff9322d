#pragma once
// A FatVolume opened on an image file the way the load worker wires it: a SourceDisk owning the
// device, the boot sector handed over as the snapshot, the FAT type from ClassifyBootSector.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fs/disk_node.h"
#include "fs/fat_volume.h"
#include "fs/file_entry.h"

namespace tabulon::test {

struct OpenedVolume {
    std::unique_ptr<SourceDisk> disk;
    std::unique_ptr<FatVolume> volume;
    bool opened = false;  // the device opened
    bool mounted = false;
};

// Opens `imagePath` and wires a FatVolume for the volume at `partitionStart`. The FAT type comes from
// classifying that sector, unless `declaredType` is given (for damaged boot sectors). Mounts when
// `mount` is set.
OpenedVolume OpenFatImage(const std::string& imagePath, uint32_t partitionStart = 0, bool mount = true,
                          FatType declaredType = FatType::None);

// The entry at a "/"-separated path of UTF-8 names below `root` (first match, case-sensitive);
// null when there is none. With `deleted` the entry must carry Deleted, without it must not.
const FileEntry* FindEntry(const FileEntry& root, std::string_view path, bool deleted = false);

std::string Utf8Name(const FileEntry& entry);

// Reads an entry's data through BuildChain and ReadFileData: its first `size` bytes.
bool ReadEntry(FatVolume& volume, const FileEntry& entry, std::vector<uint8_t>& out);

}  // namespace tabulon::test
