#include "workbook/compound_directory_entry.h"

#include <cstring>

#include "common/little_endian.h"

namespace tabulon {

void CompoundDirectoryEntry::Serialize(uint8_t* out) const {
    std::memset(out, 0, kDirectoryEntrySize);
    size_t length = name.size() < kMaxEntryNameLength ? name.size() : kMaxEntryNameLength;
    for (size_t i = 0; i < length; ++i) StoreU16(out + 2 * i, name[i]);
    StoreU16(out + 64, static_cast<uint16_t>((length + 1) * 2));
    out[66] = static_cast<uint8_t>(type);
    out[67] = colour;
    StoreU32(out + 68, leftSibling);
    StoreU32(out + 72, rightSibling);
    StoreU32(out + 76, child);
    std::memcpy(out + 80, classId.data(), classId.size());
    StoreU32(out + 96, stateBits);
    StoreU64(out + 100, creationTime);
    StoreU64(out + 108, modificationTime);
    StoreU32(out + 116, startSector);
    StoreU32(out + 120, size);
    StoreU32(out + 124, 0);
}

void CompoundDirectoryEntry::SerializeUnused(uint8_t* out) {
    std::memset(out, 0, kDirectoryEntrySize);
    StoreU32(out + 68, kNoEntry);
    StoreU32(out + 72, kNoEntry);
    StoreU32(out + 76, kNoEntry);
}

int CompareEntryNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = (a[i] >= u'a' && a[i] <= u'z') ? static_cast<char16_t>(a[i] - 32) : a[i];
        char16_t y = (b[i] >= u'a' && b[i] <= u'z') ? static_cast<char16_t>(b[i] - 32) : b[i];
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace tabulon
