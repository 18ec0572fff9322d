#include "workbook/cell_record.h"

#include "workbook/formula_records.h"

namespace tabulon {
namespace {

std::unique_ptr<CellBiffRecord> MakeCellRecord(uint16_t type) {
    switch (type) {
        case FormulaRecord::kType: return std::make_unique<FormulaRecord>();
        case MulBlankRecord::kType: return std::make_unique<MulBlankRecord>();
        case MulRkRecord::kType: return std::make_unique<MulRkRecord>();
        case LabelSstRecord::kType: return std::make_unique<LabelSstRecord>();
        case BlankRecord::kType: return std::make_unique<BlankRecord>();
        case NumberRecord::kType: return std::make_unique<NumberRecord>();
        case BoolErrRecord::kType: return std::make_unique<BoolErrRecord>();
        case RkRecord::kType: return std::make_unique<RkRecord>();
        default: return nullptr;
    }
}

}  // namespace

bool CellRecord::IsCellType(uint16_t type) {
    switch (type) {
        case FormulaRecord::kType:
        case MulBlankRecord::kType:
        case MulRkRecord::kType:
        case LabelSstRecord::kType:
        case BlankRecord::kType:
        case NumberRecord::kType:
        case BoolErrRecord::kType:
        case RkRecord::kType: return true;
        default: return false;
    }
}

CellRecord::CellRecord(uint16_t type) : record_(MakeCellRecord(type)) {}

size_t CellRecord::Read(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return 0;
    auto record = MakeCellRecord(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
    if (!record) return 0;
    size_t consumed = record->Read(bytes);
    if (consumed == 0) return 0;
    record_ = std::move(record);
    return consumed;
}

}  // namespace tabulon
