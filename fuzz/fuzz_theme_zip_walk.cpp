// Following a theme's zip package through arbitrary bytes: the first two bytes give the THEME record's
// length, the third the size of the pieces fed. Whatever the bytes, the walk stays within them, and once
// it refuses or stops it stays stopped.
#include <algorithm>
#include <cstdint>
#include <span>

#include "fragment/theme_zip_walk.h"
#include "record_walk_fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint16_t length = uint16_t(data[0] | data[1] << 8);
    const size_t piece = size_t(data[2] % 64) + 1;
    tabulon::ThemeZipWalk walk;
    walk.StartRecord(0x0896, length);
    for (size_t at = 3; at < size; at += piece) {
        const std::span<const uint8_t> part(data + at, std::min(piece, size - at));
        FeedRecordWalk(walk, part, piece);
    }
    return 0;
}
