#include "workbook/formula_records.h"

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"

namespace tabulon {

RangeFormulaRecord::RangeFormulaRecord(uint16_t type, uint32_t fixedSize)
    : TypedRecord(type, fixedSize), fixedSize_(fixedSize) {}

uint16_t RangeFormulaRecord::FirstRow() const { return LoadU16(fixedPart_.data()); }
uint16_t RangeFormulaRecord::LastRow() const { return LoadU16(fixedPart_.data() + 2); }

uint32_t RangeFormulaRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(fixedSize_ + formula.size());
    return dataSize_;
}

void RangeFormulaRecord::EncodeBody() {
    std::memcpy(body_.data(), fixedPart_.data(), fixedSize_);
    std::copy(formula.begin(), formula.end(), body_.begin() + fixedSize_);
}

bool RangeFormulaRecord::DecodeBody() {
    if (!BodyHolds(fixedSize_)) return false;
    std::memcpy(fixedPart_.data(), body_.data(), fixedSize_);
    formula.assign(body_.begin() + fixedSize_, body_.end());
    return true;
}

void TableRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU16(b, firstRow);
    StoreU16(b + 2, lastRow);
    b[4] = firstColumn;
    b[5] = lastColumn;
    StoreU16(b + 6, optionFlags);
    StoreU16(b + 8, inputRow);
    StoreU16(b + 10, inputColumn);
    StoreU16(b + 12, secondInputRow);
    StoreU16(b + 14, secondInputColumn);
}

bool TableRecord::DecodeBody() {
    if (!BodyHolds(16)) return false;
    const uint8_t* b = body_.data();
    firstRow = LoadU16(b);
    lastRow = LoadU16(b + 2);
    firstColumn = b[4];
    lastColumn = b[5];
    optionFlags = LoadU16(b + 6);
    inputRow = LoadU16(b + 8);
    inputColumn = LoadU16(b + 10);
    secondInputRow = LoadU16(b + 12);
    secondInputColumn = LoadU16(b + 14);
    return true;
}

void StringRecord::SetText(const BiffText& text) {
    text_ = text;
    std::vector<uint8_t> body(LongStringSize(text));
    WriteLongString(body.data(), text);
    SetBody(std::move(body));
}

bool StringRecord::DecodeBody() {
    size_t position = 0;
    return ReadLongString(body_, position, continueOffsets_, text_);
}

uint32_t FormulaRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(18 + rest.size());
    return dataSize_;
}

uint32_t FormulaRecord::RecordSize() {
    uint32_t size = SplitRecordSize();
    if (attachment) size += attachment->RecordSize();
    if (!stringResult.Body().empty()) size += stringResult.RecordSize();
    recordSize_ = size;
    return size;
}

void FormulaRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU16(b, row);
    StoreU16(b + 2, column);
    StoreU16(b + 4, xfIndex);
    StoreU64(b + 6, result);
    StoreU16(b + 14, optionFlags);
    StoreU16(b + 16, field16);
    std::copy(rest.begin(), rest.end(), body_.begin() + 18);
}

bool FormulaRecord::DecodeBody() {
    if (!BodyHolds(18)) return false;
    const uint8_t* b = body_.data();
    row = LoadU16(b);
    column = LoadU16(b + 2);
    xfIndex = LoadU16(b + 4);
    result = LoadU64(b + 6);
    optionFlags = LoadU16(b + 14);
    field16 = LoadU16(b + 16);
    rest.assign(body_.begin() + 18, body_.end());
    return true;
}

size_t FormulaRecord::Read(std::span<const uint8_t> bytes) {
    size_t consumed = BiffRecord::Read(bytes);
    if (consumed == 0) return 0;
    attachment.reset();
    stringResult = StringRecord();
    std::unique_ptr<BiffRecord> next;
    switch (PeekRecordType(bytes.subspan(consumed))) {
        case ArrayRecord::kType: next = std::make_unique<ArrayRecord>(); break;
        case ShrFmlaRecord::kType:
        case ShrFmlaRecord::kOldType: next = std::make_unique<ShrFmlaRecord>(); break;
        case TableRecord::kType: next = std::make_unique<TableRecord>(); break;
        default: break;
    }
    if (next) {
        size_t used = next->Read(bytes.subspan(consumed));
        if (used == 0) return 0;
        consumed += used;
        attachment = std::move(next);
    }
    if (PeekRecordType(bytes.subspan(consumed)) == StringRecord::kType) {
        size_t used = stringResult.Read(bytes.subspan(consumed));
        if (used == 0) return 0;
        consumed += used;
    }
    recordSize_ = static_cast<uint32_t>(consumed);
    return consumed;
}

size_t FormulaRecord::Write(std::span<uint8_t> out) {
    body_.resize(DataSize());
    EncodeBody();
    uint32_t total = RecordSize();
    if (out.size() < total) return 0;
    size_t written = WriteChunks(out);
    if (attachment) written += attachment->Write(out.subspan(written));
    if (!stringResult.Body().empty()) written += stringResult.Write(out.subspan(written));
    return written;
}

}  // namespace tabulon
