#pragma once
// CellRecord holds one cell of a sheet as the record class of its type (FORMULA, MULBLANK, MULRK,
// LABELSST, BLANK, NUMBER, BOOLERR or RK) and forwards writing, sizes, row and column to it.

#include <cstdint>
#include <memory>
#include <span>

#include "workbook/cell_records.h"

namespace tabulon {

class CellRecord {
public:
    static bool IsCellType(uint16_t type);
    // A record of `type`; holds nothing (IsValid() false) for a type that is not a cell.
    explicit CellRecord(uint16_t type);
    explicit CellRecord(std::unique_ptr<CellBiffRecord> record) : record_(std::move(record)) {}

    bool IsValid() const { return record_ != nullptr; }
    uint16_t Type() const { return record_ ? record_->Type() : 0; }
    uint16_t Row() const { return record_ ? record_->row : 0; }
    uint16_t Column() const { return record_ ? record_->column : 0; }
    // Reads the cell record at the start of `bytes`, whatever its cell type; 0 when it is none.
    size_t Read(std::span<const uint8_t> bytes);
    size_t Write(std::span<uint8_t> out) { return record_ ? record_->Write(out) : 0; }
    uint32_t RecordSize() { return record_ ? record_->RecordSize() : 0; }

    CellBiffRecord* Record() { return record_.get(); }
    const CellBiffRecord* Record() const { return record_.get(); }
    template <typename T>
    T* As() {
        return record_ && record_->Type() == T::kType ? static_cast<T*>(record_.get()) : nullptr;
    }
    template <typename T>
    const T* As() const {
        return record_ && record_->Type() == T::kType ? static_cast<const T*>(record_.get()) : nullptr;
    }

private:
    std::unique_ptr<CellBiffRecord> record_;
};

}  // namespace tabulon
