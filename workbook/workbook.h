#pragma once
// Workbook: a spreadsheet built in memory and saved as a BIFF8 "Workbook" stream inside a new
// compound document. It holds the records that get written (globals and one record set per
// sheet) and a Worksheet handle per sheet whose grid callers edit; SaveAs turns the grids into
// records just before writing.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/compound_file.h"
#include "workbook/sheet_record_set.h"
#include "workbook/worksheet.h"

namespace tabulon {

class Workbook {
public:
    // An empty model: BOF, WINDOW1, SST, EXTSST and EOF, no fonts, formats, styles or sheets.
    Workbook();
    ~Workbook();
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    // Replaces the content with the default workbook and `sheetCount` sheets (at least one):
    // Sheet1, then numbered sheets.
    void NewWorkbook(int sheetCount);
    // Adds a sheet named "Sheet<n>" with the first n from the sheet count + 1 that is free.
    Worksheet* AddNumberedWorksheet(int position);
    // Adds a sheet before `position` (-1 or past the end: at the end). Null when the name is
    // empty, too long or already a sheet's name.
    Worksheet* AddWorksheet(std::u16string_view name, int position);
    // The sheet at `index`, or null outside 0 .. SheetCount() - 1.
    Worksheet* WorksheetAt(int index);
    int SheetCount() const { return static_cast<int>(sheets_.size()); }
    std::u16string SheetName(int index) const;
    bool RenameSheet(int index, std::u16string_view name);

    // Writes the workbook to a new compound document at `path`; false when the file cannot be
    // created or written (a partly written file is removed) or the workbook has no sheet.
    bool SaveAs(const std::string& path);
    bool SaveAs(std::u16string_view path);

    // Rebuilds every sheet's records from its grid, fills in sizes and stream positions and
    // returns the whole workbook stream (empty when the workbook has no sheet).
    std::vector<uint8_t> BuildStream();

    WorkbookGlobals& Globals() { return globals_; }
    std::vector<SheetRecordSet>& SheetRecords() { return sheetRecords_; }

private:
    bool NameIsTaken(std::u16string_view name, int except) const;
    void RebuildRecords();
    uint32_t LayoutStream();

    WorkbookGlobals globals_;
    std::vector<SheetRecordSet> sheetRecords_;
    std::vector<std::unique_ptr<Worksheet>> sheets_;
    CompoundFile file_;
};

}  // namespace tabulon
