#include "fragment/jpeg_scan_check.h"

#include <algorithm>
#include <cstring>

namespace tabulon {
namespace {

constexpr uint8_t kStartOfPicture = 0xD8, kEndOfPicture = 0xD9, kStartOfScan = 0xDA;
constexpr uint8_t kQuantTables = 0xDB, kLineCount = 0xDC, kRestartInterval = 0xDD;
constexpr uint8_t kHuffmanTables = 0xC4, kArithmeticTables = 0xCC, kComment = 0xFE, kTemporary = 0x01;

bool IsRestart(uint8_t type) { return type >= 0xD0 && type <= 0xD7; }
bool IsFrameHeader(uint8_t type) {
    return type >= 0xC0 && type <= 0xCF && type != kHuffmanTables && type != 0xC8 && type != kArithmeticTables;
}

}  // namespace

// The header segments the decoding reads: frame headers, Huffman tables, the restart interval, scan
// headers.
bool JpegScanCheck::Keeps(uint8_t marker) const {
    return IsFrameHeader(marker) || marker == kHuffmanTables || marker == kRestartInterval || marker == kStartOfScan;
}

bool JpegScanCheck::EndSegment() {
    const std::span<const uint8_t> body(segment_);
    bool sound = true;
    if (IsFrameHeader(marker_)) {
        sound = ReadJpegFrame(marker_, body, frame_);
        frameRead_ = sound;
    } else if (marker_ == kHuffmanTables) {
        if (!tables_)
            tables_ = std::make_shared<JpegTables>();
        else if (tables_.use_count() > 1)
            tables_ = std::make_shared<JpegTables>(*tables_);  // a decoder or a copy of the check holds them
        sound = ReadJpegHuffmanTables(body, *tables_);
    } else if (marker_ == kRestartInterval && body.size() == 2) {
        restartInterval_ = uint16_t(body[0] << 8 | body[1]);
    } else if (marker_ == kStartOfScan) {
        decoding_ = frameRead_ && decoder_.Start(tables_, frame_, body, restartInterval_);
    }
    segment_.clear();
    state_ = marker_ == kStartOfScan ? State::Entropy : State::Marker;
    return sound;
}

bool JpegScanCheck::StartMarker(uint8_t type, bool betweenScans) {
    if (type == 0xFF) return true;  // fill bytes before a marker
    if (decoding_ && betweenScans && !IsRestart(type)) {
        // The scan ends here.
        if (!decoder_.End()) return false;
        decoding_ = false;
    }
    if (!started_) {
        if (type != kStartOfPicture) return false;
        started_ = true;
        state_ = State::Marker;
        return true;
    }
    if (type == kEndOfPicture) {
        state_ = State::Ended;
        return true;
    }
    if (IsRestart(type) || type == kTemporary) {
        if (decoding_ && betweenScans && (type == kTemporary || !decoder_.Restart(uint8_t(type - 0xD0)))) return false;
        state_ = betweenScans ? State::Entropy : State::Marker;
        return true;
    }
    if (type < 0xC0 || type == kStartOfPicture) return false;
    // Between the scans of a progressive picture only tables, scan headers and comments come.
    if (betweenScans && type != kHuffmanTables && type != kArithmeticTables && type != kStartOfScan &&
        type != kQuantTables && type != kLineCount && type != kRestartInterval && type != kComment)
        return false;
    marker_ = type;
    lengthHave_ = 0;
    length_ = 0;
    state_ = State::Length;
    return true;
}

// The segment lengths each kind of marker allows (the length counts its own two bytes).
bool JpegScanCheck::LengthFits() const {
    if (length_ < 2) return false;
    if (marker_ == kStartOfScan) return length_ >= 8 && length_ <= 14 && length_ % 2 == 0;  // 1 to 4 components
    if (marker_ == kRestartInterval || marker_ == kLineCount) return length_ == 4;
    if (marker_ == kHuffmanTables) return length_ >= 2 + 17 && length_ <= 2 + 4 * (17 + 256);
    if (IsFrameHeader(marker_)) return length_ >= 11 && length_ <= 8 + 3 * 4 && (length_ - 8) % 3 == 0;
    if (marker_ == kQuantTables) {
        // One to four tables of 65 bytes (8-bit values) or 129 (16-bit).
        for (int wide = 0; wide <= 4; ++wide)
            for (int narrow = 0; narrow + wide <= 4; ++narrow)
                if (narrow + wide > 0 && 65 * narrow + 129 * wide == length_ - 2) return true;
        return false;
    }
    return true;
}

bool JpegScanCheck::Feed(std::span<const uint8_t> bytes) {
    size_t at = 0;
    const size_t n = bytes.size();
    while (at < n) {
        switch (state_) {
            case State::Ended:
                return true;
            case State::Marker:
                if (bytes[at++] != 0xFF) return false;
                state_ = State::MarkerType;
                break;
            case State::MarkerType:
                if (!StartMarker(bytes[at++], false)) return false;
                break;
            case State::Length:
                length_ = uint16_t(length_ << 8 | bytes[at++]);
                if (++lengthHave_ < 2) break;
                if (!LengthFits()) return false;
                segmentLeft_ = uint32_t(length_ - 2);
                state_ = State::Segment;
                [[fallthrough]];
            case State::Segment: {
                const size_t take = std::min<size_t>(segmentLeft_, n - at);
                if (Keeps(marker_)) segment_.insert(segment_.end(), bytes.begin() + long(at), bytes.begin() + long(at + take));
                at += take;
                segmentLeft_ -= uint32_t(take);
                if (segmentLeft_ == 0 && !EndSegment()) return false;
                break;
            }
            case State::Entropy: {
                const uint8_t* from = bytes.data() + at;
                const void* ff = std::memchr(from, 0xFF, n - at);
                const size_t data = ff == nullptr ? n - at : size_t(static_cast<const uint8_t*>(ff) - from);
                if (decoding_)
                    for (size_t i = 0; i < data; ++i)
                        if (!decoder_.Feed(from[i])) return false;
                at += data;
                if (ff == nullptr) return true;
                ++at;
                state_ = State::EntropyMarker;
                break;
            }
            case State::EntropyMarker: {
                const uint8_t type = bytes[at++];
                if (type == 0x00) {
                    state_ = State::Entropy;  // a stuffed zero: the 0xFF was data
                    if (decoding_ && !decoder_.Feed(0xFF)) return false;
                } else if (!StartMarker(type, true)) {
                    return false;
                }
                break;
            }
        }
    }
    return true;
}

}  // namespace tabulon
