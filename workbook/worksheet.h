#pragma once
// Worksheet: the handle through which callers edit one sheet of a Workbook, as a grid of cells.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/sheet_cell.h"

namespace tabulon {

class Workbook;
struct SheetRecordSet;
class SstRecord;

inline constexpr uint32_t kMaxSheetRows = 65536;
inline constexpr uint32_t kMaxSheetColumns = 256;
// A sheet name is a short string: at most 255 characters.
inline constexpr size_t kMaxSheetNameLength = 255;

class Worksheet {
public:
    Worksheet(Workbook& owner, int index) : owner_(&owner), index_(index) {}

    Workbook& Owner() const { return *owner_; }
    int Index() const { return index_; }
    // The extent of the grid; the row count runs ahead of the rows in use (see CellAt).
    uint32_t RowCount() const { return rowCount_; }
    uint32_t ColumnCount() const { return columnCount_; }
    std::u16string Name() const;

    // The cell at (row, col), growing the grid: the column count becomes col + 1 when col is past
    // it, the row count 2 x row + 2 (at least 100, at most 65536) when row is past it. Null past
    // row 65535 or column 255. The pointer stays valid until the grid grows again.
    SheetCell* CellAt(unsigned row, unsigned col);
    // The cell without growing the grid; null when it lies outside.
    const SheetCell* FindCell(unsigned row, unsigned col) const;
    // Renames the sheet; false (and no change) when the name is empty, longer than 255
    // characters, or already another sheet's name (compared ignoring the case of a-z).
    bool Rename(std::u16string_view name);

    // Rebuilds the grid from the sheet's records: numbers, booleans and shared strings become
    // cells; blanks, errors and formulas leave their cells empty.
    void LoadFromRecords(const SheetRecordSet& records, const SstRecord& sst);

private:
    friend class Workbook;

    Workbook* owner_;
    int index_;
    uint32_t rowCount_ = 0;
    uint32_t columnCount_ = 0;
    // Rows are allocated when first touched and only as wide as the columns touched in them;
    // cells past a row's end are empty.
    std::vector<std::vector<SheetCell>> rows_;
};

}  // namespace tabulon
