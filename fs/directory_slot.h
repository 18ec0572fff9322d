#pragma once
// The 32-byte FAT directory slot: field access, names and time conversion shared by the directory
// parsers (live directories, lost folders, the raw disk scan).

#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/file_entry.h"
#include "fs/volume_analyser.h"

namespace tabulon {

constexpr size_t kSlotBytes = 32;
constexpr uint8_t kLongNameAttributes = 0x0F;
constexpr uint8_t kVolumeLabelAttribute = 0x08;
constexpr uint8_t kDirectoryAttribute = 0x10;

inline bool IsLongNameSlot(const uint8_t* slot) { return slot[11] == kLongNameAttributes; }
inline bool IsDeletionMark(uint8_t firstByte) { return firstByte == 0x05 || firstByte == 0xE5 || firstByte == 0xEB; }
// A live entry whose name starts with the byte 0xE5 (a lead byte of double-byte code pages such as
// GBK and Shift-JIS) stores 0x05 instead, so that it is not taken for deleted.
constexpr uint8_t kEscapedE5 = 0x05;
inline bool IsDeletedSlotStart(uint8_t firstByte) { return firstByte != kEscapedE5 && IsDeletionMark(firstByte); }
// "." padded with spaces at the start of a cluster, followed by ".." padded with spaces: the first two
// slots of every subdirectory. `slots` holds at least 64 bytes.
bool StartsWithDotSlots(const uint8_t* slots);

// FAT time (2-second units) to the entry layout: seconds in bits 0-5, minutes 6-11, hours 12-16.
uint32_t ConvertFatTime(uint16_t fatTime);
// The slot's first cluster: the low word on FAT12/16, high word << 16 | low word on FAT32.
uint32_t SlotFirstCluster(const uint8_t* slot, FatType type);

// The 8.3 name: NT case bits applied, bytes converted through the short-name code page, trailing
// spaces dropped, "." and the extension appended when `withExtension` and there is one. `firstByte`
// replaces the slot's first byte (deletion marks and the 0x00 rule).
std::u16string ShortSlotName(const uint8_t* slot, uint8_t firstByte, bool withExtension);
// Appends the 13 characters of a long-name slot up to the first NUL (or 0xFFFF padding).
void AppendLongNameCharacters(std::u16string& name, const uint8_t* slot);

// Copies attributes, dates, converted times, size and first cluster into `entry`; `Directory` follows
// attribute bit 4.
void FillEntryFromSlot(FileEntry& entry, const uint8_t* slot, FatType type);

}  // namespace tabulon
