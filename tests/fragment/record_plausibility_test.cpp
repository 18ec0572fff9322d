#include "fragment/record_plausibility.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fragment/record_type_names.h"
#include "support/biff_bytes.h"

namespace tabulon {
namespace {

using test::BiffBytes;
using Bytes = std::vector<uint8_t>;

// The record followed by a few bytes of something else, so that the buffer holds all of it.
Bytes Full(uint16_t type, const BiffBytes& body) {
    BiffBytes b;
    b.Record(type, body).U32(0x12345678).U32(0x9ABCDEF0);
    return b.Bytes();
}
Bytes FullWithLength(uint16_t type, uint16_t length, const BiffBytes& body) {
    BiffBytes b;
    b.Record(type, length, body).U32(0x12345678).U32(0x9ABCDEF0);
    return b.Bytes();
}
Bytes Exact(uint16_t type, const BiffBytes& body) { return BiffBytes().Record(type, body).Bytes(); }
// The first n bytes: the buffer ends inside the record.
Bytes Cut(Bytes bytes, size_t n) {
    bytes.resize(n);
    return bytes;
}

BiffBytes Cell(uint16_t row, uint16_t column, uint16_t xf) { return BiffBytes().U16(row).U16(column).U16(xf); }

struct Case {
    std::string what;
    Bytes buffer;
    bool plausible;
};

void ExpectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        Bytes copy = c.buffer;
        EXPECT_EQ(RecordPlausibility::IsPlausible(copy.data(), 0, uint32_t(copy.size())), c.plausible) << c.what;
        EXPECT_EQ(copy, c.buffer) << c.what << ": the buffer was modified";
    }
}

TEST(RecordPlausibility, CellRecordsCheckRowColumnAndFormat) {
    ExpectCases({
        {"LABELSST row 0x3FFF, column 500", Full(0x00FD, Cell(0x3FFF, 500, 15).U32(7)), true},
        {"LABELSST row 0x4000", Full(0x00FD, Cell(0x4000, 0, 15).U32(7)), false},
        {"LABELSST column 501", Full(0x00FD, Cell(1, 501, 15).U32(7)), false},
        {"LABELSST XF 1001", Full(0x00FD, Cell(1, 1, 1001).U32(7)), false},
        {"LABELSST length 11", Full(0x00FD, Cell(1, 1, 15).U32(7).U8(0)), false},
        {"NUMBER", Full(0x0203, Cell(2, 3, 15).Zeros(8)), true},
        {"NUMBER length 12", Full(0x0203, Cell(2, 3, 15).Zeros(6)), false},
        {"RK column 600", Full(0x027E, Cell(2, 600, 15).U32(0)), false},
        {"BLANK", Full(0x0201, Cell(7, 8, 20)), true},
        {"BLANK XF 2000", Full(0x0201, Cell(7, 8, 2000)), false},
        {"FORMULA", Full(0x0006, Cell(1, 1, 15).Zeros(14)), true},
        {"FORMULA length 19", Full(0x0006, Cell(1, 1, 15).Zeros(13)), false},
        {"FORMULA row 0x4000", Full(0x0006, Cell(0x4000, 1, 15).Zeros(14)), false},
        {"ROW", Full(0x0208, BiffBytes().U16(9).U16(0).U16(12).Zeros(10)), true},
        {"ROW last column 501", Full(0x0208, BiffBytes().U16(9).U16(0).U16(501).Zeros(10)), false},
        // Formatted empty rows reach the sheet's last row; the field after the height is always 0.
        {"ROW of a formatted row past 0x3FFF", Full(0x0208, BiffBytes().U16(0xFFF2).U16(0).U16(0).U16(0xFF).Zeros(8)), true},
        {"ROW with its unused field set", Full(0x0208, BiffBytes().U16(9).U16(0).U16(12).U16(0xFF).U16(7).Zeros(6)), false},
        {"BOOLERR error flag 2", Full(0x0205, Cell(1, 1, 15).U8(1).U8(2)), false},
        {"BOOLERR", Full(0x0205, Cell(1, 1, 15).U8(1).U8(0)), true},
    });
}

TEST(RecordPlausibility, GuardsStopChecksAtTheBufferEnd) {
    // Rows, columns and XF indices that would fail, behind a guard the buffer end falls inside.
    const Bytes formula = Exact(0x0006, Cell(0xFFFF, 0xFFFF, 0xFFFF).Zeros(14));
    const Bytes row = Exact(0x0208, BiffBytes().U16(0xFFFF).U16(999).U16(999).Zeros(10));
    ExpectCases({
        {"FORMULA with 19 bytes in the buffer (guard 20)", Cut(formula, 19), true},
        {"FORMULA with 21 bytes in the buffer", Cut(formula, 21), false},
        {"ROW with 16 bytes in the buffer (guard 16)", Cut(row, 16), true},
        {"ROW with 17 bytes in the buffer", Cut(row, 17), false},
        {"ROW of the wrong length is judged before the guard", Cut(Full(0x0208, BiffBytes().Zeros(14)), 6), false},
        // Fields that no guard covers are not read when they lie beyond the buffer.
        {"BLANK whose row is cut off", Cut(Full(0x0201, Cell(0xFFFF, 0xFFFF, 0xFFFF)), 5), true},
        {"BOF whose version is cut off", Cut(Full(0x0809, BiffBytes().U16(0x0500).Zeros(14)), 5), true},
        {"REFMODE whose flag is cut off", Cut(Full(0x000F, BiffBytes().U16(7)), 5), true},
        {"DVAL whose options are cut off", Cut(Full(0x01B2, BiffBytes().U16(99).Zeros(16)), 4), true},
        {"the length field cut off", Cut(Full(0x0208, BiffBytes()), 3), true},
        {"only the type in the buffer", Cut(Full(0x00FD, BiffBytes()), 2), true},
        {"not even a whole type", Cut(Full(0x00FD, BiffBytes()), 1), false},
    });
}

TEST(RecordPlausibility, FixedLengthAndValueRules) {
    ExpectCases({
        {"BOF of BIFF8", Full(0x0809, BiffBytes().U16(0x0600).U16(0x0005).Zeros(12)), true},
        {"BOF of BIFF5 (0x0500)", Full(0x0809, BiffBytes().U16(0x0500).U16(0x0005).Zeros(12)), false},
        {"BOF length 8", Full(0x0809, BiffBytes().U16(0x0600).Zeros(6)), false},
        {"EOF", Full(0x000A, BiffBytes()), true},
        {"EOF length 2", Full(0x000A, BiffBytes().U16(0)), false},
        {"CONTINUE length 0", Full(0x003C, BiffBytes()), false},
        {"CONTINUE length 8224", FullWithLength(0x003C, 8224, BiffBytes().Zeros(8224)), true},
        {"CONTINUE length 8225", FullWithLength(0x003C, 8225, BiffBytes().Zeros(8225)), false},
        {"CALCMODE -1", Full(0x000D, BiffBytes().U16(0xFFFF)), true},
        {"CALCMODE 2", Full(0x000D, BiffBytes().U16(2)), false},
        {"PASSWORD set", Full(0x0013, BiffBytes().U16(0xCE4B)), false},
        {"GUTS", Full(0x0080, BiffBytes().Zeros(8)), true},
        {"WRITEACCESS length 112", Full(0x005C, BiffBytes().Zeros(112)), true},
        {"WRITEACCESS length 100", Full(0x005C, BiffBytes().Zeros(100)), false},
        {"STANDARDWIDTH 0", Full(0x0099, BiffBytes().U16(0)), false},
        {"DIMENSIONS", Full(0x0200, BiffBytes().U32(0).U32(10).U16(0).U16(4).U16(0)), true},
        {"DIMENSIONS reserved field set", Full(0x0200, BiffBytes().U32(0).U32(10).U16(0).U16(4).U16(1)), false},
        {"WINDOW2 length 18", Full(0x023E, BiffBytes().U16(0x6B6).U16(0).U16(0).Zeros(12)), true},
        {"WINDOW2 length 12", Full(0x023E, BiffBytes().Zeros(12)), false},
        {"XF", Full(0x00E0, BiffBytes().U16(5).U16(0xA4).Zeros(16)), true},
        {"XF format index 0x4000", Full(0x00E0, BiffBytes().U16(5).U16(0x4000).Zeros(16)), false},
        {"DEFAULTROWHEIGHT flags 16", Full(0x0225, BiffBytes().U16(16).U16(255)), false},
        {"SHEETPROTECTION length 23", Full(0x0867, BiffBytes().U16(0x0867).Zeros(21)), true},
        {"SHEETPROTECTION other length, right type echo", Full(0x0867, BiffBytes().U16(0x0867).Zeros(9)), true},
        {"SHEETPROTECTION other length, wrong echo", Full(0x0867, BiffBytes().U16(0x0868).Zeros(9)), false},
        {"Unknown111 of length 0x2020", FullWithLength(0x00EB, 0x2020, BiffBytes().Zeros(0x2020)), true},
        {"Unknown111 drawing header", Full(0x00EB, BiffBytes().U16(0x000F).U16(0xF000).Zeros(4)), true},
        {"Unknown666 drawing container", Full(0x00EC, BiffBytes().U16(0x000F).U16(0xF002).Zeros(4)), true},
        {"Unknown666 other", Full(0x00EC, BiffBytes().U16(0x0012).U16(0xF002).Zeros(4)), false},
    });
}

TEST(RecordPlausibility, TypesWithoutARuleAreNeverPlausible) {
    for (uint16_t type : {0x0021, 0x0051, 0x015F, 0x1234, 0x0001}) {
        const Bytes bytes = Full(type, BiffBytes().Zeros(4));
        EXPECT_FALSE(RecordPlausibility::IsPlausible(bytes.data(), 0, uint32_t(bytes.size()))) << type;
        EXPECT_FALSE(RecordPlausibility::IsPlausible(bytes.data(), 0, 3)) << type;
    }
}

TEST(RecordPlausibility, StringRecordsMatchTheirLength) {
    ExpectCases({
        {"HEADER empty", Full(0x0014, BiffBytes()), true},
        {"HEADER text", Full(0x0014, BiffBytes().LongString("&P")), true},
        {"HEADER one byte too long", Full(0x0014, BiffBytes().LongString("&P").U8(0)), false},
        {"FOOTER length 3", Full(0x0015, BiffBytes().U16(0).U8(0)), false},
        {"LABEL", Full(0x0204, Cell(1, 2, 15).LongString("hello")), true},
        {"LABEL with bad option byte", Full(0x0204, Cell(1, 2, 15).U16(5).U8(0x20).Latin1("hello")), false},
        {"STRING", Full(0x0207, BiffBytes().LongString("abc")), true},
        {"STRING of no characters", Full(0x0207, BiffBytes().U16(0).U8(0).U8(0)), false},
        {"STRING of 300 characters", Full(0x0207, BiffBytes().LongString(std::string(300, 'x'))), true},
        {"STRING one byte longer than its text", Full(0x0207, BiffBytes().LongString("abc").U8(0)), false},
        {"FORMAT", Full(0x041E, BiffBytes().U16(164).LongString("0.00%")), true},
        {"FORMAT index 0x4000", Full(0x041E, BiffBytes().U16(0x4000).LongString("0.00%")), false},
        {"STYLE built-in", Full(0x0293, BiffBytes().U16(0x8000).U8(0).U8(0xFF)), true},
        {"STYLE user-defined", Full(0x0293, BiffBytes().U16(0x0010).LongString("Mine")), true},
        {"STYLE user-defined, length off", Full(0x0293, BiffBytes().U16(0x0010).LongString("Mine").U8(0)), false},
        {"BOUNDSHEET", Full(0x0085, BiffBytes().U32(0x1000).U8(0).U8(0).U8(6).U8(0).Latin1("Sheet1")), true},
        {"BOUNDSHEET kind 3", Full(0x0085, BiffBytes().U32(0x1000).U8(0).U8(3).U8(6).U8(0).Latin1("Sheet1")), false},
        {"BOUNDSHEET 16-bit name", Full(0x0085, BiffBytes().U32(0x1000).U8(0).U8(0).U8(2).U8(1).Utf16(u"表一")), true},
        {"FILESHARING with 8-bit count", Full(0x005B, BiffBytes().U16(1).U16(0).U8(3).U8(0).Latin1("bob")), true},
        {"NOTE", Full(0x001C, BiffBytes().U16(1).U16(1).U16(0).U16(1).LongString("ann").U8(0)), true},
        {"NOTE, length off", Full(0x001C, BiffBytes().U16(1).U16(1).U16(0).U16(1).LongString("ann").U16(0)), false},
        {"RSTRING with two runs",
         Full(0x00D6, Cell(1, 1, 15).LongString("rich").U16(2).U16(0).U16(1).U16(2).U16(2)), true},
        {"RSTRING run count off",
         Full(0x00D6, Cell(1, 1, 15).LongString("rich").U16(3).U16(0).U16(1).U16(2).U16(2)), false},
        {"EXTERNNAME", Full(0x0023, BiffBytes().U16(0).U32(0).LongString("Func").U16(0)), true},
        {"EXTERNNAME reserved field set", Full(0x0023, BiffBytes().U16(0).U16(0).U16(1).LongString("Func")), false},
    });
}

TEST(RecordPlausibility, FontRule) {
    auto font = [](uint16_t weight, uint8_t family) {
        return BiffBytes().U16(200).U16(0).U16(0x7FFF).U16(weight).U16(0).U8(0).U8(family).U8(0).U8(0).U8(5).U8(0).Latin1(
            "Arial");
    };
    ExpectCases({
        {"regular Arial", Full(0x0031, font(400, 2)), true},
        {"bold Arial", Full(0x0031, font(700, 2)), true},
        {"weight 450", Full(0x0031, font(450, 2)), false},
        {"weight 0", Full(0x0031, font(0, 2)), false},
        {"family 6", Full(0x0031, font(400, 6)), false},
        {"name one character short", FullWithLength(0x0031, 18, font(400, 2)), false},
    });
}

TEST(RecordPlausibility, EntryListsAreClippedToTheBuffer) {
    const BiffBytes goodAndBad = BiffBytes().U16(2).U16(0).U16(0).U16(0).U16(0xFFFF).U16(300).U16(300);
    const Bytes externSheet = Exact(0x0017, goodAndBad);
    ExpectCases({
        {"EXTERNSHEET with a bad second entry", Full(0x0017, goodAndBad), false},
        {"EXTERNSHEET whose bad entry is cut off", Cut(externSheet, 4 + 2 + 6 + 4), true},
        {"EXTERNSHEET length not 2 + 6n", Full(0x0017, BiffBytes().U16(1).U16(0).U16(0)), false},
        {"EXTERNSHEET naming the workbook itself", Full(0x0017, BiffBytes().U16(1).U16(0).U16(0xFFFE).U16(0xFFFE)), true},
        {"MERGEDCELLS", Full(0x00E5, BiffBytes().U16(1).U16(0).U16(1).U16(0).U16(2)), true},
        {"MERGEDCELLS column 501", Full(0x00E5, BiffBytes().U16(1).U16(0).U16(1).U16(0).U16(501)), false},
        {"DBCELL", Full(0x00D7, BiffBytes().U32(100).U16(20).U16(30)), true},
        {"DBCELL offset too large", Full(0x00D7, BiffBytes().U32(100).U16(20).U16(0x4000)), false},
        {"DBCELL offset cut off", Cut(Full(0x00D7, BiffBytes().U32(100).U16(20).U16(0x4000)), 11), true},
        {"PALETTE", Full(0x0092, BiffBytes().U16(2).U32(0x00FFFFFF).U32(0x00000000)), true},
        {"PALETTE colour with a fourth byte", Full(0x0092, BiffBytes().U16(2).U32(0x01FFFFFF).U32(0)), false},
        {"PALETTE of 57 colours", Full(0x0092, BiffBytes().U16(57).U32(0)), false},
        {"EXTSST", Full(0x00FF, BiffBytes().U16(8).U32(0x1234).U16(12).U16(0)), true},
        {"EXTSST first bucket's position too large", Full(0x00FF, BiffBytes().U16(8).U32(0x10000000).U16(12).U16(0)), false},
        {"EXTSST empty with 8 per bucket", Full(0x00FF, BiffBytes().U16(8)), true},
        {"EXTSST empty with 14 per bucket", Full(0x00FF, BiffBytes().U16(14)), true},
        {"EXTSST all zeros", Full(0x00FF, BiffBytes().Zeros(10)), true},
        // A writer that sets aside more buckets than it fills leaves the rest as they were in memory.
        {"EXTSST with unused buckets left unset",
         Full(0x00FF, BiffBytes().U16(8).U32(0x636).U16(12).U16(0xC148).U32(0x8C07B4A2).U16(0xFFFF).U16(0x1234)), true},
        {"EXTSST strings per bucket beyond any table", Full(0x00FF, BiffBytes().U16(0x9000)), false},
        {"EXTSST length not 2 + 8n", Full(0x00FF, BiffBytes().U16(8).U32(0x636).U16(12)), false},
        {"HORIZONTALPAGEBREAKS", Full(0x001B, BiffBytes().U16(1).U16(20).U16(0).U16(255)), true},
        {"HORIZONTALPAGEBREAKS count off", Full(0x001B, BiffBytes().U16(2).U16(20).U16(0).U16(255)), false},
        {"VERTICALPAGEBREAKS", Full(0x001A, BiffBytes().U16(1).U16(20).U16(0).U16(0x3FFF)), true},
        {"SELECTION", Full(0x001D, BiffBytes().U8(3).U16(4).U16(2).U16(0).U16(1).U16(4).U16(4).U8(2).U8(2)), true},
        {"SELECTION count off", Full(0x001D, BiffBytes().U8(3).U16(4).U16(2).U16(0).U16(2).U16(4).U16(4).U8(2).U8(2)),
         false},
        {"SELECTION reference row too large",
         Full(0x001D, BiffBytes().U8(3).U16(4).U16(2).U16(0).U16(1).U16(0x4000).U16(4).U8(2).U8(2)), false},
    });
}

TEST(RecordPlausibility, MultipleCellRecordsMatchTheirColumnRange) {
    auto mulrk = [](uint16_t firstColumn, uint16_t lastColumn) {
        return BiffBytes().U16(4).U16(firstColumn).U16(15).U32(0).U16(15).U32(0).U16(lastColumn);
    };
    auto mulblank = [](uint16_t lastColumn, uint16_t xf) {
        return BiffBytes().U16(4).U16(3).U16(15).U16(xf).U16(15).U16(lastColumn);
    };
    ExpectCases({
        {"MULRK of two cells, columns 3 to 4", Full(0x00BD, mulrk(3, 4)), true},
        {"MULRK of two cells, columns 3 to 5", Full(0x00BD, mulrk(3, 5)), false},
        {"MULRK first column 501", Full(0x00BD, mulrk(501, 502)), false},
        {"MULRK ending the buffer is not checked (guard len + 4)", Exact(0x00BD, mulrk(3, 9)), true},
        {"MULBLANK of three cells", Full(0x00BE, mulblank(5, 15)), true},
        {"MULBLANK last column off", Full(0x00BE, mulblank(6, 15)), false},
        {"MULBLANK XF 1001 inside a cut record", Cut(Full(0x00BE, mulblank(6, 1001)), 12), false},
    });
}

TEST(RecordPlausibility, NameRule) {
    // A built-in name of one character with an 11-byte formula: 14 + 2 + 11.
    auto name = [](uint16_t reserved) {
        return BiffBytes().U16(0x0020).U8(0).U8(1).U16(11).U16(reserved).U16(1).Zeros(4).U8(0).U8(0x06).Zeros(11);
    };
    ExpectCases({
        {"built-in print area name", Full(0x0018, name(0)), true},
        {"reserved field set", Full(0x0018, name(1)), false},
        {"length off by one", FullWithLength(0x0018, 28, name(0).U8(0)), false},
    });
}

TEST(RecordPlausibility, PrinterRule) {
    auto printer = [](std::u16string_view device, size_t length) {
        BiffBytes body;
        body.U16(0).Utf16(device);
        if (body.Size() < length) body.Zeros(length - body.Size());
        return body;
    };
    ExpectCases({
        {"HP in capitals, compared in lower case", Full(0x004D, printer(u"HP LaserJet 4", 40)), true},
        {"Canon", Full(0x004D, printer(u"Canon iP4200", 40)), true},
        {"network printer", Full(0x004D, printer(u"\\\\srv\\p", 40)), true},
        {"fax", Full(0x004D, printer(u"传真", 40)), true},
        {"fax with more text", Full(0x004D, printer(u"传真机", 40)), false},
        {"name starting with U+5728", Full(0x004D, printer(u"在线打印", 40)), true},
        {"plain word of 7 letters", Full(0x004D, printer(u"Printer", 40)), false},
        {"10 capital letters in 24 bytes", Full(0x004D, printer(u"ABCDEFGHIJ", 24)), true},
        {"10 capital letters in 23 bytes", Full(0x004D, printer(u"ABCDEFGHIJ", 23)), false},
        {"control character in the name", Full(0x004D, printer(u"ABCDE\x01GHIJ", 40)), false},
        {"empty name in a zeroed record", Full(0x004D, printer(u"", 40)), true},
        // Settings made elsewhere than Windows are structures of their own, not judged.
        {"environment code set", Full(0x004D, BiffBytes().U16(1).Utf16(u"HP LaserJet").Zeros(10)), true},
        {"another writer's settings", Full(0x004D, BiffBytes().U16(0x2003).U16(1).U16(1).U16(100).Zeros(22)), true},
        {"no room for the environment", Full(0x004D, BiffBytes().U8(0)), false},
    });
}

TEST(RecordPlausibility, CachedValuesRule) {
    // Two cached values in columns 2 to 3 of row 5: a number and a text.
    auto crn = [](uint8_t last, uint8_t first, uint8_t secondType) {
        return BiffBytes().U8(last).U8(first).U16(5).U8(1).Zeros(8).U8(secondType).LongString("ab").Zeros(
            secondType == 2 ? 0 : 4);
    };
    ExpectCases({
        {"number and text", Full(0x005A, crn(3, 2, 2)), true},
        {"last column before first", Full(0x005A, crn(2, 3, 2)), false},
        {"unknown value type", Full(0x005A, crn(3, 2, 3)), false},
        {"one value fewer than the body holds", Full(0x005A, crn(2, 2, 2)), false},
        {"values beyond the record", FullWithLength(0x005A, 12, crn(3, 2, 2)), false},
        // A long record's values run on past the bytes at hand: what is there cannot be judged further.
        {"bytes end before the second value", Cut(Full(0x005A, crn(3, 2, 2)), 17), true},
        {"bytes end inside the text's count", Cut(Full(0x005A, crn(3, 2, 2)), 19), true},
        {"bytes end after an unknown value type", Cut(Full(0x005A, crn(3, 2, 3)), 18), false},
    });
}

TEST(RecordPlausibility, SortRule) {
    auto sort = [](uint8_t k1, uint8_t k2, std::string_view keys) {
        return BiffBytes().U16(0).U8(k1).U8(k2).U8(0).Latin1(keys).U8(0);
    };
    const BiffBytes oneKey = sort(3, 0, std::string("\0abc", 4));
    const BiffBytes twoKeys = sort(3, 2, std::string("\0abc\0de", 7));
    ExpectCases({
        {"one key", Full(0x0090, oneKey), true},
        {"two keys", Full(0x0090, twoKeys), true},
        {"one key, a byte too long", FullWithLength(0x0090, 11, BiffBytes().Append(oneKey.Bytes()).U8(0)), false},
        {"second key longer than the record", Full(0x0090, sort(3, 9, std::string("\0abc\0de", 7))), false},
        {"invalid option byte", Full(0x0090, sort(3, 0, std::string("\x20" "abc", 4))), false},
        {"longer than 33 bytes", Full(0x0090, BiffBytes().Zeros(34)), false},
    });
}

TEST(RecordPlausibility, SupportingBookRule) {
    auto external = [](uint16_t sheets, std::string_view path, std::vector<std::string> names) {
        BiffBytes body;
        body.U16(sheets).LongString(path);
        for (const std::string& n : names) body.LongString(n);
        return body;
    };
    ExpectCases({
        {"self reference", Full(0x01AE, BiffBytes().U16(3).U16(0x0401)), true},
        {"self reference with more bytes", Full(0x01AE, BiffBytes().U16(3).U16(0x0401).U16(0)), false},
        {"add-in reference", Full(0x01AE, BiffBytes().U16(1).U16(0x3A01)), true},
        {"add-in reference of 2 sheets", Full(0x01AE, BiffBytes().U16(2).U16(0x3A01)), false},
        {"external book with two sheets", Full(0x01AE, external(2, "\x01" "book.xls", {"One", "Two"})), true},
        {"external book, sheet count too high", Full(0x01AE, external(3, "\x01" "book.xls", {"One", "Two"})), true},
        {"external book, sheet count too low", Full(0x01AE, external(1, "\x01" "book.xls", {"One", "Two"})), false},
        {"external book, path longer than the record",
         FullWithLength(0x01AE, 8, external(0, "\x01" "book.xls", {})), false},
    });
}

TEST(RecordPlausibility, SharedStringRule) {
    auto sst = [](uint32_t total, uint32_t unique, std::vector<std::string> texts) {
        BiffBytes body;
        body.U32(total).U32(unique);
        for (const std::string& t : texts) body.LongString(t);
        return body;
    };
    // A full 8224-byte record whose last text continues in the next record.
    BiffBytes fullRecord = BiffBytes().U32(400).U32(400);
    while (fullRecord.Size() + 53 + 10 <= 8224) fullRecord.LongString(std::string(50, 'x'));
    const size_t room = 8224 - fullRecord.Size();
    fullRecord.U16(200).U8(0).Latin1(std::string(room - 3, 'y'));
    ASSERT_EQ(fullRecord.Size(), 8224u);

    ExpectCases({
        {"three texts", Full(0x00FC, sst(5, 3, {"a", "bb", "ccc"})), true},
        {"no unique texts", Full(0x00FC, sst(5, 0, {})), true},
        {"more unique texts than texts", Full(0x00FC, sst(2, 3, {"a", "bb", "ccc"})), false},
        {"a workbook without texts: both counts 0", Full(0x00FC, sst(0, 0, {})), true},
        {"no texts, yet a text after the counts", Full(0x00FC, sst(0, 0, {"a"})), false},
        {"unique texts without a total", Full(0x00FC, sst(0, 3, {"a", "bb", "ccc"})), false},
        {"counts beyond 0x3FFFF", Full(0x00FC, sst(0x40000, 3, {"a", "bb", "ccc"})), false},
        {"full record with a continued last text", Full(0x00FC, fullRecord), true},
        {"text runs past a short record", FullWithLength(0x00FC, 16, sst(5, 3, {"a", "bb", "ccc"})), false},
        {"invalid option byte", Full(0x00FC, BiffBytes().U32(5).U32(3).U16(1).U8(0x40).Latin1("a").Zeros(12)), false},
        {"first text header cut by the buffer end", Cut(Full(0x00FC, sst(5, 3, {"a", "bb", "ccc"})), 14), true},
    });
}

TEST(RecordPlausibility, ConditionalFormatRule) {
    // The rules' count, a flag with the format's number above it, the range around all ranges, the
    // ranges' count and the ranges.
    auto condfmt = [](uint16_t flags, uint16_t firstRow, uint16_t lastRow, uint16_t lastColumn, uint16_t count) {
        BiffBytes body;
        body.U16(1).U16(flags).U16(firstRow).U16(lastRow).U16(0).U16(lastColumn).U16(count);
        for (int k = 0; k < 2; ++k) body.U16(firstRow).U16(lastRow).U16(0).U16(lastColumn);
        return body;
    };
    ExpectCases({
        {"two ranges", Full(0x01B0, condfmt(1, 2, 40, 5, 2)), true},
        {"whole columns, format number 3", Full(0x01B0, condfmt(0x0007, 0, 0xFFFF, 5, 2)), true},
        {"first row after the last", Full(0x01B0, condfmt(1, 41, 40, 5, 2)), false},
        {"last column 501", Full(0x01B0, condfmt(1, 2, 40, 501, 2)), false},
        {"ranges' count off", Full(0x01B0, condfmt(1, 2, 40, 5, 3)), false},
    });
}

TEST(RecordPlausibility, AnyPositionOfAnyBufferIsSafe) {
    // Every position of a buffer of known types with maximal values: no read outside (ASan checks).
    BiffBytes b;
    for (uint16_t type = 0; type < 0x0900; ++type)
        if (RecordTypeNames::IsKnown(type)) b.U16(type).U16(0xFFFF).U32(0xFFFFFFFF).U16(0x0C0D);
    const Bytes bytes = b.Bytes();
    for (uint32_t cut = 0; cut <= bytes.size(); cut += 7) {
        Bytes prefix(bytes.begin(), bytes.begin() + cut);
        for (uint32_t position = 0; position <= cut + 1; ++position)
            (void)RecordPlausibility::IsPlausible(prefix.data(), position, cut);
    }
    EXPECT_FALSE(RecordPlausibility::IsPlausible(nullptr, 0, 0));
}

}  // namespace
}  // namespace tabulon
