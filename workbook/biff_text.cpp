#include "workbook/biff_text.h"

#include <algorithm>

#include "common/little_endian.h"

namespace tabulon {

BiffText BiffText::Wide(std::u16string_view text) {
    BiffText value;
    value.wide.assign(text);
    value.is16Bit = true;
    return value;
}

BiffText BiffText::Narrow(std::string_view text) {
    BiffText value;
    value.narrow.assign(text);
    value.is16Bit = false;
    return value;
}

size_t BiffText::Length(size_t limit) const { return std::min(is16Bit ? wide.size() : narrow.size(), limit); }

std::u16string BiffText::ToWide() const {
    if (is16Bit) return wide;
    std::u16string out;
    out.reserve(narrow.size());
    for (char c : narrow) out.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
    return out;
}

bool BiffText::operator==(const BiffText& other) const {
    return is16Bit == other.is16Bit && (is16Bit ? wide == other.wide : narrow == other.narrow);
}

void WriteCharacters(uint8_t* out, const BiffText& text, size_t first, size_t count) {
    if (text.is16Bit) {
        for (size_t i = 0; i < count; ++i) StoreU16(out + 2 * i, text.wide[first + i]);
    } else {
        for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(text.narrow[first + i]);
    }
}

size_t ShortStringSize(const BiffText& text) { return 2 + text.CharacterBytes(kMaxShortStringLength); }

size_t WriteShortString(uint8_t* out, const BiffText& text) {
    size_t count = text.Length(kMaxShortStringLength);
    out[0] = static_cast<uint8_t>(count);
    out[1] = text.is16Bit ? 1 : 0;
    WriteCharacters(out + 2, text, 0, count);
    return ShortStringSize(text);
}

size_t LongStringSize(const BiffText& text) { return 3 + text.CharacterBytes(kMaxLongStringLength); }

size_t WriteLongString(uint8_t* out, const BiffText& text) {
    size_t count = text.Length(kMaxLongStringLength);
    StoreU16(out, static_cast<uint16_t>(count));
    out[2] = text.is16Bit ? 1 : 0;
    WriteCharacters(out + 3, text, 0, count);
    return LongStringSize(text);
}

namespace {

void AppendCharacters(BiffText& text, const uint8_t* data, size_t count, bool wide) {
    for (size_t i = 0; i < count; ++i) {
        if (wide) {
            text.wide.push_back(static_cast<char16_t>(LoadU16(data + 2 * i)));
        } else {
            text.narrow.push_back(static_cast<char>(data[i]));
            text.wide.push_back(static_cast<char16_t>(data[i]));
        }
    }
}

}  // namespace

bool ReadShortString(std::span<const uint8_t> body, size_t& position, BiffText& text) {
    if (position + 2 > body.size()) return false;
    size_t count = body[position];
    uint8_t flags = body[position + 1];
    bool wide = (flags & 0x01) != 0;
    size_t bytes = count * (wide ? 2 : 1);
    if (position + 2 + bytes > body.size()) return false;
    text = BiffText();
    text.is16Bit = wide;
    AppendCharacters(text, body.data() + position + 2, count, wide);
    position += 2 + bytes;
    return true;
}

bool ReadLongString(std::span<const uint8_t> body, size_t& position, std::span<const uint32_t> continueOffsets,
                    BiffText& text) {
    if (position + 3 > body.size()) return false;
    size_t count = LoadU16(body.data() + position);
    uint8_t flags = body[position + 2];
    size_t at = position + 3;
    size_t runs = 0;
    size_t extended = 0;
    if (flags & 0x08) {
        if (at + 2 > body.size()) return false;
        runs = LoadU16(body.data() + at);
        at += 2;
    }
    if (flags & 0x04) {
        if (at + 4 > body.size()) return false;
        extended = LoadU32(body.data() + at);
        at += 4;
    }
    bool wide = (flags & 0x01) != 0;
    text = BiffText();
    text.is16Bit = wide;
    size_t remaining = count;
    while (remaining > 0) {
        // The characters run up to the next CONTINUE boundary after `at`, or the end of the body.
        size_t end = body.size();
        for (uint32_t offset : continueOffsets) {
            if (offset > at) {
                end = std::min<size_t>(end, offset);
                break;
            }
        }
        size_t unit = wide ? 2 : 1;
        size_t take = std::min(remaining, (end - at) / unit);
        if (take > 0) {
            if (!wide && text.is16Bit) {
                // Continued in 8-bit form after a 16-bit part: the value keeps its wide form.
                for (size_t i = 0; i < take; ++i) text.wide.push_back(static_cast<char16_t>(body[at + i]));
            } else {
                if (wide && !text.is16Bit) text.is16Bit = true;  // 8-bit part followed by 16-bit part
                AppendCharacters(text, body.data() + at, take, wide);
            }
            at += take * unit;
            remaining -= take;
        }
        if (remaining == 0) break;
        if (at != end || end >= body.size()) return false;  // characters cut off, or a half character
        wide = (body[at] & 0x01) != 0;
        ++at;
    }
    if (text.is16Bit) text.narrow.clear();
    size_t skip = runs * 4 + extended;
    if (skip > body.size() - at) return false;
    position = at + skip;
    return true;
}

}  // namespace tabulon
