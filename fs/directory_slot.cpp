#include "fs/directory_slot.h"

#include <array>
#include <cstring>

#include "common/little_endian.h"
#include "fs/code_page.h"

namespace tabulon {
namespace {

constexpr int kLongNameOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
constexpr uint8_t kLowerBaseName = 0x08;
constexpr uint8_t kLowerExtension = 0x10;

uint8_t LowerAscii(uint8_t b) { return (b >= 'A' && b <= 'Z') ? static_cast<uint8_t>(b - 'A' + 'a') : b; }

void DropTrailingSpaces(std::u16string& text) {
    while (!text.empty() && text.back() == u' ') text.pop_back();
}

}  // namespace

bool StartsWithDotSlots(const uint8_t* slots) {
    static constexpr char kDot[] = ".          ";
    static constexpr char kDotDot[] = "..         ";
    return std::memcmp(slots, kDot, 8) == 0 && std::memcmp(slots + 32, kDotDot, 8) == 0;
}

uint32_t ConvertFatTime(uint16_t t) {
    const uint32_t seconds = (t & 0x1Fu) * 2;
    const uint32_t minutes = (t >> 5) & 0x3Fu;
    const uint32_t hours = (t >> 11) & 0x1Fu;
    return seconds | (minutes << 6) | (hours << 12);
}

uint32_t SlotFirstCluster(const uint8_t* slot, FatType type) {
    const uint32_t low = LoadU16(slot + 26);
    return type == FatType::Fat32 ? (uint32_t(LoadU16(slot + 20)) << 16) | low : low;
}

std::u16string ShortSlotName(const uint8_t* slot, uint8_t firstByte, bool withExtension) {
    std::array<uint8_t, 11> bytes {};
    std::memcpy(bytes.data(), slot, 11);
    bytes[0] = firstByte;
    const uint8_t caseBits = slot[12];
    if (caseBits & kLowerBaseName)
        for (int i = 0; i < 8; ++i) bytes[i] = LowerAscii(bytes[i]);
    if (caseBits & kLowerExtension)
        for (int i = 8; i < 11; ++i) bytes[i] = LowerAscii(bytes[i]);
    std::u16string name = DecodeShortNameBytes(bytes.data(), 8);
    DropTrailingSpaces(name);
    // A one-letter name whose letter became the deletion mark's space keeps that space: without it the
    // name would be only its extension (".xls"), which the extension test refuses, and the deleted file
    // would not be listed at all.
    if (name.empty() && bytes[0] == ' ') name.push_back(u' ');
    const bool hasExtension = bytes[8] != 0 && !(bytes[8] == ' ' && bytes[9] == ' ' && bytes[10] == ' ');
    if (withExtension && hasExtension) {
        std::u16string extension = DecodeShortNameBytes(bytes.data() + 8, 3);
        DropTrailingSpaces(extension);
        name += u'.';
        name += extension;
    }
    return name;
}

void AppendLongNameCharacters(std::u16string& name, const uint8_t* slot) {
    for (int offset : kLongNameOffsets) {
        const char16_t unit = static_cast<char16_t>(LoadU16(slot + offset));
        if (unit == 0 || unit == 0xFFFF) return;
        name.push_back(unit);
    }
}

void FillEntryFromSlot(FileEntry& entry, const uint8_t* slot, FatType type) {
    entry.attributes = slot[11];
    entry.creationTime = ConvertFatTime(LoadU16(slot + 14));
    entry.creationDate = LoadU16(slot + 16);
    entry.accessDate = LoadU16(slot + 18);
    entry.modificationTime = ConvertFatTime(LoadU16(slot + 22));
    entry.modificationDate = LoadU16(slot + 24);
    entry.size = LoadU32(slot + 28);
    entry.start = SlotFirstCluster(slot, type);
    if (slot[11] & kDirectoryAttribute)
        entry.flags |= FileEntryFlags::Directory;
    else
        entry.flags &= ~FileEntryFlags::Directory;
}

}  // namespace tabulon
