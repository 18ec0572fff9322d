#pragma once
// python3-xlrd as the independent reader the preview is checked against (tests/preview/xlrd_cells.py).

#include <string>
#include <vector>

#include "preview/preview_workbook.h"

namespace tabulon::test {

struct ReferenceCell {
    int row = 0;
    int column = 0;
    std::string kind;      // "text", "number", "bool" or "error"
    std::string expected;  // the text the preview shows for this value
    int record = -1;       // the BIFF record type holding the cell, -1 when not found
};

struct ReferenceSheet {
    std::string name;
    std::vector<ReferenceCell> cells;
};

struct ReferenceWorkbook {
    std::string file;
    std::string error;  // set when xlrd refused the file
    bool biff8 = false;
    bool contiguous = false;  // the workbook stream lies in the file in one piece
    int sstContinues = 0;     // CONTINUE records after the SST
    std::vector<ReferenceSheet> sheets;
};

// Reads the files with xlrd (one python run for all of them); empty when python3-xlrd is missing.
std::vector<ReferenceWorkbook> ReadWithXlrd(const std::vector<std::string>& files);

struct Disagreement {
    std::string sheet;
    ReferenceCell cell;
    std::string got;  // the preview's text, or "<missing>" / "<no sheet>"
};

// Compares the preview's cells with the reference, sheet by sheet (a reference sheet is matched with the
// first preview sheet of its name; at one place the last preview cell counts, as in the grid).
// `records` limits the check to cells held by those record types; empty checks every cell.
std::vector<Disagreement> Compare(const PreviewContent& preview, const ReferenceWorkbook& reference,
                                  const std::vector<int>& records = {}, size_t* checked = nullptr);

std::string Describe(const Disagreement& disagreement);

}  // namespace tabulon::test
