#include "fragment/png_chunk_check.h"

#include <algorithm>
#include <array>

namespace tabulon {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kMaxChunk = 0x7FFFFFFF;  // the format's own bound on a chunk's length

constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table {};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t UpdateCrc(uint32_t crc, std::span<const uint8_t> bytes) {
    for (const uint8_t b : bytes) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t LoadBigEndian(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool PngChunkCheck::JudgesWithin(uint64_t bytes) const {
    switch (state_) {
        case State::Signature: return uint64_t(sizeof kSignature - have_) <= bytes;
        case State::Header:
        case State::Crc: return uint64_t((state_ == State::Header ? 8 : 4) - have_) <= bytes;
        case State::Data: return uint64_t(dataLeft_) + 4 <= bytes;
        case State::Ended: return false;
    }
    return false;
}

// A chunk's length and type were read.
bool PngChunkCheck::EndHeader() {
    const uint32_t length = LoadBigEndian(field_);
    if (length > kMaxChunk || !std::all_of(field_ + 4, field_ + 8, IsLetter)) return false;
    lastChunk_ = std::equal(field_ + 4, field_ + 8, "IEND");
    crc_ = UpdateCrc(0xFFFFFFFFu, std::span(field_ + 4, 4));
    dataLeft_ = length;
    state_ = State::Data;
    have_ = 0;
    return true;
}

bool PngChunkCheck::Feed(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        switch (state_) {
            case State::Ended:
                return true;
            case State::Signature:
                if (bytes[0] != kSignature[have_]) return false;
                bytes = bytes.subspan(1);
                if (++have_ == sizeof kSignature) {
                    have_ = 0;
                    state_ = State::Header;
                }
                break;
            case State::Header:
                field_[have_++] = bytes[0];
                bytes = bytes.subspan(1);
                if (have_ == 8 && !EndHeader()) return false;
                break;
            case State::Data: {
                const size_t take = std::min<size_t>(dataLeft_, bytes.size());
                crc_ = UpdateCrc(crc_, bytes.first(take));
                dataLeft_ -= uint32_t(take);
                bytes = bytes.subspan(take);
                if (dataLeft_ == 0) state_ = State::Crc;
                break;
            }
            case State::Crc:
                field_[have_++] = bytes[0];
                bytes = bytes.subspan(1);
                if (have_ < 4) break;
                if (LoadBigEndian(field_) != (crc_ ^ 0xFFFFFFFFu)) return false;
                have_ = 0;
                state_ = lastChunk_ ? State::Ended : State::Header;
                break;
        }
    }
    return true;
}

}  // namespace tabulon
