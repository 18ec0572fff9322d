#include "workbook/cell_records.h"

#include <bit>

#include "common/little_endian.h"

namespace tabulon {
namespace {

void StoreCellStart(uint8_t* b, uint16_t row, uint16_t column) {
    StoreU16(b, row);
    StoreU16(b + 2, column);
}

}  // namespace

void BlankRecord::EncodeBody() {
    StoreCellStart(body_.data(), row, column);
    StoreU16(body_.data() + 4, xfIndex);
}

bool BlankRecord::DecodeBody() {
    if (!BodyHolds(6)) return false;
    row = LoadU16(body_.data());
    column = LoadU16(body_.data() + 2);
    xfIndex = LoadU16(body_.data() + 4);
    return true;
}

uint32_t MulBlankRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(6 + 2 * xfIndexes.size());
    return dataSize_;
}

void MulBlankRecord::EncodeBody() {
    StoreCellStart(body_.data(), row, column);
    for (size_t i = 0; i < xfIndexes.size(); ++i) StoreU16(body_.data() + 4 + 2 * i, xfIndexes[i]);
    StoreU16(body_.data() + 4 + 2 * xfIndexes.size(), LastColumn());
}

bool MulBlankRecord::DecodeBody() {
    if (!BodyHolds(8) || body_.size() % 2 != 0) return false;
    row = LoadU16(body_.data());
    column = LoadU16(body_.data() + 2);
    xfIndexes.clear();
    for (size_t at = 4; at + 2 < body_.size(); at += 2) xfIndexes.push_back(LoadU16(body_.data() + at));
    return true;
}

void NumberRecord::EncodeBody() {
    StoreCellStart(body_.data(), row, column);
    StoreU16(body_.data() + 4, xfIndex);
    StoreU64(body_.data() + 6, std::bit_cast<uint64_t>(value));
}

bool NumberRecord::DecodeBody() {
    if (!BodyHolds(14)) return false;
    row = LoadU16(body_.data());
    column = LoadU16(body_.data() + 2);
    xfIndex = LoadU16(body_.data() + 4);
    value = std::bit_cast<double>(LoadU64(body_.data() + 6));
    return true;
}

void RkRecord::EncodeBody() {
    StoreCellStart(body_.data(), row, column);
    StoreU16(body_.data() + 4, xfIndex);
    StoreU32(body_.data() + 6, rk);
}

bool RkRecord::DecodeBody() {
    if (!BodyHolds(10)) return false;
    row = LoadU16(body_.data());
    column = LoadU16(body_.data() + 2);
    xfIndex = LoadU16(body_.data() + 4);
    rk = LoadU32(body_.data() + 6);
    return true;
}

uint32_t MulRkRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(6 + 6 * entries.size());
    return dataSize_;
}

void MulRkRecord::EncodeBody() {
    StoreCellStart(body_.data(), row, column);
    for (size_t i = 0; i < entries.size(); ++i) {
        StoreU16(body_.data() + 4 + 6 * i, entries[i].xfIndex);
        StoreU32(body_.data() + 6 + 6 * i, entries[i].rk);
    }
    StoreU16(body_.data() + 4 + 6 * entries.size(), LastColumn());
}

bool MulRkRecord::DecodeBody() {
    if (!BodyHolds(12) || (body_.size() - 6) % 6 != 0) return false;
    row = LoadU16(body_.data());
    column = LoadU16(body_.data() + 2);
    entries.clear();
    for (size_t at = 4; at + 6 <= body_.size() - 2; at += 6)
        entries.push_back({LoadU16(body_.data() + at), LoadU32(body_.data() + at + 2)});
    return true;
}

void LabelSstRecord::EncodeBody() {
    StoreCellStart(body_.data(), row, column);
    StoreU16(body_.data() + 4, xfIndex);
    StoreU32(body_.data() + 6, sstIndex);
}

bool LabelSstRecord::DecodeBody() {
    if (!BodyHolds(10)) return false;
    row = LoadU16(body_.data());
    column = LoadU16(body_.data() + 2);
    xfIndex = LoadU16(body_.data() + 4);
    sstIndex = LoadU32(body_.data() + 6);
    return true;
}

void BoolErrRecord::EncodeBody() {
    StoreCellStart(body_.data(), row, column);
    StoreU16(body_.data() + 4, xfIndex);
    body_[6] = value;
    body_[7] = isError;
}

bool BoolErrRecord::DecodeBody() {
    if (!BodyHolds(8)) return false;
    row = LoadU16(body_.data());
    column = LoadU16(body_.data() + 2);
    xfIndex = LoadU16(body_.data() + 4);
    value = body_[6];
    isError = body_[7];
    return true;
}

}  // namespace tabulon
