#pragma once
// Text inside BIFF8 record bodies: a value with a wide form, a narrow (8-bit) form and the flag
// that decides which one is written, and the short (8-bit count) and long (16-bit count) string
// forms. Written strings carry option flags 0 (8-bit characters) or 1 (16-bit characters) only.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tabulon {

inline constexpr size_t kMaxShortStringLength = 255;
inline constexpr size_t kMaxLongStringLength = 65535;

struct BiffText {
    std::u16string wide;
    std::string narrow;
    bool is16Bit = false;

    static BiffText Wide(std::u16string_view text);
    static BiffText Narrow(std::string_view text);
    // Characters in the written form, at most `limit`.
    size_t Length(size_t limit) const;
    // Bytes of the written characters, at most `limit` characters.
    size_t CharacterBytes(size_t limit) const { return Length(limit) * (is16Bit ? 2 : 1); }
    // The text as UTF-16; 8-bit characters are the first 256 code points.
    std::u16string ToWide() const;
    bool operator==(const BiffText& other) const;
};

// Size and writing of a short string (count 1, flags 1, characters); texts past 255 characters are cut.
size_t ShortStringSize(const BiffText& text);
size_t WriteShortString(uint8_t* out, const BiffText& text);
// Size and writing of a long string (count 2, flags 1, characters); cut past 65535 characters.
size_t LongStringSize(const BiffText& text);
size_t WriteLongString(uint8_t* out, const BiffText& text);
// Writes `count` characters of `text` starting at character `first` (no header).
void WriteCharacters(uint8_t* out, const BiffText& text, size_t first, size_t count);

// Reads a short string at `position` of `body`; false when it does not fit.
bool ReadShortString(std::span<const uint8_t> body, size_t& position, BiffText& text);
// Reads a long string at `position`. Where a CONTINUE record starts inside the characters
// (`continueOffsets`, body offsets), the continuation begins with a fresh option-flags byte that
// may switch between 8-bit and 16-bit characters. Rich-text runs and extended data are skipped.
bool ReadLongString(std::span<const uint8_t> body, size_t& position, std::span<const uint32_t> continueOffsets,
                    BiffText& text);

}  // namespace tabulon
