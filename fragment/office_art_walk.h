#pragma once
// Follows the drawing records inside a workbook's drawing group: the body of its MSODRAWINGGROUP record
// and of the CONTINUE records after it hold one tree of drawing records (containers holding records,
// each with an 8-byte header: version and instance, type 0xF000 and up, length). The pictures inside
// (tens of kilobytes of image data) cannot be judged, but between them each record header stands where
// the one before ends: bytes that put no sound header there are not the stream's.

#include <array>
#include <cstdint>
#include <span>

namespace tabulon {

class OfficeArtWalk {
public:
    // A record of `type` begins: a drawing group starts the walk (or goes on with one begun), a CONTINUE
    // goes on with it, any other record ends it.
    void StartRecord(uint16_t type);
    // The next bytes of the drawing group. False when a record header among them is not sound or does
    // not fit in its container; the walk then stops judging.
    bool Feed(std::span<const uint8_t> bytes);
    bool Active() const { return active_; }
    // Whether a record header is due within the next `bytes` bytes of the drawing group.
    bool HeaderWithin(uint64_t bytes) const { return active_ && (have_ > 0 || skip_ < bytes); }

private:
    void CloseEnded();

    bool active_ = false;
    uint64_t offset_ = 0;  // bytes of the drawing group fed
    uint64_t skip_ = 0;    // bytes of a record body before the next header
    uint8_t header_[8] {};
    uint8_t have_ = 0;
    // Where each open container ends, outermost first. A fixed array: the stream cursor that holds the
    // walk is copied for every block a search tries.
    static constexpr size_t kMaxDepth = 16;  // real drawing groups nest a few deep
    std::array<uint64_t, kMaxDepth> containerEnds_ {};
    size_t depth_ = 0;
};

}  // namespace tabulon
