#include "workbook/biff_record.h"

#include <cstring>

#include "common/little_endian.h"

namespace tabulon {

BiffRecord::BiffRecord(uint16_t type, uint32_t fixedDataSize)
    : type_(type), body_(fixedDataSize, 0), dataSize_(fixedDataSize), recordSize_(fixedDataSize + kRecordHeaderSize) {}

bool BiffRecord::AcceptsType(uint16_t) const { return true; }

void BiffRecord::SetBody(std::vector<uint8_t> body) {
    body_ = std::move(body);
    dataSize_ = static_cast<uint32_t>(body_.size());
    continueOffsets_.clear();
}

uint32_t BiffRecord::DataSize() { return dataSize_; }

uint32_t BiffRecord::RecordSize() {
    recordSize_ = SplitRecordSize();
    return recordSize_;
}

bool BiffRecord::ChosenSplitsHold(uint32_t dataSize) const {
    // Chosen split points hold only while every chunk stays within the body limit and the body;
    // otherwise (fields changed since they were read) the plain rule applies.
    if (continueOffsets_.empty()) return false;
    uint32_t previous = 0;
    for (uint32_t offset : continueOffsets_) {
        if (offset < previous || offset - previous > kMaxRecordBody || offset > dataSize) return false;
        previous = offset;
    }
    return dataSize - previous <= kMaxRecordBody;
}

uint32_t BiffRecord::ChunkCount(uint32_t dataSize) const {
    if (ChosenSplitsHold(dataSize)) return static_cast<uint32_t>(continueOffsets_.size()) + 1;
    return dataSize == 0 ? 1 : (dataSize + kMaxRecordBody - 1) / kMaxRecordBody;
}

size_t BiffRecord::WriteChunks(std::span<uint8_t> out) const {
    uint32_t size = static_cast<uint32_t>(body_.size());
    uint32_t chunks = ChunkCount(size);
    // Decided by the same test as ChunkCount: a plain split that happens to have as many chunks
    // as the chosen one must not borrow its offsets, which may lie past a shrunken body.
    bool chosen = ChosenSplitsHold(size);
    size_t at = 0;
    uint32_t start = 0;
    for (uint32_t k = 0; k < chunks; ++k) {
        uint32_t end = chosen ? (k < continueOffsets_.size() ? continueOffsets_[k] : size)
                              : (k + 1 == chunks ? size : start + kMaxRecordBody);
        StoreU16(out.data() + at, k == 0 ? type_ : kContinueRecordType);
        StoreU16(out.data() + at + 2, static_cast<uint16_t>(end - start));
        if (end > start) std::memcpy(out.data() + at + 4, body_.data() + start, end - start);
        at += kRecordHeaderSize + (end - start);
        start = end;
    }
    return at;
}

size_t BiffRecord::Write(std::span<uint8_t> out) {
    uint32_t size = DataSize();
    body_.resize(size);
    EncodeBody();
    uint32_t total = RecordSize();
    if (out.size() < total) return 0;
    return WriteChunks(out);
}

size_t BiffRecord::Read(std::span<const uint8_t> bytes) {
    if (bytes.size() < kRecordHeaderSize) return 0;
    uint16_t type = LoadU16(bytes.data());
    size_t length = LoadU16(bytes.data() + 2);
    if (!AcceptsType(type) || kRecordHeaderSize + length > bytes.size()) return 0;
    std::vector<uint8_t> body(bytes.begin() + kRecordHeaderSize, bytes.begin() + kRecordHeaderSize + length);
    std::vector<uint32_t> offsets;
    size_t position = kRecordHeaderSize + length;
    while (position + kRecordHeaderSize <= bytes.size() && LoadU16(bytes.data() + position) == kContinueRecordType) {
        size_t part = LoadU16(bytes.data() + position + 2);
        if (position + kRecordHeaderSize + part > bytes.size()) return 0;  // a cut CONTINUE record
        if (body.size() + part > 0xFFFFFFFFu) return 0;
        offsets.push_back(static_cast<uint32_t>(body.size()));
        body.insert(body.end(), bytes.begin() + position + kRecordHeaderSize,
                    bytes.begin() + position + kRecordHeaderSize + part);
        position += kRecordHeaderSize + part;
    }
    type_ = type;
    body_ = std::move(body);
    continueOffsets_ = std::move(offsets);
    dataSize_ = static_cast<uint32_t>(body_.size());
    recordSize_ = static_cast<uint32_t>(position);
    return DecodeBody() ? position : 0;
}

uint16_t PeekRecordType(std::span<const uint8_t> bytes) {
    if (bytes.size() < kRecordHeaderSize) return 0;
    if (kRecordHeaderSize + LoadU16(bytes.data() + 2) > bytes.size()) return 0;
    return LoadU16(bytes.data());
}

}  // namespace tabulon
