#include "preview/biff_strings.h"

#include <algorithm>

#include "common/little_endian.h"

namespace tabulon {
namespace {

// Reads across the segments of a continued record as one byte sequence, except for string
// characters, whose continuation carries its own option byte (see ReadCharacters).
class SegmentCursor {
public:
    explicit SegmentCursor(const std::vector<ByteSpan>& segments) : segments_(segments) {
        for (const ByteSpan& span : segments_) remaining_ += span.size;
    }

    size_t Remaining() const { return remaining_; }
    size_t AvailableHere() const { return index_ < segments_.size() ? segments_[index_].size - offset_ : 0; }
    const uint8_t* Here() const { return segments_[index_].data + offset_; }

    // Moves to the start of the next segment that still has bytes; false when none is left.
    bool NextSegment() {
        if (index_ < segments_.size()) remaining_ -= AvailableHere();
        offset_ = 0;
        ++index_;
        while (index_ < segments_.size() && segments_[index_].size == 0) ++index_;
        return index_ < segments_.size();
    }

    void Advance(size_t count) {  // within the current segment; count <= AvailableHere()
        offset_ += count;
        remaining_ -= count;
    }

    bool ReadByte(uint8_t& value) {
        while (AvailableHere() == 0)
            if (!NextSegment()) return false;
        value = *Here();
        Advance(1);
        return true;
    }

    bool ReadU16(uint16_t& value) {
        uint8_t low = 0, high = 0;
        if (!ReadByte(low) || !ReadByte(high)) return false;
        value = static_cast<uint16_t>(low | (high << 8));
        return true;
    }

    bool ReadU32(uint32_t& value) {
        uint16_t low = 0, high = 0;
        if (!ReadU16(low) || !ReadU16(high)) return false;
        value = uint32_t(low) | (uint32_t(high) << 16);
        return true;
    }

    // Skips bytes across segments; false (at the end) when fewer are left.
    bool Skip(uint64_t count) {
        if (count > remaining_) {
            while (NextSegment()) {
            }
            remaining_ = 0;
            return false;
        }
        while (count > 0) {
            while (AvailableHere() == 0) NextSegment();
            size_t step = static_cast<size_t>(std::min<uint64_t>(count, AvailableHere()));
            Advance(step);
            count -= step;
        }
        return true;
    }

private:
    const std::vector<ByteSpan>& segments_;
    size_t index_ = 0;
    size_t offset_ = 0;
    size_t remaining_ = 0;
};

constexpr uint8_t kHighByte = 0x01;
constexpr uint8_t kExtended = 0x04;
constexpr uint8_t kRich = 0x08;

// Reads `count` characters starting with the given width; keeps them when `keep`. False when the
// characters run past the data.
bool ReadCharacters(SegmentCursor& cursor, size_t count, bool wide, bool keep, std::u16string& text) {
    if (keep) text.reserve(count);
    while (count > 0) {
        if (cursor.AvailableHere() == 0) {
            uint8_t option = 0;
            if (!cursor.NextSegment() || !cursor.ReadByte(option)) return false;
            wide = (option & kHighByte) != 0;
            continue;
        }
        size_t width = wide ? 2 : 1;
        size_t take = std::min(count, cursor.AvailableHere() / width);
        if (take == 0) {  // half a 16-bit character at a segment's end: the data is damaged
            cursor.Advance(cursor.AvailableHere());
            continue;
        }
        if (keep) {
            const uint8_t* p = cursor.Here();
            for (size_t i = 0; i < take; ++i)
                text.push_back(wide ? static_cast<char16_t>(LoadU16(p + 2 * i)) : static_cast<char16_t>(p[i]));
        }
        cursor.Advance(take * width);
        count -= take;
    }
    return true;
}

}  // namespace

std::u16string ReadShortString(const uint8_t* data, size_t available, size_t maxCharacters) {
    std::u16string text;
    if (available < 2) return text;
    size_t count = data[0];
    bool wide = (data[1] & kHighByte) != 0;
    size_t width = wide ? 2 : 1;
    count = std::min({count, (available - 2) / width, maxCharacters});
    text.reserve(count);
    for (size_t i = 0; i < count; ++i)
        text.push_back(wide ? static_cast<char16_t>(LoadU16(data + 2 + 2 * i)) : static_cast<char16_t>(data[2 + i]));
    return text;
}

std::vector<std::u16string> ReadSharedStrings(const std::vector<ByteSpan>& segments, uint32_t count) {
    std::vector<std::u16string> strings;
    SegmentCursor cursor(segments);
    for (uint32_t i = 0; i < count; ++i) {
        if (cursor.Remaining() < 3) break;
        uint16_t characters = 0;
        uint8_t option = 0;
        cursor.ReadU16(characters);
        cursor.ReadByte(option);
        if (option & ~(kHighByte | kExtended | kRich)) break;
        bool wide = (option & kHighByte) != 0;
        uint16_t runs = 0;
        uint32_t phoneticSize = 0;
        bool complete = true;
        if ((option & kRich) && !cursor.ReadU16(runs)) complete = false;
        if (complete && (option & kExtended) && !cursor.ReadU32(phoneticSize)) complete = false;
        bool keep = characters <= (wide ? kMaxSharedStringWide : kMaxSharedStringNarrow);
        std::u16string text;
        if (complete) complete = ReadCharacters(cursor, characters, wide, keep, text);
        if (complete) complete = cursor.Skip(uint64_t(runs) * 4 + phoneticSize);
        if (!complete || !keep) text.clear();
        strings.push_back(std::move(text));
    }
    return strings;
}

}  // namespace tabulon
