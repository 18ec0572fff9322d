#pragma once
// Per-type rules that judge whether a BIFF8 record header found at some position of a raw buffer is a
// real record or a chance pattern. The rules are heuristics for workbooks of a modest size: cells in
// rows up to 0x3FFF, columns up to 500, cell format (XF) indices up to 1000; a record beyond these
// limits is judged implausible even when it is valid BIFF8. Records that real writers fill beyond such
// limits as a matter of course (row records of formatted empty rows) are judged by other fields.
//
// A record at position P is: type (u16) at P, body length (u16) at P+2, body from P+4. A rule never
// reads a byte at or beyond `length`: a record whose checked fields run off the end of the buffer is
// plausible, since it cannot be judged further. Types without a rule, and unnamed types, are never
// plausible. Nothing in the buffer is modified.

#include <cstdint>

#include "fragment/biff_string_size.h"

namespace tabulon {

class RecordPlausibility {
public:
    // The highest cell format (XF) index the rules take.
    static constexpr uint16_t kMaxCellFormat = 1000;
    // The highest row index the rules take in cell records (sheets may hold up to 0xFFFF).
    static constexpr uint16_t kMaxCellRow = 0x3FFF;

    // Judges the record whose header starts at `position` in a buffer of `length` bytes. Callers usually
    // call it for known types with position + 2 < length; any other position gives a defined answer too
    // (false when not even the type lies inside the buffer).
    static bool IsPlausible(const uint8_t* buffer, uint32_t position, uint32_t length);
};

}  // namespace tabulon
