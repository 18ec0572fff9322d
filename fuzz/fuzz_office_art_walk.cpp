// Following a drawing group's record tree through arbitrary bytes: the first byte of the input chooses
// the size of the pieces fed, and a piece that begins with 0x3C or 0xEC starts a CONTINUE or another
// record first (0xEC ends the group). Whatever the bytes, the walk stays within them and, once it refuses
// or stops, stays stopped until a new drawing group begins.
#include <cstdint>
#include <span>

#include "fragment/office_art_walk.h"
#include "record_walk_fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t piece = size_t(data[0] % 64) + 1;
    tabulon::OfficeArtWalk walk;
    walk.StartRecord(0x00EB);
    for (size_t at = 1; at < size; at += piece) {
        const std::span<const uint8_t> part(data + at, std::min(piece, size - at));
        if (part[0] == 0x3C) walk.StartRecord(0x003C);
        if (part[0] == 0xEC) walk.StartRecord(0x00EC);
        FeedRecordWalk(walk, part, piece);
    }
    return 0;
}
