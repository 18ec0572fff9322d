#pragma once
// Whether a disk block, entered at a byte offset, continues a BIFF8 workbook stream: its records must
// chain from the entry offset to the block's end (or to zero or 0xFF filler), the known ones judged
// plausible, with few unknown ones in between.

#include <cstdint>
#include <span>

#include "fragment/block_profile.h"

namespace tabulon {

// The last record header the walk examined. When the walk ends beyond the block end, this record
// continues into the next block and its position and length tell where the next record starts.
struct LastRecord {
    int32_t position = -1;  // in the buffer, like start and end
    uint16_t type = 0;
    uint16_t length = 0;
};

// Walks the records of buffer[start, end) and judges them. `buffer` holds every byte the caller can
// offer: the block, and possibly bytes that follow it on disk, which are read only to complete a record
// header cut by `end` (missing header bytes read as zero). `end` is reduced to the buffer size.
//
// On success the four counters of `profile` are updated; on failure they are left as they were. The key
// sets and sheetStarted are updated as the walk goes, also on failure (classify into a scratch profile
// and keep it only on success). `last` is always set to the last header examined, when there was one.
bool ClassifyBlock(std::span<const uint8_t> buffer, int32_t start, int32_t end, BlockProfile& profile,
                   LastRecord& last);

}  // namespace tabulon
