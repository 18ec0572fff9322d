#pragma once
// Follows a JPEG picture byte by byte, so that a block of it can be judged: its marker segments (a
// marker, then a length that the marker's kind bounds) and its entropy-coded scans, where a 0xFF byte is
// followed only by a stuffed zero, a restart marker, the end of the picture or, between the scans of a
// progressive picture, a table or scan header. Bytes of anything else than a JPEG scan put a 0xFF with
// another byte after it within a few hundred bytes. The scans of a baseline picture are decoded as
// well, with the tables its headers define: bytes of another place of the picture, or of another
// picture, do not decode.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fragment/jpeg_entropy_decoder.h"

namespace tabulon {

class JpegScanCheck {
public:
    // The picture's next bytes. False when they cannot continue it; after the end of the picture any
    // bytes pass.
    bool Feed(std::span<const uint8_t> bytes);
    bool Ended() const { return state_ == State::Ended; }
    // Whether the next `bytes` bytes are judged: inside a scan, or with a marker due within them.
    bool JudgesWithin(uint64_t bytes) const {
        return state_ != State::Ended && (state_ != State::Segment || segmentLeft_ < bytes);
    }

private:
    enum class State : uint8_t { Marker, MarkerType, Length, Segment, Entropy, EntropyMarker, Ended };
    bool StartMarker(uint8_t type, bool betweenScans);
    bool LengthFits() const;
    bool Keeps(uint8_t marker) const;
    bool EndSegment();

    State state_ = State::Marker;
    bool started_ = false;  // the start-of-picture marker was read
    uint8_t marker_ = 0;
    uint8_t lengthHave_ = 0;
    uint16_t length_ = 0;
    uint32_t segmentLeft_ = 0;
    std::vector<uint8_t> segment_;  // the body of a header segment the decoding needs
    std::shared_ptr<JpegTables> tables_;  // shared with copies of the check, and with the decoder
    JpegFrame frame_;
    bool frameRead_ = false;
    uint16_t restartInterval_ = 0;
    bool decoding_ = false;
    JpegEntropyDecoder decoder_;
};

}  // namespace tabulon
