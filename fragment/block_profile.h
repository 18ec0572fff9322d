#pragma once
// What a candidate chain of disk blocks has shown so far while its records are walked: how many BOF,
// SST and EOF records, how many cell records, and which rows and cells the current sheet has defined.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fragment/key_set.h"

namespace tabulon {

struct BlockProfile {
    // Accumulated over the whole chain.
    int32_t bofCount = 0;
    int32_t sstCount = 0;
    int32_t eofAfterSstCount = 0;  // EOF records seen while sstCount > 0
    int32_t cellCount = 0;         // LABELSST, NUMBER and RK records

    // Keys of the current sheet only (a GUTS record, which opens each worksheet's row area, empties them).
    KeySet rowKeys;   // one per ROW record: row << 16 | first-column field
    KeySet cellKeys;  // one per MULRK, MULBLANK, LABELSST, BLANK and RK record: row << 16 | column
    bool sheetStarted = false;  // a GUTS record was seen in the last classified block

    // A profile with these counters, empty key sets and sheetStarted clear: the scratch profile a
    // candidate block is classified into.
    BlockProfile ScratchCopy() const;
};

// True when the chain holds a whole workbook stream: every counter is above zero and there are at least
// as many EOF records after the shared strings as BOF records.
bool IsComplete(const BlockProfile& profile);

struct CellKey {
    uint16_t row = 0;
    uint16_t column = 0;
    uint32_t Packed() const { return (uint32_t(row) << 16) | column; }
};

// Row and column of the record at `position`: the u16 values at its offsets 4 and 6. Bytes beyond the
// buffer read as zero.
CellKey KeyOf(std::span<const uint8_t> buffer, size_t position);

// MULRK, MULBLANK, LABELSST, BLANK, ROW and RK: the records that carry a row and column key.
bool IsKeyedCellType(uint16_t type);

// Records that define one cell of a worksheet (or a run of cells), with its row and column at body
// offsets 0 and 2: FORMULA, MULRK, MULBLANK, RSTRING, LABELSST, BLANK, NUMBER, LABEL, BOOLERR and RK.
bool IsCellRecord(uint16_t type);

// 0x0000 and 0xFFFF: what zeroed or erased disk areas hold where a record type would be.
inline bool IsFiller(uint16_t type) { return type == 0x0000 || type == 0xFFFF; }

}  // namespace tabulon
