#include "workbook/shared_string_records.h"

#include <algorithm>

#include "common/little_endian.h"

namespace tabulon {
namespace {

// A string that would start within this many bytes of a record's end starts the next record.
constexpr uint32_t kMinimumStringStart = 12;

}  // namespace

uint32_t SstRecord::Layout(uint8_t* out) {
    continueOffsets_.clear();
    uint32_t size = 8;
    uint32_t recordEnd = kMaxRecordBody;
    if (out) {
        StoreU32(out, totalCount);
        StoreU32(out + 4, uniqueCount);
    }
    for (const BiffText& text : strings) {
        size_t count = text.Length(kMaxLongStringLength);
        uint32_t unit = text.is16Bit ? 2 : 1;
        uint32_t bytes = static_cast<uint32_t>(count) * unit;
        if (size + 3 + bytes > recordEnd && recordEnd - size < kMinimumStringStart) {
            continueOffsets_.push_back(size);
            recordEnd = size + kMaxRecordBody;
        }
        if (out) {
            StoreU16(out + size, static_cast<uint16_t>(count));
            out[size + 2] = text.is16Bit ? 1 : 0;
        }
        size += 3;
        // Characters: as many as fit in the current record, then in continuations that each start
        // with the option byte again.
        size_t written = 0;
        while (written < count) {
            uint32_t room = (recordEnd - size) / unit;
            size_t take = std::min<size_t>(count - written, room);
            if (out && take > 0) WriteCharacters(out + size, text, written, take);
            size += static_cast<uint32_t>(take * unit);
            written += take;
            if (written == count) break;
            continueOffsets_.push_back(size);
            recordEnd = size + kMaxRecordBody;
            if (out) out[size] = text.is16Bit ? 1 : 0;
            size += 1;
        }
    }
    return size;
}

uint32_t SstRecord::DataSize() {
    dataSize_ = Layout(nullptr);
    return dataSize_;
}

void SstRecord::EncodeBody() { Layout(body_.data()); }

bool SstRecord::DecodeBody() {
    if (!BodyHolds(8)) return false;
    totalCount = LoadU32(body_.data());
    uniqueCount = LoadU32(body_.data() + 4);
    strings.clear();
    size_t position = 8;
    for (uint32_t i = 0; i < uniqueCount && position < body_.size(); ++i) {
        BiffText text;
        if (!ReadLongString(body_, position, continueOffsets_, text)) return false;
        strings.push_back(std::move(text));
    }
    return true;
}

uint32_t ExtSstRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(2 + 8 * buckets.size());
    return dataSize_;
}

void ExtSstRecord::EncodeBody() {
    StoreU16(body_.data(), stringsPerBucket);
    for (size_t i = 0; i < buckets.size(); ++i) {
        uint8_t* b = body_.data() + 2 + 8 * i;
        StoreU32(b, buckets[i].streamPosition);
        StoreU16(b + 4, buckets[i].offsetInRecord);
        StoreU16(b + 6, buckets[i].reserved);
    }
}

bool ExtSstRecord::DecodeBody() {
    if (!BodyHolds(2)) return false;
    stringsPerBucket = LoadU16(body_.data());
    buckets.clear();
    for (size_t at = 2; at + 8 <= body_.size(); at += 8)
        buckets.push_back({LoadU32(body_.data() + at), LoadU16(body_.data() + at + 4), LoadU16(body_.data() + at + 6)});
    return true;
}

}  // namespace tabulon
