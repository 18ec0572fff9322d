#pragma once
// Follows the drawing records inside a workbook's drawing group: the body of its MSODRAWINGGROUP record
// and of the CONTINUE records after it hold one tree of drawing records (containers holding records,
// each with an 8-byte header: version and instance, type 0xF000 and up, length). Between the pictures
// each record header stands where the one before ends: bytes that put no sound header there are not the
// stream's. The pictures (tens of kilobytes of image data) sit in the entries of the group's picture
// store, each after the entry's own fields; JPEG and PNG pictures are judged byte by byte, the others not.
// The group's table of shape-identifier clusters (a header, then a drawing and a shape count for each
// cluster) is judged entry by entry.

#include <array>
#include <cstdint>
#include <span>

#include "fragment/jpeg_scan_check.h"
#include "fragment/png_chunk_check.h"

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
    // Whether the next `bytes` bytes of the drawing group are judged: a record header is due within
    // them, or they hold a JPEG picture's bytes or a PNG picture's chunk header or CRC.
    bool JudgesWithin(uint64_t bytes) const;

private:
    void CloseEnded();
    void StartBody(uint16_t versionAndInstance, uint16_t type, uint64_t length);
    bool FeedClusterTable(std::span<const uint8_t>& bytes);

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
    bool nameLengthDue_ = false;  // the next byte is a picture-store entry's name length
    uint64_t pictureLeft_ = 0;    // bytes of a JPEG or PNG picture after skip_
    bool png_ = false;            // which of the two
    uint64_t tableLeft_ = 0;   // bytes of the cluster table still to check
    bool tableHeaderDone_ = false;
    std::array<uint8_t, 16> unit_ {};  // the table's header, or one entry, as far as fed
    uint8_t unitHave_ = 0;
    JpegScanCheck jpeg_;
    PngChunkCheck pngCheck_;
};

}  // namespace tabulon
