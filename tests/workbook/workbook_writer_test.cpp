#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "common/little_endian.h"
#include "support/test_environment.h"
#include "workbook/independent_readers.h"
#include "workbook/rk_value.h"
#include "common/utf8_text.h"
#include "workbook/workbook.h"

namespace tabulon {
namespace {

using test::TempDir;

struct StreamRecord {
    uint16_t type;
    size_t offset;
    std::vector<uint8_t> body;
};

std::vector<StreamRecord> Records(const std::vector<uint8_t>& stream) {
    std::vector<StreamRecord> records;
    size_t at = 0;
    while (at + 4 <= stream.size()) {
        size_t length = LoadU16(&stream[at + 2]);
        EXPECT_LE(at + 4 + length, stream.size());
        if (at + 4 + length > stream.size()) break;
        records.push_back({LoadU16(&stream[at]), at, {stream.begin() + at + 4, stream.begin() + at + 4 + length}});
        at += 4 + length;
    }
    EXPECT_EQ(at, stream.size());
    return records;
}

std::vector<const StreamRecord*> OfType(const std::vector<StreamRecord>& records, uint16_t type) {
    std::vector<const StreamRecord*> found;
    for (const auto& record : records)
        if (record.type == type) found.push_back(&record);
    return found;
}

const StreamRecord* At(const std::vector<StreamRecord>& records, size_t offset) {
    for (const auto& record : records)
        if (record.offset == offset) return &record;
    return nullptr;
}

TEST(WorkbookWriterTest, OneTextCellGivesTheDefaultLayout) {
    Workbook book;
    book.NewWorkbook(1);
    book.WorksheetAt(0)->CellAt(0, 0)->SetText(u"Hello");
    std::vector<uint8_t> stream = book.BuildStream();
    auto records = Records(stream);
    ASSERT_FALSE(records.empty());

    // Globals: BOF, WINDOW1, 4 FONT, 21 XF, 6 STYLE, BOUNDSHEET, SST, EOF.
    std::vector<uint16_t> globals;
    for (const auto& record : records) {
        globals.push_back(record.type);
        if (record.type == 0x000A) break;
    }
    std::vector<uint16_t> expected = {0x0809, 0x003D};
    expected.insert(expected.end(), 4, 0x0031);
    expected.insert(expected.end(), 21, 0x00E0);
    expected.insert(expected.end(), 6, 0x0293);
    expected.insert(expected.end(), {0x0085, 0x00FC, 0x000A});
    EXPECT_EQ(globals, expected);

    auto bound = OfType(records, 0x0085);
    ASSERT_EQ(bound.size(), 1u);
    size_t sheetStart = LoadU32(bound[0]->body.data());
    const StreamRecord* eof = OfType(records, 0x000A)[0];
    EXPECT_EQ(sheetStart, eof->offset + 4);  // the first sheet follows the globals
    const StreamRecord* bof = At(records, sheetStart);
    ASSERT_NE(bof, nullptr);
    EXPECT_EQ(bof->type, 0x0809);
    EXPECT_EQ(LoadU16(&bof->body[2]), 0x0010);

    auto sst = OfType(records, 0x00FC);
    ASSERT_EQ(sst.size(), 1u);
    EXPECT_EQ(LoadU32(&sst[0]->body[0]), 1u);  // total
    EXPECT_EQ(LoadU32(&sst[0]->body[4]), 1u);  // unique

    // 100 rows: 4 row blocks, each with a DBCELL that the INDEX points at.
    auto index = OfType(records, 0x020B);
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(LoadU32(&index[0]->body[8]), 100u);
    ASSERT_EQ(index[0]->body.size(), 16u + 4 * 4);
    for (int b = 0; b < 4; ++b) {
        const StreamRecord* dbCell = At(records, LoadU32(&index[0]->body[16 + 4 * b]));
        ASSERT_NE(dbCell, nullptr);
        EXPECT_EQ(dbCell->type, 0x00D7);
    }
    auto rows = OfType(records, 0x0208);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(LoadU16(&rows[0]->body[0]), 0);
    EXPECT_EQ(LoadU16(&rows[0]->body[4]), 1);    // last column + 1
    EXPECT_EQ(LoadU16(&rows[0]->body[6]), 255);  // height
    auto labels = OfType(records, 0x00FD);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(LoadU32(&labels[0]->body[6]), 0u);
    auto window2 = OfType(records, 0x023E);
    ASSERT_EQ(window2.size(), 1u);
    EXPECT_EQ(LoadU16(&window2[0]->body[0]), 0x06B6);
}

TEST(WorkbookWriterTest, CellsBecomeTheCompactRecords) {
    Workbook book;
    book.NewWorkbook(2);
    Worksheet* sheet = book.WorksheetAt(0);
    for (int c = 0; c < 3; ++c) sheet->CellAt(0, c)->SetInteger(5 + c);
    sheet->CellAt(1, 0)->SetReal(0.5);
    sheet->CellAt(2, 0)->SetReal(2.0);
    sheet->CellAt(3, 0)->SetReal(0.125);
    sheet->CellAt(4, 0)->SetInteger(1 << 29);  // past the 30-bit RK integer
    sheet->CellAt(5, 0)->SetText(u"same");
    sheet->CellAt(5, 1)->SetText(u"same");
    sheet->CellAt(5, 2)->SetNarrowText("same");
    sheet->CellAt(6, 3)->SetReal(1.25);
    sheet->CellAt(6, 4)->SetReal(1.5);
    sheet->CellAt(6, 5)->SetReal(0.001);
    std::vector<uint8_t> stream = book.BuildStream();
    auto records = Records(stream);

    auto mulRk = OfType(records, 0x00BD);
    ASSERT_EQ(mulRk.size(), 2u);
    EXPECT_EQ(mulRk[0]->body, (std::vector<uint8_t> {0, 0, 0, 0, 0, 0, 22, 0, 0, 0, 0, 0, 26, 0, 0, 0, 0, 0, 30, 0, 0, 0, 2, 0}));
    EXPECT_EQ(DecodeRk(LoadU32(&mulRk[1]->body[6])), 1.25);
    EXPECT_EQ(DecodeRk(LoadU32(&mulRk[1]->body[12])), 1.5);
    auto rk = OfType(records, 0x027E);
    ASSERT_EQ(rk.size(), 2u);
    EXPECT_EQ(LoadU32(&rk[0]->body[6]) & 3, 1u);  // 0.5 as 50 / 100
    EXPECT_EQ(DecodeRk(LoadU32(&rk[0]->body[6])), 0.5);
    EXPECT_EQ(LoadU32(&rk[1]->body[6]), 0x40000000u);  // 2.0
    auto numbers = OfType(records, 0x0203);
    ASSERT_EQ(numbers.size(), 3u);  // 0.125, 2^29 and 0.001
    EXPECT_EQ(std::bit_cast<double>(LoadU64(&numbers[0]->body[6])), 0.125);
    EXPECT_EQ(std::bit_cast<double>(LoadU64(&numbers[1]->body[6])), double(1 << 29));

    SstRecord& sst = book.Globals().sst;
    EXPECT_EQ(sst.totalCount, 3u);
    EXPECT_EQ(sst.uniqueCount, 2u);  // the wide "same" once, the narrow "same" once

    // The untouched second sheet: BOF, INDEX with one position 0, DIMENSIONS of zeros, WINDOW2, EOF.
    size_t second = LoadU32(OfType(records, 0x0085)[1]->body.data());
    std::vector<uint16_t> types;
    for (const auto& record : records)
        if (record.offset >= second) types.push_back(record.type);
    EXPECT_EQ(types, (std::vector<uint16_t> {0x0809, 0x020B, 0x0200, 0x023E, 0x000A}));
    const StreamRecord* index = At(records, second + 20);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index->body, std::vector<uint8_t>(20, 0));
    EXPECT_EQ(LoadU16(&OfType(records, 0x023E)[1]->body[0]) & 0x0200, 0);  // not selected
}

TEST(WorkbookWriterTest, DbCellOffsetsLeadToEveryRowsFirstCell) {
    Workbook book;
    book.NewWorkbook(1);
    Worksheet* sheet = book.WorksheetAt(0);
    // Rows with different numbers of cells in two blocks; a later row starts further left.
    for (unsigned r : {1u, 2u, 5u, 31u, 32u, 40u}) {
        for (unsigned c = 3; c < 3 + r % 4 + 1; ++c) sheet->CellAt(r, c)->SetText(u"t" + std::u16string(r, u'a'));
    }
    sheet->CellAt(40, 1)->SetInteger(9);
    auto stream = book.BuildStream();
    auto records = Records(stream);
    auto dims = OfType(records, 0x0200);
    ASSERT_EQ(dims.size(), 1u);
    EXPECT_EQ(LoadU32(&dims[0]->body[0]), 1u);  // first row
    EXPECT_EQ(LoadU16(&dims[0]->body[8]), 1);   // leftmost column of any row
    auto index = OfType(records, 0x020B);
    ASSERT_EQ(index.size(), 1u);
    size_t blocks = (index[0]->body.size() - 16) / 4;
    EXPECT_EQ(blocks, 1u * (sheet->RowCount() + 31) / 32);
    size_t checkedRows = 0;
    for (size_t b = 0; b < blocks; ++b) {
        size_t dbCellAt = LoadU32(&index[0]->body[16 + 4 * b]);
        const StreamRecord* dbCell = At(records, dbCellAt);
        ASSERT_NE(dbCell, nullptr);
        ASSERT_EQ(dbCell->type, 0x00D7);
        size_t firstRow = dbCellAt - LoadU32(&dbCell->body[0]);
        size_t cellAt = firstRow + 20;
        for (size_t k = 0; 4 + 2 * k < dbCell->body.size(); ++k) {
            const StreamRecord* row = At(records, firstRow + 20 * k);
            ASSERT_NE(row, nullptr);
            ASSERT_EQ(row->type, 0x0208);
            cellAt += LoadU16(&dbCell->body[4 + 2 * k]);
            const StreamRecord* cell = At(records, cellAt);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(LoadU16(&cell->body[0]), LoadU16(&row->body[0])) << "block " << b << " row " << k;
            ++checkedRows;
        }
    }
    EXPECT_EQ(checkedRows, 6u);
}

// Writes `book`, then checks the file with olefile (the stream is what was built) and xlrd
// (names and every cell as the grids hold them).
void ExpectIndependentReadersAgree(Workbook& book, const std::string& path) {
    std::vector<uint8_t> stream = book.BuildStream();
    ASSERT_TRUE(book.SaveAs(path));
    auto ole = test::ReadWithOlefile(path);
    ASSERT_TRUE(ole.opened) << ole.output;
    ASSERT_EQ(ole.streams.size(), 1u);
    EXPECT_TRUE(ole.streams["Workbook"] == stream) << "olefile stream of " << ole.streams["Workbook"].size()
                                                    << " bytes, built " << stream.size();

    auto xlrd = test::ReadWithXlrd(path);
    ASSERT_TRUE(xlrd.opened) << xlrd.error;
    ASSERT_EQ(static_cast<int>(xlrd.sheets.size()), book.SheetCount());
    for (int s = 0; s < book.SheetCount(); ++s) {
        Worksheet* sheet = book.WorksheetAt(s);
        EXPECT_EQ(xlrd.sheets[s].name, Utf16ToUtf8(sheet->Name()));
        std::vector<test::XlrdCell> expected;
        for (unsigned r = 0; r < sheet->RowCount(); ++r) {
            for (unsigned c = 0; c < sheet->ColumnCount(); ++c) {
                const SheetCell* cell = sheet->FindCell(r, c);
                if (!cell || cell->IsEmpty()) continue;
                test::XlrdCell want {static_cast<int>(r), static_cast<int>(c), "", ""};
                switch (cell->Kind()) {
                    case CellKind::Integer:
                    case CellKind::Real: {
                        double v = cell->Kind() == CellKind::Integer ? cell->IntegerValue() : cell->RealValue();
                        want.kind = "number";
                        want.value = test::NumberHex(v);
                        break;
                    }
                    case CellKind::NarrowText: {
                        want.kind = "text";
                        want.value = Utf16ToUtf8(BiffText::Narrow(cell->NarrowText()).ToWide());
                        break;
                    }
                    default:
                        want.kind = "text";
                        want.value = Utf16ToUtf8(cell->WideText());
                }
                expected.push_back(want);
            }
        }
        ASSERT_EQ(xlrd.sheets[s].cells.size(), expected.size()) << "sheet " << s;
        for (size_t i = 0; i < expected.size(); ++i) {
            const auto& got = xlrd.sheets[s].cells[i];
            EXPECT_TRUE(got == expected[i]) << "sheet " << s << " cell (" << expected[i].row << "," << expected[i].column
                                            << ") expected " << expected[i].value << " got " << got.kind << " "
                                            << got.value;
        }
    }
}

TEST(WorkbookWriterTest, MixedWorkbookReadsBackInIndependentReaders) {
    TempDir dir;
    Workbook book;
    book.NewWorkbook(4);
    ASSERT_TRUE(book.WorksheetAt(1)->Rename(u"\u9500\u552e\u6570\u636e"));  // wide name
    ASSERT_TRUE(book.WorksheetAt(3)->Rename(u"Empty"));
    Worksheet* sheet = book.WorksheetAt(0);
    for (unsigned c = 0; c < 10; ++c) sheet->CellAt(0, c)->SetInteger(static_cast<int32_t>(c * 1000 - 3000));
    for (unsigned c = 0; c < 6; ++c) sheet->CellAt(1, c)->SetReal(c * 0.25 - 0.5);
    const double reals[] = {3.14159, -1e-7, 1e15, 123456.78, 0.29, -0.01};
    for (unsigned c = 0; c < 6; ++c) sheet->CellAt(2, c)->SetReal(reals[c]);
    sheet->CellAt(3, 0)->SetInteger(-(1 << 29));
    sheet->CellAt(3, 1)->SetInteger(2147483647);
    sheet->CellAt(4, 2)->SetNarrowText("caf\xe9 8-bit");
    sheet->CellAt(4, 3)->SetText(u"caf\u00e9 wide \u4e2d\u6587 \U0001F600");
    sheet->CellAt(4, 4)->SetText(u"repeated");
    sheet->CellAt(5, 4)->SetText(u"repeated");
    sheet->CellAt(100, 255)->SetText(u"far right");
    sheet->CellAt(65535, 0)->SetText(u"last row");
    // Sheet 2: enough long strings that the shared string table spans many CONTINUE records,
    // some of them cut in the middle.
    Worksheet* strings = book.WorksheetAt(1);
    for (unsigned r = 0; r < 60; ++r) {
        std::u16string wide(300 + r * 37, static_cast<char16_t>(0x4E00 + r));
        strings->CellAt(r, 0)->SetText(wide);
        strings->CellAt(r, 1)->SetNarrowText(std::string(500 + r * 53, static_cast<char>('a' + r % 26)));
    }
    book.WorksheetAt(2)->CellAt(7, 7)->SetText(u"only cell");
    book.WorksheetAt(2)->CellAt(8, 7);  // touched, left empty
    EXPECT_GT(book.BuildStream().size(), 8224u * 4);
    ExpectIndependentReadersAgree(book, dir.File("mixed.xls"));

    // Saving again rewrites the whole file from the grids.
    sheet->CellAt(0, 0)->SetText(u"changed");
    ExpectIndependentReadersAgree(book, dir.File("mixed.xls"));
}

TEST(WorkbookWriterTest, StreamSizesAtTheMiniStreamCutoff) {
    TempDir dir;
    auto streamSize = [](size_t length) {
        Workbook book;
        book.NewWorkbook(1);
        book.WorksheetAt(0)->CellAt(0, 0)->SetNarrowText(std::string(length, 'q'));
        return book.BuildStream().size();
    };
    size_t base = streamSize(100) - 100;
    for (size_t target : {4095u, 4096u}) {
        Workbook book;
        book.NewWorkbook(1);
        book.WorksheetAt(0)->CellAt(0, 0)->SetNarrowText(std::string(target - base, 'q'));
        ASSERT_EQ(book.BuildStream().size(), target);
        ExpectIndependentReadersAgree(book, dir.File("edge" + std::to_string(target) + ".xls"));
    }
}

TEST(WorkbookWriterTest, StreamLargerThanTheHeaderFatCanAddress) {
    TempDir dir;
    Workbook book;
    book.NewWorkbook(2);
    Worksheet* sheet = book.WorksheetAt(1);
    // About 8 MB of distinct long strings, plus MULRK rows.
    for (unsigned r = 0; r < 2000; ++r) {
        std::string text(4000, static_cast<char>('A' + r % 26));
        text.replace(0, 4, std::to_string(1000 + r));
        sheet->CellAt(r, 0)->SetNarrowText(text);
        for (unsigned c = 1; c < 6; ++c) sheet->CellAt(r, c)->SetInteger(static_cast<int32_t>(r * c));
    }
    EXPECT_GT(book.BuildStream().size(), 109u * 128 * 512);
    ExpectIndependentReadersAgree(book, dir.File("large.xls"));
}

TEST(WorkbookWriterTest, GridsComeBackFromTheirRecords) {
    Workbook book;
    book.NewWorkbook(1);
    Worksheet* sheet = book.WorksheetAt(0);
    sheet->CellAt(0, 0)->SetInteger(42);
    sheet->CellAt(0, 1)->SetInteger(43);
    sheet->CellAt(1, 0)->SetReal(0.75);
    sheet->CellAt(1, 1)->SetReal(1.0 / 3);
    sheet->CellAt(2, 5)->SetText(u"wide \u00fc");
    sheet->CellAt(3, 6)->SetNarrowText("narrow");
    book.BuildStream();
    Worksheet loaded(book, 0);
    loaded.LoadFromRecords(book.SheetRecords()[0], book.Globals().sst);
    EXPECT_EQ(loaded.RowCount(), sheet->RowCount());
    EXPECT_EQ(loaded.ColumnCount(), sheet->ColumnCount());
    for (unsigned r = 0; r < sheet->RowCount(); ++r) {
        for (unsigned c = 0; c < sheet->ColumnCount(); ++c) {
            const SheetCell* want = sheet->FindCell(r, c);
            const SheetCell* got = loaded.FindCell(r, c);
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(got->Kind(), want->Kind()) << r << "," << c;
            EXPECT_EQ(got->IntegerValue(), want->IntegerValue());
            EXPECT_EQ(got->RealValue(), want->RealValue());
            EXPECT_EQ(got->WideText(), want->WideText());
            EXPECT_EQ(got->NarrowText(), want->NarrowText());
        }
    }
}

TEST(WorkbookWriterTest, SaveFailuresAreReportedAndLeaveNoFile) {
    TempDir dir;
    Workbook empty;
    EXPECT_FALSE(empty.SaveAs(dir.File("none.xls")));  // no sheet: no workbook to write
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.xls")));
    Workbook book;
    book.NewWorkbook(1);
    EXPECT_FALSE(book.SaveAs(dir.File("missing/out.xls")));
    EXPECT_FALSE(book.SaveAs(std::string("/dev/full")));
    EXPECT_TRUE(book.SaveAs(std::u16string(u"") + Utf8ToUtf16(dir.File("\u00e9t\u00e9.xls"))));
    EXPECT_TRUE(std::filesystem::exists(dir.File("\u00e9t\u00e9.xls")));
}

}  // namespace
}  // namespace tabulon
