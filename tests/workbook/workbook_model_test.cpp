#include "workbook/workbook.h"

#include <gtest/gtest.h>

namespace tabulon {
namespace {

std::vector<std::u16string> Names(const Workbook& book) {
    std::vector<std::u16string> names;
    for (int i = 0; i < book.SheetCount(); ++i) names.push_back(book.SheetName(i));
    return names;
}

TEST(WorkbookModelTest, NewWorkbookNamesItsSheets) {
    Workbook book;
    book.NewWorkbook(3);
    EXPECT_EQ(Names(book), (std::vector<std::u16string> {u"Sheet1", u"Sheet2", u"Sheet3"}));
    EXPECT_FALSE(book.Globals().boundSheets[0].name.is16Bit);  // the default first name is 8-bit text
    EXPECT_TRUE(book.Globals().boundSheets[1].name.is16Bit);
    for (int count : {0, 1}) {
        book.NewWorkbook(count);
        EXPECT_EQ(book.SheetCount(), 1);
    }
    EXPECT_EQ(book.WorksheetAt(1), nullptr);
    EXPECT_EQ(book.WorksheetAt(-1), nullptr);
}

TEST(WorkbookModelTest, SheetNamesStayUniqueAndWithinAShortString) {
    Workbook book;
    book.NewWorkbook(2);
    ASSERT_TRUE(book.WorksheetAt(1)->Rename(u"Sheet3"));
    // Tries Sheet3 (count + 1) first, which is taken, then Sheet4.
    Worksheet* added = book.AddNumberedWorksheet(-1);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->Name(), u"Sheet4");
    EXPECT_EQ(added->Index(), 2);

    Worksheet* first = book.WorksheetAt(0);
    EXPECT_TRUE(first->Rename(u"Sheet1"));   // its own name
    EXPECT_FALSE(first->Rename(u"Sheet3"));  // another sheet's
    EXPECT_FALSE(first->Rename(u"SHEET4"));  // the same name for the spreadsheet application
    EXPECT_FALSE(first->Rename(u""));
    EXPECT_FALSE(first->Rename(std::u16string(256, u'x')));
    EXPECT_TRUE(first->Rename(std::u16string(255, u'x')));
    EXPECT_EQ(book.AddWorksheet(u"sheet3", -1), nullptr);
    EXPECT_EQ(book.AddWorksheet(std::u16string(256, u'y'), -1), nullptr);

    // Inserting before a sheet moves the later handles on; their cells stay.
    book.WorksheetAt(1)->CellAt(0, 0)->SetText(u"kept");
    Worksheet* inserted = book.AddWorksheet(u"\u6570\u636e", 1);
    ASSERT_NE(inserted, nullptr);
    EXPECT_EQ(Names(book), (std::vector<std::u16string> {std::u16string(255, u'x'), u"\u6570\u636e", u"Sheet3", u"Sheet4"}));
    EXPECT_EQ(book.WorksheetAt(2)->Index(), 2);
    EXPECT_EQ(book.WorksheetAt(2)->CellAt(0, 0)->WideText(), u"kept");
    EXPECT_EQ(book.SheetRecords()[1].window2.optionFlags & Window2Record::kSelected, 0);
}

TEST(WorkbookModelTest, GridGrowsAheadOfTheCellsInUse) {
    Workbook book;
    book.NewWorkbook(1);
    Worksheet* sheet = book.WorksheetAt(0);
    EXPECT_EQ(sheet->RowCount(), 0u);
    ASSERT_NE(sheet->CellAt(0, 0), nullptr);
    EXPECT_EQ(sheet->RowCount(), 100u);
    EXPECT_EQ(sheet->ColumnCount(), 1u);
    ASSERT_NE(sheet->CellAt(150, 3), nullptr);
    EXPECT_EQ(sheet->RowCount(), 302u);
    EXPECT_EQ(sheet->ColumnCount(), 4u);
    EXPECT_EQ(sheet->CellAt(65536, 0), nullptr);
    EXPECT_EQ(sheet->CellAt(0, 256), nullptr);
    ASSERT_NE(sheet->CellAt(65535, 255), nullptr);
    EXPECT_EQ(sheet->RowCount(), 65536u);  // never past the last row a sheet has
    EXPECT_EQ(sheet->ColumnCount(), 256u);
    EXPECT_NE(sheet->FindCell(10, 200), nullptr);
    EXPECT_TRUE(sheet->FindCell(10, 200)->IsEmpty());

    SheetCell* cell = sheet->CellAt(2, 2);
    cell->SetText(u"x");
    EXPECT_EQ(cell->Kind(), CellKind::WideText);
    cell->SetText(u"");
    EXPECT_EQ(cell->Kind(), CellKind::Empty);
    cell->SetNarrowText("abc");
    EXPECT_EQ(cell->Kind(), CellKind::NarrowText);
    EXPECT_EQ(cell->NarrowText(), "abc");
    EXPECT_TRUE(cell->WideText().empty());
    cell->SetNarrowText("");
    EXPECT_TRUE(cell->IsEmpty());
}

}  // namespace
}  // namespace tabulon
