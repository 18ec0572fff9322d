#pragma once
// Feeds arbitrary bytes to a picture check (JpegScanCheck, PngChunkCheck) as the fuzz targets do: from
// the first occurrence of the picture's opening bytes on (so that workbooks holding pictures seed real
// ones), in pieces whose size the input's first byte chooses. Whatever the bytes, the check stays within
// them; once it has passed the picture's end, it passes all.
#include <algorithm>
#include <cstdint>
#include <span>

template <class Check>
void FuzzPictureCheck(const uint8_t* data, size_t size, std::span<const uint8_t> opening) {
    if (size < 2) return;
    const size_t piece = size_t(data[0]) * 16 + 1;
    const uint8_t* start = std::search(data + 1, data + size, opening.begin(), opening.end());
    if (start == data + size) start = data + 1;
    Check check;
    for (const uint8_t* at = start; at < data + size; at += std::min<size_t>(piece, size_t(data + size - at))) {
        const std::span<const uint8_t> part(at, std::min<size_t>(piece, size_t(data + size - at)));
        const bool ended = check.Ended();
        if (!check.Feed(part)) {
            if (ended) __builtin_trap();
            break;
        }
        (void)check.JudgesWithin(piece);
    }
}
