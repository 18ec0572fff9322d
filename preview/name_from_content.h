#pragma once
// Names a workbook found by its content alone (no directory entry) after what it holds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tabulon {

// Reads the first bytes of a file (at least 3072 are needed) with PreviewWorkbook::LoadForNaming and
// appends names to `names`:
// - for each sheet whose first LABELSST cell at (row, column) has an existing shared string, one name
//   "<text>__<sheet>" from the first 30 characters of the text and of the sheet name;
// - when no sheet gave one, a single name joining "__" + sheet name for each sheet in order while the
//   text and the next name stay under 60 characters, with leading underscores removed (nothing when
//   that text is empty).
// Callers ask for row 0, column 0 (the cell A1) and use the first name. Returns true when a name was
// appended. Names are raw workbook text: make them safe before they become file names.
bool NameFromContent(const uint8_t* data, size_t length, std::vector<std::u16string>& names, uint16_t row = 0,
                     uint16_t column = 0);

}  // namespace tabulon
