#pragma once
// FORMULA and the records that belong to it: ARRAY, SHRFMLA and TABLE (the attachment that may
// follow a formula) and STRING (a formula's text result). Formula bytes are kept opaque.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/biff_text.h"
#include "workbook/cell_records.h"

namespace tabulon {

// ARRAY and SHRFMLA: a fixed part (the cell range first) and opaque formula bytes.
class RangeFormulaRecord : public TypedRecord {
public:
    uint32_t DataSize() override;
    uint16_t FirstRow() const;
    uint16_t LastRow() const;
    uint8_t FirstColumn() const { return fixedPart_[4]; }
    uint8_t LastColumn() const { return fixedPart_[5]; }
    std::vector<uint8_t> formula;  // everything after the fixed part

protected:
    RangeFormulaRecord(uint16_t type, uint32_t fixedSize);
    void EncodeBody() override;
    bool DecodeBody() override;
    std::array<uint8_t, 12> fixedPart_ {};
    uint32_t fixedSize_;
};

class ArrayRecord : public RangeFormulaRecord {
public:
    static constexpr uint16_t kType = 0x0221;
    ArrayRecord() : RangeFormulaRecord(kType, 12) {}
};

// One class for both record numbers a shared formula may carry.
class ShrFmlaRecord : public RangeFormulaRecord {
public:
    static constexpr uint16_t kType = 0x04BC;
    static constexpr uint16_t kOldType = 0x00BC;
    ShrFmlaRecord() : RangeFormulaRecord(kType, 8) {}

protected:
    bool AcceptsType(uint16_t type) const override { return type == kType || type == kOldType; }
};

class TableRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0036;
    TableRecord() : TypedRecord(kType, 16) {}
    uint16_t firstRow = 0;
    uint16_t lastRow = 0;
    uint8_t firstColumn = 0;
    uint8_t lastColumn = 0;
    uint16_t optionFlags = 0;
    uint16_t inputRow = 0;
    uint16_t inputColumn = 0;
    uint16_t secondInputRow = 0;
    uint16_t secondInputColumn = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

// The body is kept as read (a long string, possibly continued); the text is decoded from it.
class StringRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0207;
    StringRecord() : TypedRecord(kType, 0) {}
    const BiffText& Text() const { return text_; }
    void SetText(const BiffText& text);

protected:
    bool DecodeBody() override;

private:
    BiffText text_;
};

class FormulaRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x0006;
    FormulaRecord() : CellBiffRecord(kType, 18) {}
    // Reads the formula, then a directly following ARRAY, SHRFMLA or TABLE record as its
    // attachment and a following STRING record as its result text.
    size_t Read(std::span<const uint8_t> bytes) override;
    // Writes the formula, the attachment, then the STRING when it has a body.
    size_t Write(std::span<uint8_t> out) override;
    uint32_t DataSize() override;
    uint32_t RecordSize() override;

    uint16_t xfIndex = 0;
    uint64_t result = 0;  // the 8 result bytes
    uint16_t optionFlags = 0;
    uint16_t field16 = 0;
    std::vector<uint8_t> rest;  // body from byte 18 on
    std::unique_ptr<BiffRecord> attachment;
    StringRecord stringResult;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

}  // namespace tabulon
