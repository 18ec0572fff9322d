#include "workbook/global_records.h"

#include "common/little_endian.h"

namespace tabulon {

void BofRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU16(b, version);
    StoreU16(b + 2, streamType);
    StoreU16(b + 4, build);
    StoreU16(b + 6, buildYear);
    StoreU32(b + 8, historyFlags);
    StoreU32(b + 12, lowestVersion);
}

bool BofRecord::DecodeBody() {
    if (!BodyHolds(16)) return false;
    const uint8_t* b = body_.data();
    version = LoadU16(b);
    streamType = LoadU16(b + 2);
    build = LoadU16(b + 4);
    buildYear = LoadU16(b + 6);
    historyFlags = LoadU32(b + 8);
    lowestVersion = LoadU32(b + 12);
    return true;
}

void Window1Record::EncodeBody() {
    const uint16_t fields[] = {horizontalPosition, verticalPosition, width, height, optionFlags,
                               activeSheet, firstVisibleTab, selectedTabCount, tabBarWidthRatio};
    for (size_t i = 0; i < 9; ++i) StoreU16(body_.data() + 2 * i, fields[i]);
}

bool Window1Record::DecodeBody() {
    if (!BodyHolds(18)) return false;
    uint16_t* fields[] = {&horizontalPosition, &verticalPosition, &width, &height, &optionFlags,
                          &activeSheet, &firstVisibleTab, &selectedTabCount, &tabBarWidthRatio};
    for (size_t i = 0; i < 9; ++i) *fields[i] = LoadU16(body_.data() + 2 * i);
    return true;
}

uint32_t FontRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(14 + ShortStringSize(name));
    return dataSize_;
}

void FontRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU16(b, height);
    StoreU16(b + 2, optionFlags);
    StoreU16(b + 4, colourIndex);
    StoreU16(b + 6, weight);
    StoreU16(b + 8, escapement);
    b[10] = underline;
    b[11] = family;
    b[12] = characterSet;
    b[13] = reserved;
    WriteShortString(b + 14, name);
}

bool FontRecord::DecodeBody() {
    if (!BodyHolds(14)) return false;
    const uint8_t* b = body_.data();
    height = LoadU16(b);
    optionFlags = LoadU16(b + 2);
    colourIndex = LoadU16(b + 4);
    weight = LoadU16(b + 6);
    escapement = LoadU16(b + 8);
    underline = b[10];
    family = b[11];
    characterSet = b[12];
    reserved = b[13];
    size_t position = 14;
    return ReadShortString(body_, position, name);
}

void XfRecord::EncodeBody() {
    uint8_t* b = body_.data();
    StoreU16(b, fontIndex);
    StoreU16(b + 2, numberFormatIndex);
    StoreU16(b + 4, typeProtectionParent);
    b[6] = alignment;
    b[7] = rotation;
    b[8] = indentShrink;
    b[9] = usedAttributes;
    StoreU32(b + 10, borderLines);
    StoreU32(b + 14, borderColours);
    StoreU16(b + 18, fillPatternColours);
}

bool XfRecord::DecodeBody() {
    if (!BodyHolds(20)) return false;
    const uint8_t* b = body_.data();
    fontIndex = LoadU16(b);
    numberFormatIndex = LoadU16(b + 2);
    typeProtectionParent = LoadU16(b + 4);
    alignment = b[6];
    rotation = b[7];
    indentShrink = b[8];
    usedAttributes = b[9];
    borderLines = LoadU32(b + 10);
    borderColours = LoadU32(b + 14);
    fillPatternColours = LoadU16(b + 18);
    return true;
}

uint32_t StyleRecord::DataSize() {
    dataSize_ = IsBuiltIn() ? 4 : static_cast<uint32_t>(2 + LongStringSize(name));
    return dataSize_;
}

void StyleRecord::EncodeBody() {
    StoreU16(body_.data(), xfIndexAndFlag);
    if (IsBuiltIn()) {
        body_[2] = styleId;
        body_[3] = outlineLevel;
    } else {
        WriteLongString(body_.data() + 2, name);
    }
}

bool StyleRecord::DecodeBody() {
    if (!BodyHolds(2)) return false;
    xfIndexAndFlag = LoadU16(body_.data());
    if (IsBuiltIn()) {
        if (!BodyHolds(4)) return false;
        styleId = body_[2];
        outlineLevel = body_[3];
        return true;
    }
    size_t position = 2;
    return ReadLongString(body_, position, continueOffsets_, name);
}

uint32_t BoundSheetRecord::DataSize() {
    dataSize_ = static_cast<uint32_t>(6 + ShortStringSize(name));
    return dataSize_;
}

void BoundSheetRecord::EncodeBody() {
    StoreU32(body_.data(), streamPosition);
    body_[4] = visibility;
    body_[5] = sheetType;
    WriteShortString(body_.data() + 6, name);
}

bool BoundSheetRecord::DecodeBody() {
    if (!BodyHolds(6)) return false;
    streamPosition = LoadU32(body_.data());
    visibility = body_[4];
    sheetType = body_[5];
    size_t position = 6;
    return ReadShortString(body_, position, name);
}

}  // namespace tabulon
