#pragma once
// The records of one worksheet substream, and the records of the workbook globals.

#include <vector>

#include "workbook/biff_record.h"
#include "workbook/cell_record.h"
#include "workbook/global_records.h"
#include "workbook/shared_string_records.h"
#include "workbook/sheet_structure_records.h"

namespace tabulon {

inline constexpr uint16_t kEofRecordType = 0x000A;
inline constexpr uint32_t kRowsPerBlock = 32;

// Rows 32 k .. 32 k + 31: their ROW records, their cell records, and the DBCELL that indexes them.
struct RowBlock {
    std::vector<RowRecord> rows;
    std::vector<CellRecord> cells;
    std::vector<size_t> rowFirstCell;  // index in `cells` of each ROW's first cell record
    DbCellRecord dbCell;
};

struct SheetRecordSet {
    BofRecord bof;
    IndexRecord index;
    DimensionsRecord dimensions;
    std::vector<RowBlock> rowBlocks;
    Window2Record window2;
    BiffRecord eof {kEofRecordType};

    // An empty worksheet; `selected` keeps the selected flag of WINDOW2 (only the first sheet's).
    static SheetRecordSet Default(bool selected);
};

struct WorkbookGlobals {
    BofRecord bof;
    Window1Record window1;
    std::vector<FontRecord> fonts;
    std::vector<XfRecord> xfs;
    std::vector<StyleRecord> styles;
    std::vector<BoundSheetRecord> boundSheets;
    SstRecord sst;
    ExtSstRecord extSst;  // kept with the globals; not written into the stream
    BiffRecord eof {kEofRecordType};
};

}  // namespace tabulon
