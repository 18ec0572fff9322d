#pragma once
// Follows a PNG picture byte by byte, so that a block of it can be judged: its signature, then chunks of
// a length, a four-letter type, data and a CRC of type and data. A chunk header stands where the chunk
// before ends, and every chunk's CRC must agree with the bytes fed for it: bytes of another place put in
// a chunk's data are refused at the chunk's end, however like picture data they look.

#include <cstdint>
#include <span>

namespace tabulon {

class PngChunkCheck {
public:
    // The picture's next bytes. False when they cannot continue it; after its end chunk any bytes pass.
    bool Feed(std::span<const uint8_t> bytes);
    bool Ended() const { return state_ == State::Ended; }
    // Whether the next `bytes` bytes complete a chunk header or a CRC, where the check judges.
    bool JudgesWithin(uint64_t bytes) const;

private:
    enum class State : uint8_t { Signature, Header, Data, Crc, Ended };
    bool EndHeader();

    State state_ = State::Signature;
    uint8_t field_[8] {};
    uint8_t have_ = 0;
    uint32_t dataLeft_ = 0;
    uint32_t crc_ = 0;  // running CRC of the chunk's type and data, before the final inversion
    bool lastChunk_ = false;
};

}  // namespace tabulon
