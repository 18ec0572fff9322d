#pragma once
// Sizes in bytes of BIFF8 Unicode strings found in raw buffers. The option byte of a string has
// bit 0 = 16-bit characters, bit 2 = extended (phonetic) data follows, bit 3 = rich-text runs follow;
// any of the bits 0xF2 set makes it invalid and the size 0.
//
// Every function reads only bytes inside [0, length) of the buffer. When a header byte the size depends
// on (count, option, run count, extension size) lies at or beyond `length`, the result is empty: the
// string is cut off by the end of the buffer and its size cannot be known. Sizes that would exceed
// 32 bits saturate at 0xFFFFFFFF, which no 16-bit record length can match.

#include <cstdint>
#include <optional>

#include "common/little_endian.h"

namespace tabulon {

namespace biff_string_detail {

inline constexpr uint8_t kSixteenBit = 0x01;
inline constexpr uint8_t kExtended = 0x04;
inline constexpr uint8_t kRichText = 0x08;
inline constexpr uint8_t kInvalidBits = 0xF2;

inline bool Inside(uint32_t length, uint64_t offset, uint32_t bytes) { return offset + bytes <= length; }
inline uint32_t Saturate(uint64_t size) { return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size); }

}  // namespace biff_string_detail

// A string with an 8-bit character count at `offset` and the option byte after it. A count of 0 gives
// 2 without looking at the option byte. Run and extension data are not counted.
inline std::optional<uint32_t> ShortStringSize(const uint8_t* buffer, uint32_t length, uint32_t offset) {
    using namespace biff_string_detail;
    if (!Inside(length, offset, 1)) return std::nullopt;
    uint32_t count = buffer[offset];
    if (count == 0) return 2u;
    if (!Inside(length, uint64_t(offset) + 1, 1)) return std::nullopt;
    uint8_t option = buffer[offset + 1u];
    if (option & kInvalidBits) return 0u;
    return 2u + count * ((option & kSixteenBit) ? 2u : 1u);
}

// A string with a 16-bit character count at `offset`, then the option byte, the run count (when rich)
// and the extension size (when extended); the size includes characters, runs and extension data.
inline std::optional<uint32_t> LongStringSize(const uint8_t* buffer, uint32_t length, uint32_t offset) {
    using namespace biff_string_detail;
    if (!Inside(length, offset, 3)) return std::nullopt;
    uint64_t count = LoadU16(buffer + offset);
    uint8_t option = buffer[offset + 2u];
    if (option & kInvalidBits) return 0u;
    uint64_t header = 3, runs = 0, extension = 0;
    if (option & kRichText) {
        if (!Inside(length, uint64_t(offset) + 3, 2)) return std::nullopt;
        runs = LoadU16(buffer + offset + 3u);
        header = 5;
    }
    if (option & kExtended) {
        if (!Inside(length, offset + header, 4)) return std::nullopt;
        extension = LoadU32(buffer + offset + header);
        header += 4;
    }
    return Saturate(header + count * ((option & kSixteenBit) ? 2 : 1) + 4 * runs + extension);
}

// A string whose character count the caller knows; the option byte is at `offset`. Extended strings
// carry 4 more bytes than their header, characters, runs and extension data.
inline std::optional<uint32_t> CountlessStringSize(const uint8_t* buffer, uint32_t length, uint32_t offset,
                                                   uint32_t chars) {
    using namespace biff_string_detail;
    if (!Inside(length, offset, 1)) return std::nullopt;
    uint8_t option = buffer[offset];
    if (option & kInvalidBits) return 0u;
    uint64_t header = 1, runs = 0;
    if (option & kRichText) {
        if (!Inside(length, uint64_t(offset) + 1, 2)) return std::nullopt;
        runs = LoadU16(buffer + offset + 1u);
        header = 3;
    }
    uint64_t charBytes = uint64_t(chars) * ((option & kSixteenBit) ? 2 : 1);
    if (option & kExtended) {
        if (!Inside(length, offset + header, 4)) return std::nullopt;
        uint64_t extension = LoadU32(buffer + offset + header);
        return Saturate(header + charBytes + 4 * runs + extension + 4);
    }
    return Saturate(header + charBytes + 4 * runs);
}

}  // namespace tabulon
