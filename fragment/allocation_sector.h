#pragma once
// Whether a 512-byte sector of a compound document reads as one of its allocation-table sectors: 128
// next-sector entries, each a sector number or one of the four marks (free, end of chain, table sector,
// master-table sector), most of them chaining to the sector after their own. Writers that grow the table
// as the file grows put a table sector inside the workbook stream's run of sectors every 128 sectors, so
// a stream read in file order steps over such sectors.

#include <cstdint>
#include <span>

namespace tabulon {

inline constexpr size_t kCompoundSectorBytes = 512;

// `sector` must hold at least kCompoundSectorBytes bytes; false otherwise.
bool LooksLikeAllocationSector(std::span<const uint8_t> sector);

}  // namespace tabulon
