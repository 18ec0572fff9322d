#pragma once
// One 128-byte directory entry of a compound document, and the order of entry names.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "workbook/compound_header.h"

namespace tabulon {

enum class CompoundEntryType : uint8_t { Empty = 0, Storage = 1, Stream = 2, Root = 5 };

inline constexpr size_t kMaxEntryNameLength = 31;  // characters, without the terminator
inline constexpr uint32_t kDirectoryEntrySize = 128;

struct CompoundDirectoryEntry {
    std::u16string name;
    CompoundEntryType type = CompoundEntryType::Storage;
    uint8_t colour = 1;  // black
    uint32_t leftSibling = kNoEntry;
    uint32_t rightSibling = kNoEntry;
    uint32_t child = kNoEntry;
    std::array<uint8_t, 16> classId {};
    uint32_t stateBits = 0;
    uint64_t creationTime = 0;
    uint64_t modificationTime = 0;
    uint32_t startSector = kEndOfChain;
    uint32_t size = 0;

    uint16_t NameLengthBytes() const { return static_cast<uint16_t>((name.size() + 1) * 2); }
    void Serialize(uint8_t* out) const;  // 128 bytes
    // An unused slot: all zero but for the three links, which name no entry.
    static void SerializeUnused(uint8_t* out);
};

// The order of directory entries: shorter names first, then code unit by code unit after folding
// a-z to upper case (readers search the sibling trees with this comparison).
int CompareEntryNames(std::u16string_view a, std::u16string_view b);

}  // namespace tabulon
