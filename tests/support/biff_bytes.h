#pragma once
// Builds BIFF8 record bytes for tests: little-endian fields appended in order.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string_view>
#include <vector>

namespace tabulon::test {

class BiffBytes {
public:
    BiffBytes& U8(uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    BiffBytes& U16(uint16_t v) { return U8(uint8_t(v)).U8(uint8_t(v >> 8)); }
    BiffBytes& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
    BiffBytes& Zeros(size_t n) {
        bytes_.insert(bytes_.end(), n, 0);
        return *this;
    }
    // 8-bit characters, without count or option byte.
    BiffBytes& Latin1(std::string_view text) {
        for (char c : text) U8(uint8_t(c));
        return *this;
    }
    // UTF-16 characters, without count or option byte.
    BiffBytes& Utf16(std::u16string_view text) {
        for (char16_t c : text) U16(c);
        return *this;
    }
    // A string with a 16-bit count and an option byte of 0 (8-bit characters).
    BiffBytes& LongString(std::string_view text) { return U16(uint16_t(text.size())).U8(0).Latin1(text); }
    BiffBytes& Append(const std::vector<uint8_t>& more) {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
        return *this;
    }
    // A whole record: type, the body's length and the body.
    BiffBytes& Record(uint16_t type, const BiffBytes& body) {
        return U16(type).U16(uint16_t(body.Size())).Append(body.Bytes());
    }
    // A record whose length field says `length`, whatever the body holds.
    BiffBytes& Record(uint16_t type, uint16_t length, const BiffBytes& body) {
        return U16(type).U16(length).Append(body.Bytes());
    }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

// The parts one after the other.
inline BiffBytes Join(std::initializer_list<BiffBytes> parts) {
    BiffBytes all;
    for (const BiffBytes& part : parts) all.Append(part.Bytes());
    return all;
}

// `records` (whole records) as a workbook encrypted after its FILEPASS keeps them: every body turned into
// key-stream bytes, the headers plain.
inline std::vector<uint8_t> EncryptBodies(std::vector<uint8_t> records, uint32_t seed) {
    std::mt19937 keyStream(seed);
    for (size_t at = 0; at + 4 <= records.size();) {
        const size_t end = std::min(records.size(), at + 4 + (size_t(records[at + 2]) | size_t(records[at + 3]) << 8));
        for (size_t k = at + 4; k < end; ++k) records[k] ^= uint8_t(keyStream());
        at = end;
    }
    return records;
}

}  // namespace tabulon::test
