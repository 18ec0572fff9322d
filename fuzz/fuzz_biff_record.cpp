// Reads arbitrary bytes with every record class of the workbook library, and writes back what was
// read: no read outside the input, no crash, and a written record has the size it reports.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "workbook/cell_record.h"
#include "workbook/formula_records.h"
#include "workbook/global_records.h"
#include "workbook/shared_string_records.h"
#include "workbook/sheet_structure_records.h"

namespace {

template <typename T>
void ReadAndWrite(std::span<const uint8_t> bytes, T record = T()) {
    if (record.Read(bytes) == 0) return;
    std::vector<uint8_t> out(record.RecordSize());
    if (record.Write(out) != out.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tabulon;
    std::span<const uint8_t> bytes(data, size);
    ReadAndWrite(bytes, BiffRecord(0));
    ReadAndWrite<BofRecord>(bytes);
    ReadAndWrite<FontRecord>(bytes);
    ReadAndWrite<StyleRecord>(bytes);
    ReadAndWrite<BoundSheetRecord>(bytes);
    ReadAndWrite<SstRecord>(bytes);
    ReadAndWrite<ExtSstRecord>(bytes);
    ReadAndWrite<IndexRecord>(bytes);
    ReadAndWrite<DbCellRecord>(bytes);
    ReadAndWrite<StringRecord>(bytes);
    ReadAndWrite<ArrayRecord>(bytes);
    ReadAndWrite<ShrFmlaRecord>(bytes);
    CellRecord cell(0);
    if (cell.Read(bytes) > 0) {
        std::vector<uint8_t> out(cell.RecordSize());
        if (cell.Write(out) != out.size()) __builtin_trap();
    }
    return 0;
}
