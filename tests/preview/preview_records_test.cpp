// The preview reader on byte-built records: texts, record rules, sheet placement, strings, layout and
// damaged streams, each where an exact layout shows the case.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "biff_test_stream.h"
#include "common/utf8_text.h"
#include "preview/preview_number_text.h"
#include "preview/preview_workbook.h"

namespace tabulon {
namespace {

using test::BiffStream;
using test::Bytes;
using test::PutU16;
using test::PutU32;

std::string Utf8(const std::u16string& text) { return Utf16ToUtf8(text); }

// The cell texts of a sheet as "row,column=text" lines, in record order.
std::vector<std::string> CellList(const PreviewSheet& sheet) {
    std::vector<std::string> cells;
    for (const PreviewCell& cell : sheet.cells)
        cells.push_back(std::to_string(cell.row) + "," + std::to_string(cell.column) + "=" + Utf8(cell.text));
    return cells;
}

PreviewContent LoadBytes(const Bytes& bytes) {
    PreviewWorkbook workbook;
    // An exactly sized copy, so that AddressSanitizer sees any read past the end.
    auto exact = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), exact.get());
    workbook.Load(exact.get(), bytes.size());
    return workbook.Snapshot();
}

// Runs one record alone through ReadRecord; the data ends where the record's bytes end.
uint16_t ReadOne(PreviewWorkbook& workbook, const Bytes& record) {
    auto exact = std::make_unique<uint8_t[]>(record.size());
    std::copy(record.begin(), record.end(), exact.get());
    return workbook.ReadRecord(exact.get(), 0, record.size());
}

// Sets the scale for one test and restores it.
class ScaleGuard {
public:
    explicit ScaleGuard(PreviewScale scale) : saved_(CurrentPreviewScale()) { SetPreviewScale(scale); }
    ~ScaleGuard() { SetPreviewScale(saved_); }

private:
    PreviewScale saved_;
};

TEST(PreviewNumberText, PrintsSixDecimalsTrimmed) {
    struct Case {
        double value;
        const char* text;
    };
    for (const Case& c : {Case {1.5, "1.5"}, Case {2.0, "2"}, Case {-0.25, "-0.25"}, Case {1.0 / 3.0, "0.333333"},
                          Case {0.0000004, "0"}, Case {123456789.125, "123456789.125"}, Case {1e20, "100000000000000000000"},
                          Case {-7.10, "-7.1"}, Case {std::numeric_limits<double>::infinity(), "inf"},
                          Case {std::nan(""), "nan"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Utf8(PreviewNumberText(c.value)), c.text);
    }
    // The largest double prints all its 309 digits.
    EXPECT_EQ(PreviewNumberText(std::numeric_limits<double>::max()).size(), 309u);
}

TEST(PreviewNumberText, RkValues) {
    auto doubleRk = [](double value, bool hundredths) {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return static_cast<uint32_t>(bits >> 32) | (hundredths ? 1u : 0u);
    };
    struct Case {
        uint32_t rk;
        const char* text;
    };
    for (const Case& c : {Case {0x00000F0F, "9.63"}, Case {0xFFFFFFFE, "-1"}, Case {0x00000002, "0"},
                          Case {(12345u << 2) | 2u, "12345"}, Case {0x7FFFFFFE, "536870911"}, Case {0x80000002, "-536870912"},
                          Case {(uint32_t(-150) << 2) | 3u, "-1.5"}, Case {doubleRk(1.25, false), "1.25"},
                          Case {doubleRk(1234.0, true), "12.34"}, Case {doubleRk(-0.5, false), "-0.5"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Utf8(RkText(c.rk)), c.text);
    }
}

TEST(PreviewRecords, LengthRulesDecideBetweenAdvanceAndResynchronise) {
    auto body = [](size_t size) { return Bytes(size, 0); };
    struct Case {
        const char* what;
        Bytes record;
        uint16_t expected;
    };
    const std::vector<Case> cases = {
        {"type 0", test::RecordBytes(0x0000, body(4)), 0},
        {"type FFFF", test::RecordBytes(0xFFFF, body(0)), 0},
        {"EOF", test::RecordBytes(0x000A, body(0)), 4},
        {"EOF with a body", test::RecordBytes(0x000A, body(2)), 0},
        {"unknown type", test::RecordBytes(0x1234, body(100)), 104},
        {"DIMENSIONS", test::RecordBytes(0x0200, body(14)), 18},
        {"NUMBER of 14", test::RecordBytes(0x0203, body(14)), 18},
        {"NUMBER of 12", test::RecordBytes(0x0203, body(12)), 0},
        {"LABELSST of 9", test::RecordBytes(0x00FD, body(9)), 0},
        {"RK of 10", test::RecordBytes(0x027E, body(10)), 14},
        {"MULRK of 18", test::RecordBytes(0x00BD, body(18)), 22},
        {"MULRK of 13", test::RecordBytes(0x00BD, body(13)), 0},
        {"MULRK of 6", test::RecordBytes(0x00BD, body(6)), 0},
        {"BOOLERR of 9", test::RecordBytes(0x0205, body(9)), 0},
        {"BOUNDSHEET of 7", test::RecordBytes(0x0085, body(7)), 0},
        {"SST of 8", test::RecordBytes(0x00FC, body(8)), 0},
        {"XF of 18", test::RecordBytes(0x00E0, body(18)), 0},
        {"COLINFO of 10", test::RecordBytes(0x007D, body(10)), 0},
        {"ROW of 14", test::RecordBytes(0x0208, body(14)), 0},
        {"MERGEDCELLS of 12", test::RecordBytes(0x00E5, body(12)), 0},
        {"FONT of 15", test::RecordBytes(0x0031, body(15)), 0},
        {"FONT with an empty name", test::RecordBytes(0x0031, body(16)), 20},
        {"FORMAT of 4", test::RecordBytes(0x041E, body(4)), 0},
        {"FORMAT \"@\" of 6", test::RecordBytes(0x041E, body(6)), 10},
        {"EXTSST of an empty table", test::RecordBytes(0x00FF, body(2)), 6},
        {"EXTSST of 0", test::RecordBytes(0x00FF, body(0)), 0},
        {"length above 8224", test::RecordBytes(0x1234, body(8225)), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PreviewWorkbook workbook;
        EXPECT_EQ(ReadOne(workbook, c.record), c.expected);
    }
}

TEST(PreviewRecords, CellRecordsCutOffByTheEndOfTheDataAreNotRead) {
    // Each record claims a full body, but the data stops two bytes early.
    for (uint16_t type : {0x00FD, 0x0203, 0x027E, 0x0205, 0x00BD, 0x00E5, 0x0031, 0x00E0, 0x0085}) {
        SCOPED_TRACE(type);
        uint16_t length = type == 0x0203 ? 14 : type == 0x0205 ? 8 : type == 0x00BD ? 18 : type == 0x00E5 ? 10
                        : type == 0x00E0 ? 20 : type == 0x0031 ? 20 : type == 0x0085 ? 12 : 10;
        Bytes record = test::RecordBytes(type, Bytes(length, 0));
        record.resize(record.size() - 2);
        PreviewWorkbook workbook;
        EXPECT_EQ(ReadOne(workbook, record), 0);
        PreviewContent content = workbook.Snapshot();
        EXPECT_TRUE(content.fonts.empty() && content.formats.empty());
        for (const PreviewSheet& sheet : content.sheets) EXPECT_TRUE(sheet.cells.empty());
    }
    // A record header with no room for it at all.
    PreviewWorkbook workbook;
    uint8_t three[3] = {0x09, 0x08, 0x10};
    EXPECT_EQ(workbook.ReadRecord(three, 0, 3), 0);
}

TEST(PreviewRecords, BoolErrTexts) {
    BiffStream stream;
    stream.BoundSheet("S").Bof(0x0010).BoolErr(0, 0, 1, 0).BoolErr(0, 1, 0, 0).BoolErr(1, 0, 7, 1).BoolErr(1, 1, 42, 1);
    stream.Eof();
    Bytes file = stream.File();
    file.resize(1024, 0);
    PreviewContent content = LoadBytes(file);
    ASSERT_EQ(content.sheets.size(), 1u);
    EXPECT_EQ(CellList(content.sheets[0]),
              (std::vector<std::string> {"0,0=True", "0,1=False", "1,0=ErrCode:7", "1,1=ErrCode:42"}));
}

TEST(PreviewRecords, CellsOfEachWorksheetGoUnderItsOwnSheetPastChartsAndModules) {
    BiffStream stream;
    stream.Bof(0x0005)
        .BoundSheet("Chart1", 2)
        .BoundSheet("Data")
        .BoundSheet("Module1", 6)
        .BoundSheet("Second")
        .Sst({"alpha", "beta"})
        .Eof();
    // The chart sheet's substream: its NUMBER records are the chart's cached series values.
    stream.Bof(0x0020).Number(0, 0, 99).Number(1, 0, 98).Eof();
    stream.Bof(0x0010).LabelSst(0, 0, 0).Number(0, 1, 2.5);
    // A chart embedded in the worksheet, with its own cache, then more cells of the worksheet.
    stream.Bof(0x0020).Number(0, 0, 77).Eof();
    stream.Rk(1, 0, 0x0F0F).Eof();
    stream.Bof(0x0010).LabelSst(3, 2, 1).Eof();
    // A worksheet substream that no BOUNDSHEET names.
    stream.Bof(0x0010).Number(0, 0, 5).Number(1, 0, 6).Eof();
    PreviewContent content = LoadBytes(stream.File());

    ASSERT_EQ(content.sheets.size(), 5u);
    EXPECT_EQ(Utf8(content.sheets[0].name), "Chart1");
    EXPECT_EQ(content.sheets[0].sheetType, PreviewSheetType::Chart);
    EXPECT_TRUE(content.sheets[0].cells.empty());
    EXPECT_EQ(Utf8(content.sheets[1].name), "Data");
    EXPECT_EQ(CellList(content.sheets[1]), (std::vector<std::string> {"0,0=alpha", "0,1=2.5", "1,0=9.63"}));
    EXPECT_EQ(Utf8(content.sheets[2].name), "Module1");
    EXPECT_TRUE(content.sheets[2].cells.empty());
    EXPECT_EQ(Utf8(content.sheets[3].name), "Second");
    EXPECT_EQ(CellList(content.sheets[3]), (std::vector<std::string> {"3,2=beta"}));
    EXPECT_EQ(content.sheets[4].name, u"");
    EXPECT_EQ(CellList(content.sheets[4]), (std::vector<std::string> {"0,0=5", "1,0=6"}));
    EXPECT_EQ(content.currentSheet, 3);
}

TEST(PreviewRecords, CellsBeforeAnySheetGetAnUnnamedSheet) {
    BiffStream stream;
    stream.Number(2, 3, 4).Rk(2, 4, 0xFFFFFFFE);
    Bytes file = stream.File();
    file.resize(600, 0);
    PreviewContent content = LoadBytes(file);
    ASSERT_EQ(content.sheets.size(), 1u);
    EXPECT_EQ(content.sheets[0].name, u"");
    EXPECT_EQ(CellList(content.sheets[0]), (std::vector<std::string> {"2,3=4", "2,4=-1"}));
}

TEST(PreviewRecords, MulRkGivesOneCellPerEntry) {
    Bytes body;
    PutU16(body, 4);
    PutU16(body, 1);
    for (uint32_t rk : {0x0F0Fu, 0xFFFFFFFEu, 6u}) {
        PutU16(body, 21);
        PutU32(body, rk);
    }
    PutU16(body, 3);
    BiffStream stream;
    stream.BoundSheet("S").Bof(0x0010).Add(0x00BD, body).Eof();
    Bytes file = stream.File();
    file.resize(700, 0);
    PreviewContent content = LoadBytes(file);
    ASSERT_EQ(content.sheets.size(), 1u);
    EXPECT_EQ(CellList(content.sheets[0]), (std::vector<std::string> {"4,1=9.63", "4,2=-1", "4,3=1"}));
    EXPECT_EQ(content.sheets[0].cells[2].formatIndex, 21);
}

TEST(PreviewRecords, WidthsHeightsAndMerges) {
    ScaleGuard scale({8.0, 1.5});
    auto colInfo = [](uint16_t first, uint16_t last, uint16_t width) {
        Bytes body;
        PutU16(body, first);
        PutU16(body, last);
        PutU16(body, width);
        PutU16(body, 15);
        PutU16(body, 0);
        PutU16(body, 0);
        return body;
    };
    auto row = [](uint16_t index, uint16_t height) {
        Bytes body;
        PutU16(body, index);
        PutU16(body, 0);
        PutU16(body, 1);
        PutU16(body, height);
        PutU32(body, 0);
        PutU32(body, 0x0F0100);
        return body;
    };
    Bytes merges;
    const uint16_t ranges[][4] = {{0, 1, 0, 2}, {1, 1200, 4, 4}, {5, 6, 27, 27}, {9, 8, 0, 0}, {3, 3, 5, 26}};
    PutU16(merges, 5);
    for (const auto& range : ranges)
        for (uint16_t value : range) PutU16(merges, value);
    Bytes defaultHeight;
    PutU16(defaultHeight, 0);
    PutU16(defaultHeight, 255);

    BiffStream stream;
    stream.BoundSheet("S").Bof(0x0010);
    stream.Add(0x0055, {8, 0});                 // default width of 8 characters
    stream.Add(0x0225, defaultHeight);          // 255 twips
    stream.Add(0x007D, colInfo(0, 2, 20 * 256));
    stream.Add(0x007D, colInfo(30, 40, 30 * 256));  // beyond column Z: no width
    stream.Add(0x007D, colInfo(24, 26, 30 * 256));  // reaches past column Z: no width either
    stream.Add(0x0208, row(3, 600));
    stream.Add(0x0208, row(4, 0x8000 | 900));   // bit 15: the row keeps the default height
    stream.Add(0x00E5, merges);
    stream.Eof();
    PreviewContent content = LoadBytes(stream.File());
    ASSERT_EQ(content.sheets.size(), 1u);
    const PreviewSheet& sheet = content.sheets[0];

    EXPECT_EQ(sheet.columnWidths, (std::map<int32_t, int32_t> {{-1, 64}, {0, 160}, {1, 160}, {2, 160}}));
    EXPECT_EQ(sheet.rowHeights, (std::map<int32_t, int32_t> {{-1, 26}, {3, 60}}));

    // Kept: A1:C2 and F4:AA4 (column 26 is the last one kept). Rows to 1200, column 27 and a range
    // whose last row comes before its first are left out.
    EXPECT_EQ(sheet.mergeAnchors, (std::map<uint32_t, uint32_t> {{0u, 1u * 65536 + 2}, {3u * 65536 + 5, 3u * 65536 + 26}}));
    using namespace MergeEdge;
    EXPECT_EQ(sheet.mergeEdges.at(0), Left | Top);
    EXPECT_EQ(sheet.mergeEdges.at(1), Top);
    EXPECT_EQ(sheet.mergeEdges.at(2), Top | Right);
    EXPECT_EQ(sheet.mergeEdges.at(65536 + 0), Left | Bottom);
    EXPECT_EQ(sheet.mergeEdges.at(65536 + 1), Bottom);
    EXPECT_EQ(sheet.mergeEdges.at(65536 + 2), Right | Bottom);
    EXPECT_EQ(sheet.mergeEdges.at(3u * 65536 + 5), Left | Top | Bottom);
    EXPECT_EQ(sheet.mergeEdges.at(3u * 65536 + 10), Top | Bottom);
    EXPECT_EQ(sheet.mergeEdges.at(3u * 65536 + 26), Top | Bottom | Right);
    EXPECT_EQ(sheet.mergeEdges.size(), 6u + 22u);
}

TEST(PreviewRecords, MergesInsideALargeRangeAreCoveredWithoutEdges) {
    Bytes merges;
    PutU16(merges, 2);
    for (uint16_t value : {0, 1000, 0, 26, 2, 4, 1, 3}) PutU16(merges, value);
    BiffStream stream;
    stream.BoundSheet("S").Bof(0x0010).Add(0x00E5, merges).Eof();
    PreviewContent content = LoadBytes(stream.File());
    const auto& edges = content.sheets.at(0).mergeEdges;
    EXPECT_EQ(edges.size(), 1001u * 27u);
    EXPECT_EQ(edges.at(500u * 65536 + 13), 0);  // inside both ranges, on no edge
    EXPECT_EQ(edges.at(2u * 65536 + 2), MergeEdge::Top);
    EXPECT_EQ(edges.at(1000u * 65536 + 26), MergeEdge::Bottom | MergeEdge::Right);
    EXPECT_EQ(content.sheets[0].mergeAnchors.size(), 2u);
}

TEST(PreviewRecords, FontsAndFormats) {
    Bytes font;
    PutU16(font, 240);     // 12 points
    PutU16(font, 0x000A);  // italic, struck out
    PutU16(font, 8);
    PutU16(font, 700);
    PutU16(font, 0);
    font.push_back(1);
    font.push_back(2);
    font.push_back(134);
    font.push_back(0);
    const std::string longName(40, 'F');
    font.push_back(static_cast<uint8_t>(longName.size()));
    font.push_back(0);
    font.insert(font.end(), longName.begin(), longName.end());
    Bytes xf;
    for (uint32_t word : {0x00050003u, 0x20u | 0x08u | 0x03u, 3u, 4u, 5u}) PutU32(xf, word);
    BiffStream stream;
    stream.Bof(0x0005).Add(0x0031, font).Add(0x00E0, xf).Eof();
    Bytes file = stream.File();
    file.resize(700, 0);
    PreviewContent content = LoadBytes(file);
    ASSERT_EQ(content.fonts.size(), 1u);
    const PreviewFont& f = content.fonts[0];
    EXPECT_EQ(f.height, 240);
    EXPECT_TRUE(f.italic);
    EXPECT_TRUE(f.strikeOut);
    EXPECT_EQ(f.weight, 700);
    EXPECT_EQ(f.underline, 1);
    EXPECT_EQ(f.family, 2);
    EXPECT_EQ(f.characterSet, 134);
    EXPECT_EQ(Utf8(f.faceName), std::string(31, 'F'));
    ASSERT_EQ(content.formats.size(), 1u);
    EXPECT_EQ(content.formats[0], (PreviewFormat {0x00050003u, 0x2Bu, 3u, 4u, 5u}));
}

// SST bodies written by hand: the string forms and their continuation in CONTINUE records.
class SharedStringTable {
public:
    void Narrow(const std::string& text) {
        PutU16(body_, static_cast<uint16_t>(text.size()));
        body_.push_back(0);
        body_.insert(body_.end(), text.begin(), text.end());
        ++count_;
    }
    void Wide(const std::u16string& text) {
        PutU16(body_, static_cast<uint16_t>(text.size()));
        body_.push_back(1);
        for (char16_t c : text) PutU16(body_, static_cast<uint16_t>(c));
        ++count_;
    }
    // Rich text with phonetic data: 2 formatting runs of 4 bytes, 5 bytes of phonetic block.
    void RichWithPhonetics(const std::string& text) {
        PutU16(body_, static_cast<uint16_t>(text.size()));
        body_.push_back(0x0C);
        PutU16(body_, 2);
        PutU32(body_, 5);
        body_.insert(body_.end(), text.begin(), text.end());
        body_.insert(body_.end(), 8, 0xEE);
        body_.insert(body_.end(), 5, 0xDD);
        ++count_;
    }
    void RawBytes(const Bytes& bytes, uint32_t strings) {
        body_.insert(body_.end(), bytes.begin(), bytes.end());
        count_ += strings;
    }
    Bytes& Body() { return body_; }
    // The SST record's body: total and unique counts, then the strings.
    Bytes Record(uint32_t uniqueCount) const {
        Bytes out;
        PutU32(out, uniqueCount);
        PutU32(out, uniqueCount);
        out.insert(out.end(), body_.begin(), body_.end());
        return out;
    }
    uint32_t Count() const { return count_; }

private:
    Bytes body_;
    uint32_t count_ = 0;
};

std::vector<std::string> Strings(const PreviewContent& content) {
    std::vector<std::string> out;
    for (const auto& text : content.sharedStrings) out.push_back(Utf8(text));
    return out;
}

PreviewContent LoadTable(const SharedStringTable& table, const std::vector<uint32_t>& cellIndexes) {
    BiffStream stream;
    stream.Bof(0x0005).BoundSheet("S").Add(0x00FC, table.Record(table.Count())).Eof().Bof(0x0010);
    for (size_t i = 0; i < cellIndexes.size(); ++i) stream.LabelSst(0, static_cast<uint16_t>(i), cellIndexes[i]);
    return LoadBytes(stream.Eof().File());
}

TEST(PreviewSharedStrings, StringFormsAndLimits) {
    SharedStringTable table;
    table.Narrow("plain");
    table.Wide(u"宽字符");
    table.RichWithPhonetics("rich");
    table.Narrow(std::string(3000, 'n'));  // at the limit: kept
    table.Narrow(std::string(3001, 'm'));  // above it: empty, but skipped whole
    table.Narrow("after the long ones");
    table.Narrow("");
    PreviewContent content = LoadTable(table, {1, 2, 5, 7});
    EXPECT_EQ(Strings(content), (std::vector<std::string> {"plain", "宽字符", "rich", std::string(3000, 'n'), "",
                                                            "after the long ones", ""}));
    // Cells take their texts from the table; an index beyond it leaves the text empty.
    EXPECT_EQ(CellList(content.sheets.at(0)),
              (std::vector<std::string> {"0,0=宽字符", "0,1=rich", "0,2=after the long ones", "0,3="}));

    SharedStringTable wide;
    wide.Wide(std::u16string(1500, u'w'));
    wide.Wide(std::u16string(1501, u'v'));
    wide.Narrow("after");
    EXPECT_EQ(Strings(LoadTable(wide, {})), (std::vector<std::string> {std::string(1500, 'w'), "", "after"}));
}

TEST(PreviewSharedStrings, AnInvalidOptionByteEndsTheList) {
    SharedStringTable table;
    table.Narrow("one");
    table.RawBytes({3, 0, 0x40, 'b', 'a', 'd'}, 1);
    table.Narrow("never read");
    BiffStream stream;
    stream.Bof(0x0005).Add(0x00FC, table.Record(table.Count())).Eof();
    Bytes file = stream.File();
    file.resize(800, 0);
    EXPECT_EQ(Strings(LoadBytes(file)), (std::vector<std::string> {"one"}));
}

TEST(PreviewSharedStrings, StringsContinueAcrossContinueRecords) {
    // An SST record of exactly 8224 bytes and two CONTINUE records. A string's characters cross the
    // first boundary, where the continuation's option byte switches them to 16 bits; a rich string's
    // formatting runs cross the second, which carries no option byte.
    std::vector<std::u16string> expected;
    auto narrow = [&expected](Bytes& out, const std::string& text) {
        PutU16(out, static_cast<uint16_t>(text.size()));
        out.push_back(0);
        out.insert(out.end(), text.begin(), text.end());
        expected.emplace_back(text.begin(), text.end());
    };
    auto wide = [&expected](Bytes& out, const std::u16string& text) {
        PutU16(out, static_cast<uint16_t>(text.size()));
        out.push_back(1);
        for (char16_t c : text) PutU16(out, static_cast<uint16_t>(c));
        expected.push_back(text);
    };

    Bytes sst(8, 0);  // the two counts, filled in at the end
    while (sst.size() + 3 + 12 + 30 < 8224) narrow(sst, "entry " + std::to_string(expected.size()));
    // A 40-character string whose first characters end the SST record.
    const size_t narrowPart = 8224 - sst.size() - 3;
    PutU16(sst, 40);
    sst.push_back(0);
    sst.insert(sst.end(), narrowPart, 'c');
    ASSERT_EQ(sst.size(), 8224u);
    Bytes continue1 {1};  // option byte: the rest of the characters are 16-bit
    std::u16string crossing(narrowPart, u'c');
    for (size_t i = narrowPart; i < 40; ++i) {
        crossing.push_back(u'Ж');
        PutU16(continue1, u'Ж');
    }
    expected.push_back(crossing);
    // Fill with 19-byte wide strings, then one narrow string, so that 18 bytes are left for the rich one.
    while (8224 - continue1.size() >= 30) wide(continue1, u"ширина " + std::u16string(1, u'0' + expected.size() % 10));
    if (8224 - continue1.size() > 20) narrow(continue1, std::string(8224 - continue1.size() - 21, 'f'));
    // A rich string with 4 formatting runs (16 bytes); the record ends inside the runs.
    const std::string rich = "rich!";
    PutU16(continue1, static_cast<uint16_t>(rich.size()));
    continue1.push_back(0x08);
    PutU16(continue1, 4);
    continue1.insert(continue1.end(), rich.begin(), rich.end());
    expected.emplace_back(rich.begin(), rich.end());
    const size_t runsInFirst = 8224 - continue1.size();
    ASSERT_LT(runsInFirst, 16u);
    continue1.insert(continue1.end(), runsInFirst, 0xAB);
    Bytes continue2(16 - runsInFirst, 0xAB);
    narrow(continue2, "last one");
    const auto total = static_cast<uint32_t>(expected.size());
    for (size_t k : {0u, 4u}) {
        sst[k] = static_cast<uint8_t>(total);
        sst[k + 1] = static_cast<uint8_t>(total >> 8);
    }

    BiffStream stream;
    stream.Bof(0x0005).BoundSheet("S").Add(0x00FC, sst).Add(0x003C, continue1).Add(0x003C, continue2).Eof();
    stream.Bof(0x0010).LabelSst(0, 0, total - 1).LabelSst(1, 0, total - 2).LabelSst(2, 0, total - 3).Eof();
    PreviewContent content = LoadBytes(stream.File());
    ASSERT_EQ(content.sharedStrings.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(Utf8(content.sharedStrings[i]), Utf8(expected[i]));
    }
    EXPECT_EQ(CellList(content.sheets.at(0)),
              (std::vector<std::string> {"0,0=last one", "1,0=rich!", "2,0=" + Utf8(expected[total - 3])}));
}

TEST(PreviewSharedStrings, ShorterSstRecordsAlsoContinue) {
    // Spreadsheet programs end SST and CONTINUE records at string boundaries, below 8224 bytes.
    SharedStringTable first, second;
    first.Narrow("in the SST");
    second.Narrow("in the CONTINUE");
    BiffStream stream;
    stream.Bof(0x0005).Add(0x00FC, first.Record(2)).Add(0x003C, second.Body()).Eof();
    Bytes file = stream.File();
    file.resize(800, 0);
    EXPECT_EQ(Strings(LoadBytes(file)), (std::vector<std::string> {"in the SST", "in the CONTINUE"}));
}

TEST(PreviewSharedStrings, ATableCutOffByTheEndOfTheDataKeepsWhatItHolds) {
    SharedStringTable table;
    for (int i = 0; i < 60; ++i) table.Narrow("value " + std::to_string(i));
    BiffStream stream;
    stream.Bof(0x0005).Add(0x00FC, table.Record(60));
    Bytes file = stream.File();
    file.resize(file.size() - 30);  // the data ends inside string 57
    PreviewContent content = LoadBytes(file);
    ASSERT_GE(content.sharedStrings.size(), 57u);
    EXPECT_EQ(Utf8(content.sharedStrings[56]), "value 56");
    EXPECT_EQ(content.sharedStrings.back(), u"");  // the string that runs past the data
}

TEST(PreviewDamage, ResynchronisesOnCellRowAndSheetSignatures) {
    BiffStream stream;
    stream.Bof(0x0005).BoundSheet("One").BoundSheet("Two").Sst({"a", "b", "c"}).Eof();
    stream.Bof(0x0010).LabelSst(0, 0, 0);
    stream.Raw(Bytes(300, 0x00));  // a zeroed stretch: type 0 makes the walk search
    stream.LabelSst(1, 0, 1);
    // Garbage with an oversized length: the walk looks for the next BOF.
    stream.Raw({0x34, 0x12, 0xFF, 0xFF, 1, 2, 3, 4, 0xFD, 0x00, 0x0B});
    stream.Number(9, 9, 9);  // skipped: the walk goes straight to the BOF
    stream.Bof(0x0010).Number(2, 2, 3.25);
    // A record with a rejected length, then a ROW signature to pick up again.
    stream.Add(0x0203, Bytes(12, 0)).Rk(7, 7, 0x0F0F);  // the RK after it is lost with the damage
    Bytes row;
    for (uint16_t v : {4, 0, 3, 300, 0, 0, 0x0100, 0x000F}) PutU16(row, v);
    stream.Add(0x0208, row).Number(4, 1, -8).Eof();
    PreviewContent content = LoadBytes(stream.File());
    ASSERT_EQ(content.sheets.size(), 2u);
    EXPECT_EQ(CellList(content.sheets[0]), (std::vector<std::string> {"0,0=a", "1,0=b"}));
    EXPECT_EQ(CellList(content.sheets[1]), (std::vector<std::string> {"2,2=3.25", "4,1=-8"}));
}

TEST(PreviewDamage, ShortOrEmptyDataGivesNothing) {
    PreviewWorkbook workbook;
    int calls = 0;
    workbook.SetLoadedCallback([&calls] { ++calls; });
    workbook.Load(nullptr, 0);
    uint8_t small[516] = {};
    workbook.Load(small, sizeof small);
    Bytes zeros(5000, 0);
    workbook.Load(zeros.data(), zeros.size());
    EXPECT_TRUE(workbook.Snapshot().sheets.empty());
    EXPECT_EQ(calls, 0);

    BiffStream stream;
    stream.BoundSheet("S");
    Bytes file = stream.File();
    file.resize(600, 0);
    workbook.Load(file.data(), file.size());
    EXPECT_EQ(calls, 1);
    // A new load forgets the previous content.
    workbook.Load(zeros.data(), zeros.size());
    EXPECT_TRUE(workbook.Snapshot().sheets.empty());
}

TEST(PreviewDamage, StreamsThatAreNotWhereExpectedAreFoundBySignature) {
    // The stream starts 3 sectors in, behind other data; every record fits but nothing at 512 does.
    BiffStream stream;
    stream.Bof(0x0005).BoundSheet("Late").Sst({"found"}).Eof().Bof(0x0010).LabelSst(5, 1, 0).Eof();
    Bytes file = stream.File();
    Bytes other(1536, 0xA5);
    file.insert(file.begin() + 512, other.begin(), other.end());
    PreviewContent content = LoadBytes(file);
    ASSERT_EQ(content.sheets.size(), 1u);
    EXPECT_EQ(Utf8(content.sheets[0].name), "Late");
    EXPECT_EQ(CellList(content.sheets[0]), (std::vector<std::string> {"5,1=found"}));
}

}  // namespace
}  // namespace tabulon
