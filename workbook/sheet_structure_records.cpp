#include "workbook/sheet_structure_records.h"

#include "common/little_endian.h"

namespace tabulon {

uint32_t IndexRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(16 + 4 * dbCellPositions.size());
    return dataSize_;
}

void IndexRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU32(b, reserved1);
    StoreU32(b + 4, firstRow);
    StoreU32(b + 8, lastRowPlusOne);
    StoreU32(b + 12, reserved2);
    for (size_t i = 0; i < dbCellPositions.size(); ++i) StoreU32(b + 16 + 4 * i, dbCellPositions[i]);
}

bool IndexRecord::DecodeBody() {
    if (!BodyHolds(16)) return false;
    const uint8_t* b = body_.data();
    reserved1 = LoadU32(b);
    firstRow = LoadU32(b + 4);
    lastRowPlusOne = LoadU32(b + 8);
    reserved2 = LoadU32(b + 12);
    dbCellPositions.clear();
    for (size_t at = 16; at + 4 <= body_.size(); at += 4) dbCellPositions.push_back(LoadU32(b + at));
    return true;
}

void DimensionsRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU32(b, firstRow);
    StoreU32(b + 4, lastRowPlusOne);
    StoreU16(b + 8, firstColumn);
    StoreU16(b + 10, lastColumnPlusOne);
    StoreU16(b + 12, reserved);
}

bool DimensionsRecord::DecodeBody() {
    if (!BodyHolds(14)) return false;
    const uint8_t* b = body_.data();
    firstRow = LoadU32(b);
    lastRowPlusOne = LoadU32(b + 4);
    firstColumn = LoadU16(b + 8);
    lastColumnPlusOne = LoadU16(b + 10);
    reserved = LoadU16(b + 12);
    return true;
}

void RowRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU16(b, row);
    StoreU16(b + 2, firstColumn);
    StoreU16(b + 4, lastColumnPlusOne);
    StoreU16(b + 6, height);
    StoreU16(b + 8, reserved1);
    StoreU16(b + 10, reserved2);
    StoreU32(b + 12, optionFlagsAndXf);
}

bool RowRecord::DecodeBody() {
    if (!BodyHolds(16)) return false;
    const uint8_t* b = body_.data();
    row = LoadU16(b);
    firstColumn = LoadU16(b + 2);
    lastColumnPlusOne = LoadU16(b + 4);
    height = LoadU16(b + 6);
    reserved1 = LoadU16(b + 8);
    reserved2 = LoadU16(b + 10);
    optionFlagsAndXf = LoadU32(b + 12);
    return true;
}

uint32_t DbCellRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(4 + 2 * rowOffsets.size());
    return dataSize_;
}

void DbCellRecord::EncodeBody() {
    StoreU32(body_.data(), firstRowOffset);
    for (size_t i = 0; i < rowOffsets.size(); ++i) StoreU16(body_.data() + 4 + 2 * i, rowOffsets[i]);
}

bool DbCellRecord::DecodeBody() {
    if (!BodyHolds(4)) return false;
    firstRowOffset = LoadU32(body_.data());
    rowOffsets.clear();
    for (size_t at = 4; at + 2 <= body_.size(); at += 2) rowOffsets.push_back(LoadU16(body_.data() + at));
    return true;
}

void Window2Record::EncodeBody() {
    uint8_t* b = body_.data();
    const uint16_t fields[] = {optionFlags, firstVisibleRow, firstVisibleColumn, gridLineColour,
                               reserved1, pageBreakZoom, normalZoom};
    for (size_t i = 0; i < 7; ++i) StoreU16(b + 2 * i, fields[i]);
    StoreU32(b + 14, reserved2);
}

bool Window2Record::DecodeBody() {
    if (!BodyHolds(18)) return false;
    uint16_t* fields[] = {&optionFlags, &firstVisibleRow, &firstVisibleColumn, &gridLineColour,
                          &reserved1, &pageBreakZoom, &normalZoom};
    for (size_t i = 0; i < 7; ++i) *fields[i] = LoadU16(body_.data() + 2 * i);
    reserved2 = LoadU32(body_.data() + 14);
    return true;
}

}  // namespace tabulon
