#pragma once
// Decoding of the BIFF8 string forms the preview reads: the short strings of sheet and font names and
// the shared-string table, whose strings may continue from one record into the next.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tabulon {

// A stretch of record body bytes.
struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// A string with an 8-bit character count and an option byte (bit 0: 16-bit characters), read from
// `available` bytes. Characters that do not fit are left off; at most `maxCharacters` are kept.
std::u16string ReadShortString(const uint8_t* data, size_t available, size_t maxCharacters);

// The longest strings the shared-string table keeps; longer ones become empty texts.
constexpr size_t kMaxSharedStringWide = 1500;    // 16-bit characters
constexpr size_t kMaxSharedStringNarrow = 3000;  // 8-bit characters

// Reads up to `count` strings (16-bit character count, option byte, optional rich-text run count and
// phonetic size, characters, then the runs and the phonetic block, which are skipped) from the
// shared-string table's bodies: `segments` are the SST body from its first string on, followed by the
// bodies of the CONTINUE records that extend it. When the characters of a string go on in the next
// segment, that segment starts with a new option byte. The list ends when the next 3-byte header no
// longer fits or an option byte is invalid. A string that is too long or runs past the data is kept
// as an empty text.
std::vector<std::u16string> ReadSharedStrings(const std::vector<ByteSpan>& segments, uint32_t count);

}  // namespace tabulon
