// Checking arbitrary bytes as a PNG picture: the input is fed from its first PNG signature on (so that
// workbooks holding pictures seed real ones), in pieces whose size the first byte chooses. Whatever the
// bytes, the check stays within them; once it has passed the picture's end chunk, it passes all.
#include <algorithm>
#include <cstdint>
#include <span>

#include "fragment/png_chunk_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t piece = size_t(data[0]) * 16 + 1;
    static constexpr uint8_t kStart[] = {0x89, 'P', 'N', 'G'};
    const uint8_t* start = std::search(data + 1, data + size, std::begin(kStart), std::end(kStart));
    if (start == data + size) start = data + 1;
    tabulon::PngChunkCheck check;
    for (const uint8_t* at = start; at < data + size; at += std::min<size_t>(piece, size_t(data + size - at))) {
        const std::span<const uint8_t> part(at, std::min<size_t>(piece, size_t(data + size - at)));
        const bool ended = check.Ended();
        if (!check.Feed(part)) {
            if (ended) __builtin_trap();
            break;
        }
        (void)check.JudgesWithin(piece);
    }
    return 0;
}
