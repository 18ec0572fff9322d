#include "workbook/worksheet.h"

#include <algorithm>

#include "workbook/formula_records.h"
#include "workbook/rk_value.h"
#include "workbook/sheet_record_set.h"
#include "workbook/workbook.h"

namespace tabulon {
namespace {

constexpr uint32_t kMinimumRowCount = 100;

}  // namespace

std::u16string Worksheet::Name() const { return owner_->SheetName(index_); }

SheetCell* Worksheet::CellAt(unsigned row, unsigned col) {
    if (row >= kMaxSheetRows || col >= kMaxSheetColumns) return nullptr;
    if (col >= columnCount_) columnCount_ = col + 1;
    if (row >= rowCount_) {
        rowCount_ = std::min<uint32_t>(std::max<uint32_t>(2 * row + 2, kMinimumRowCount), kMaxSheetRows);
        rows_.resize(rowCount_);
    }
    std::vector<SheetCell>& cells = rows_[row];
    if (col >= cells.size()) cells.resize(col + 1);
    return &cells[col];
}

const SheetCell* Worksheet::FindCell(unsigned row, unsigned col) const {
    static const SheetCell kEmpty;
    if (row >= rowCount_ || col >= columnCount_) return nullptr;
    const std::vector<SheetCell>& cells = rows_[row];
    return col < cells.size() ? &cells[col] : &kEmpty;
}

bool Worksheet::Rename(std::u16string_view name) { return owner_->RenameSheet(index_, name); }

void Worksheet::LoadFromRecords(const SheetRecordSet& records, const SstRecord& sst) {
    rows_.clear();
    rowCount_ = std::min<uint32_t>(records.dimensions.lastRowPlusOne, kMaxSheetRows);
    columnCount_ = std::min<uint32_t>(records.dimensions.lastColumnPlusOne, kMaxSheetColumns);
    rows_.resize(rowCount_);
    auto cell = [this](unsigned row, unsigned col) -> SheetCell* {
        if (row >= rowCount_ || col >= columnCount_) return nullptr;
        std::vector<SheetCell>& cells = rows_[row];
        if (col >= cells.size()) cells.resize(col + 1);
        return &cells[col];
    };
    auto setRk = [](SheetCell* target, uint32_t rk) {
        if (!target) return;
        if (RkIsInteger(rk))
            target->SetInteger(static_cast<int32_t>(rk) >> 2);
        else
            target->SetReal(DecodeRk(rk));
    };
    for (const RowBlock& block : records.rowBlocks) {
        for (const CellRecord& record : block.cells) {
            if (const auto* mulRk = record.As<MulRkRecord>()) {
                for (size_t i = 0; i < mulRk->entries.size(); ++i)
                    setRk(cell(mulRk->row, static_cast<unsigned>(mulRk->column + i)), mulRk->entries[i].rk);
            } else if (const auto* rk = record.As<RkRecord>()) {
                setRk(cell(rk->row, rk->column), rk->rk);
            } else if (const auto* number = record.As<NumberRecord>()) {
                if (SheetCell* target = cell(number->row, number->column)) target->SetReal(number->value);
            } else if (const auto* boolErr = record.As<BoolErrRecord>()) {
                SheetCell* target = cell(boolErr->row, boolErr->column);
                if (target && !boolErr->isError) target->SetInteger(boolErr->value ? 1 : 0);
            } else if (const auto* label = record.As<LabelSstRecord>()) {
                SheetCell* target = cell(label->row, label->column);
                if (target && label->sstIndex < sst.strings.size()) {
                    const BiffText& text = sst.strings[label->sstIndex];
                    if (text.is16Bit)
                        target->SetText(text.wide);
                    else
                        target->SetNarrowText(text.narrow);
                }
            }
        }
    }
}

}  // namespace tabulon
