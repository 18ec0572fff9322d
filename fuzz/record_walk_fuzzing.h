#pragma once
// Feeds one piece of arbitrary bytes to a walk that follows a structure inside record bodies
// (OfficeArtWalk, ThemeZipWalk), as the fuzz targets do, and traps where the walk breaks its promise:
// once it refuses or stops it stays stopped, and a refusal leaves it stopped.
#include <cstddef>
#include <cstdint>
#include <span>

template <class Walk>
void FeedRecordWalk(Walk& walk, std::span<const uint8_t> part, size_t piece) {
    const bool active = walk.Active();
    const bool sound = walk.Feed(part);
    if (!active && (!sound || walk.Active())) __builtin_trap();
    if (!sound && walk.Active()) __builtin_trap();
    (void)walk.JudgesWithin(piece);
}
