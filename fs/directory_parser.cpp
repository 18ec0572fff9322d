#include "fs/directory_parser.h"

#include <algorithm>

#include "common/little_endian.h"
#include "fs/directory_slot.h"
#include "fs/duplicate_names.h"
#include "fs/name_pool.h"

namespace tabulon {
namespace {

void TrimSpaces(std::u16string& text) {
    size_t begin = 0;
    while (begin < text.size() && text[begin] == u' ') ++begin;
    size_t end = text.size();
    while (end > begin && text[end - 1] == u' ') --end;
    text = text.substr(begin, end - begin);
}

// Live rules: consecutive long-name slots before the entry, walked backwards, each up to its NUL.
std::u16string LiveLongName(const uint8_t* slots, size_t index) {
    std::u16string name;
    for (size_t k = index; k > 0; --k) {
        const uint8_t* slot = slots + (k - 1) * kSlotBytes;
        if (!IsLongNameSlot(slot)) break;
        AppendLongNameCharacters(name, slot);
    }
    return name;
}

// Lost-folder rules: as above, with the sequence check for live entries, and never across a "." slot,
// a volume label or the start of the data.
std::u16string LostLongName(const uint8_t* slots, size_t index, bool checkSequence) {
    std::u16string name;
    uint32_t expected = 1;
    for (size_t k = index; k > 0; --k, ++expected) {
        const uint8_t* slot = slots + (k - 1) * kSlotBytes;
        if (!IsLongNameSlot(slot)) break;
        if (slot[0] == '.') break;
        const int8_t first = static_cast<int8_t>(slot[0]);
        if (checkSequence && first < 0x41 && uint32_t(slot[0]) != expected) break;
        AppendLongNameCharacters(name, slot);
        if (first >= 0x41) break;
    }
    return name;
}

void FinishChildren(FileEntry& parent) {
    SortChildren(parent);
    ResolveDuplicateNames(parent);
}

}  // namespace

bool ParseDirectorySlots(FileEntry& parent, const uint8_t* slots, size_t slotCount, FatType type,
                         std::vector<FileEntry>& scratch) {
    parent.children.clear();
    if (slots == nullptr) return false;
    scratch.clear();
    if (scratch.capacity() < slotCount) scratch.reserve(slotCount);
    NamePool& pool = NamePool::Global();

    for (size_t i = 0; i < slotCount; ++i) {
        const uint8_t* slot = slots + i * kSlotBytes;
        uint8_t first = slot[0];
        if (IsLongNameSlot(slot)) {
            // The slot that ends a long name (0x41..0x7F) tells how many parts follow it.
            const int8_t signedFirst = static_cast<int8_t>(first);
            if (signedFirst > 0x40) i += static_cast<size_t>(signedFirst - 0x41);
            continue;
        }
        if (first == '.' || (slot[11] & kVolumeLabelAttribute)) continue;
        uint32_t flags = parent.flags & FileEntryFlags::Deleted;
        if (first == 0) {
            if (slot[1] == 0) break;
            first = ' ';
        } else if (first == kEscapedE5) {
            first = 0xE5;
        } else if (IsDeletedSlotStart(first)) {
            if (slot[1] >= 0x01 && slot[1] <= 0x7F) first = ' ';
            flags = FileEntryFlags::Deleted | FileEntryFlags::OwnDeleted;
        }

        FileEntry entry;
        entry.flags = flags;
        FillEntryFromSlot(entry, slot, type);
        std::u16string name = i > 0 ? LiveLongName(slots, i) : std::u16string();
        if (name.empty()) name = ShortSlotName(slot, first, true);
        entry.name = pool.Add(name);
        entry.parent = &parent;
        scratch.push_back(std::move(entry));
    }
    if (scratch.empty()) return true;
    parent.children = std::move(scratch);
    std::vector<FileEntry>().swap(scratch);
    FinishChildren(parent);
    return true;
}

size_t ParseLostFolderSlots(FileEntry& record, const uint8_t* slots, size_t slotCount, FatType type) {
    if (slots == nullptr) return 0;
    static constexpr uint32_t kClusterSizedFat12 = 512;
    static constexpr uint32_t kClusterSizedFat16 = 8192;
    static constexpr uint32_t kClusterSizedFat32 = 4096;
    const uint32_t clusterSized = type == FatType::Fat32   ? kClusterSizedFat32
                                  : type == FatType::Fat16 ? kClusterSizedFat16
                                                           : kClusterSizedFat12;
    NamePool& pool = NamePool::Global();
    size_t added = 0;
    for (size_t i = 0; i < slotCount; ++i) {
        const uint8_t* slot = slots + i * kSlotBytes;
        uint8_t first = slot[0];
        if (first == 0) break;
        if ((slot[11] & kVolumeLabelAttribute) || first == '.') continue;
        const bool deleted = IsDeletedSlotStart(first);
        if (first == kEscapedE5) first = 0xE5;

        FileEntry entry;
        entry.flags = deleted ? (FileEntryFlags::Deleted | FileEntryFlags::OwnDeleted)
                              : (record.flags & FileEntryFlags::Deleted);
        FillEntryFromSlot(entry, slot, type);
        if (entry.IsDirectory() && deleted && entry.size != 0 && entry.size != clusterSized)
            entry.flags &= ~FileEntryFlags::Directory;
        const bool checkSequence = !deleted && (slot[0] & 1) == 0;
        std::u16string name = i > 0 ? LostLongName(slots, i, checkSequence) : std::u16string();
        if (name.empty()) name = ShortSlotName(slot, first, !entry.IsDirectory());
        TrimSpaces(name);
        entry.name = pool.Add(name);
        record.children.push_back(std::move(entry));
        ++added;
    }
    if (added > 0) FinishChildren(record);
    return added;
}

}  // namespace tabulon
