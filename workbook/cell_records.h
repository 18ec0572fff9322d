#pragma once
// The cell records of a worksheet. Each starts with the row and the (first) column.

#include <cstdint>
#include <vector>

#include "workbook/typed_record.h"

namespace tabulon {

class CellBiffRecord : public TypedRecord {
public:
    using TypedRecord::TypedRecord;
    uint16_t row = 0;
    uint16_t column = 0;  // the first column for MULBLANK and MULRK
};

class BlankRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x0201;
    BlankRecord() : CellBiffRecord(kType, 6) {}
    uint16_t xfIndex = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class MulBlankRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x00BE;
    MulBlankRecord() : CellBiffRecord(kType, 6) {}
    uint32_t DataSize() override;
    uint16_t LastColumn() const { return static_cast<uint16_t>(column + xfIndexes.size() - 1); }
    std::vector<uint16_t> xfIndexes;  // one per column

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class NumberRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x0203;
    NumberRecord() : CellBiffRecord(kType, 14) {}
    uint16_t xfIndex = 0;
    double value = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class RkRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x027E;
    RkRecord() : CellBiffRecord(kType, 10) {}
    uint16_t xfIndex = 0;
    uint32_t rk = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class MulRkRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x00BD;
    struct Entry {
        uint16_t xfIndex = 0;
        uint32_t rk = 0;
    };
    MulRkRecord() : CellBiffRecord(kType, 6) {}
    uint32_t DataSize() override;
    uint16_t LastColumn() const { return static_cast<uint16_t>(column + entries.size() - 1); }
    std::vector<Entry> entries;  // one per column

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class LabelSstRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x00FD;
    LabelSstRecord() : CellBiffRecord(kType, 10) {}
    uint16_t xfIndex = 0;
    uint32_t sstIndex = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class BoolErrRecord : public CellBiffRecord {
public:
    static constexpr uint16_t kType = 0x0205;
    BoolErrRecord() : CellBiffRecord(kType, 8) {}
    uint16_t xfIndex = 0;
    uint8_t value = 0;
    uint8_t isError = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

}  // namespace tabulon
