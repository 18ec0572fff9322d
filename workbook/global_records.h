#pragma once
// Records of the workbook globals (and the BOF that opens every substream).

#include <cstdint>

#include "workbook/biff_text.h"
#include "workbook/typed_record.h"

namespace tabulon {

class BofRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0809;
    static constexpr uint16_t kWorkbookGlobals = 0x0005;
    static constexpr uint16_t kWorksheet = 0x0010;
    BofRecord() : TypedRecord(kType, 16) {}
    uint16_t version = 0x0600;
    uint16_t streamType = kWorkbookGlobals;
    uint16_t build = 6560;
    uint16_t buildYear = 1997;
    uint32_t historyFlags = 0x0000C0C9;
    uint32_t lowestVersion = 0x00000306;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class Window1Record : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x003D;
    Window1Record() : TypedRecord(kType, 18) {}
    uint16_t horizontalPosition = 120;
    uint16_t verticalPosition = 120;
    uint16_t width = 15135;
    uint16_t height = 9300;
    uint16_t optionFlags = 0x0038;
    uint16_t activeSheet = 0;
    uint16_t firstVisibleTab = 0;
    uint16_t selectedTabCount = 1;
    uint16_t tabBarWidthRatio = 600;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class FontRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0031;
    FontRecord() : TypedRecord(kType, 0) { name = BiffText::Wide(u"Arial"); }
    uint32_t DataSize() override;
    uint16_t height = 200;
    uint16_t optionFlags = 0;
    uint16_t colourIndex = 0x7FFF;
    uint16_t weight = 400;
    uint16_t escapement = 0;
    uint8_t underline = 0;
    uint8_t family = 0;
    uint8_t characterSet = 0;
    uint8_t reserved = 0;
    BiffText name;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class XfRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x00E0;
    XfRecord() : TypedRecord(kType, 20) {}
    uint16_t fontIndex = 0;
    uint16_t numberFormatIndex = 0;
    uint16_t typeProtectionParent = 0xFFF5;
    uint8_t alignment = 0x20;
    uint8_t rotation = 0;
    uint8_t indentShrink = 0;
    uint8_t usedAttributes = 0;
    uint32_t borderLines = 0;
    uint32_t borderColours = 0;
    uint16_t fillPatternColours = 0x20C0;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class StyleRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0293;
    static constexpr uint16_t kBuiltIn = 0x8000;
    StyleRecord() : TypedRecord(kType, 4) {}
    uint32_t DataSize() override;
    bool IsBuiltIn() const { return (xfIndexAndFlag & kBuiltIn) != 0; }
    uint16_t xfIndexAndFlag = kBuiltIn;  // XF index in bits 0..11, built-in flag in bit 15
    uint8_t styleId = 0;
    uint8_t outlineLevel = 0xFF;
    BiffText name;  // user-defined styles only

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

class BoundSheetRecord : public TypedRecord {
public:
    static constexpr uint16_t kType = 0x0085;
    BoundSheetRecord() : TypedRecord(kType, 0) {}
    uint32_t DataSize() override;
    uint32_t streamPosition = 0;  // of the sheet's BOF
    uint8_t visibility = 0;
    uint8_t sheetType = 0;
    BiffText name;

protected:
    void EncodeBody() override;
    bool DecodeBody() override;
};

}  // namespace tabulon
