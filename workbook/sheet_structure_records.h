#pragma once
// Records that frame a worksheet's cells: INDEX, DIMENSIONS, ROW, DBCELL and WINDOW2.

#include <cstdint>
#include <vector>

#include "workbook/typed_record.h"

namespace tabulon {

class IndexRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x020B;
    IndexRecord() : TypedRecord(kType, 16) {}
    uint32_t DataSize() override;
    uint32_t reserved1 = 0;
    uint32_t firstRow = 0;
    uint32_t lastRowPlusOne = 0;
    uint32_t reserved2 = 0;
    std::vector<uint32_t> dbCellPositions;  // stream positions

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class DimensionsRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0200;
    DimensionsRecord() : TypedRecord(kType, 14) {}
    uint32_t firstRow = 0;
    uint32_t lastRowPlusOne = 0;
    uint16_t firstColumn = 0;
    uint16_t lastColumnPlusOne = 0;
    uint16_t reserved = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class RowRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0208;
    static constexpr uint32_t kSize = 20;  // as written, header included
    RowRecord() : TypedRecord(kType, 16) {}
    uint16_t row = 0;
    uint16_t firstColumn = 0;
    uint16_t lastColumnPlusOne = 0;
    uint16_t height = 255;
    uint16_t reserved1 = 0;
    uint16_t reserved2 = 0;
    uint32_t optionFlagsAndXf = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class DbCellRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x00D7;
    DbCellRecord() : TypedRecord(kType, 4) {}
    uint32_t DataSize() override;
    uint32_t firstRowOffset = 0;  // back from this record to the block's first ROW
    std::vector<uint16_t> rowOffsets;  // to each row's first cell

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class Window2Record : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x023E;
    static constexpr uint16_t kSelected = 0x0200;
    Window2Record() : TypedRecord(kType, 18) {}
    uint16_t optionFlags = 0x06B6;
    uint16_t firstVisibleRow = 0;
    uint16_t firstVisibleColumn = 0;
    uint16_t gridLineColour = 64;
    uint16_t reserved1 = 0;
    uint16_t pageBreakZoom = 0;
    uint16_t normalZoom = 0;
    uint32_t reserved2 = 0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

}  // namespace tabulon
