#include "workbook/sheet_record_set.h"

namespace tabulon {

SheetRecordSet SheetRecordSet::Default(bool selected) {
    SheetRecordSet set;
    set.bof.streamType = BofRecord::kWorksheet;
    if (!selected) set.window2.optionFlags &= static_cast<uint16_t>(~Window2Record::kSelected);
    return set;
}

}  // namespace tabulon
