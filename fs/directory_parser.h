#pragma once
// Turning raw 32-byte directory slots into FileEntry children: the rules for live directories (the
// "ROOT" tree) and the rules for folders found by content (lost folders, the raw disk scan).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/file_entry.h"
#include "fs/volume_analyser.h"

namespace tabulon {

// Live-directory rules. Builds parent's children array from `slotCount` slots: long names assembled
// backwards, short names through the code page with the NT case bits, deletion marks (0xE5, 0xEB) set
// Deleted and OwnDeleted (0x05 is a live name that starts with the byte 0xE5), volume labels and dot
// entries skipped, a slot that starts with 0x00 0x00 ends the directory. Children inherit Deleted from the parent, are sorted and have their
// duplicate names resolved. `scratch` is reused between calls. Any previous children are replaced.
bool ParseDirectorySlots(FileEntry& parent, const uint8_t* slots, size_t slotCount, FatType type,
                         std::vector<FileEntry>& scratch);

// Lost-folder rules: the children of one found directory cluster (or run of sectors). Counting stops at
// the first slot whose first byte is 0; long names are checked against their sequence numbers for live
// entries; a deleted slot with the directory attribute is a directory only when its size is 0 or one
// cluster-sized value. Children are appended to `record`, which is then sorted and its duplicate names
// resolved. Returns the number of children added.
size_t ParseLostFolderSlots(FileEntry& record, const uint8_t* slots, size_t slotCount, FatType type);

}  // namespace tabulon
