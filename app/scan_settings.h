#pragma once
// The three scan settings, held in memory for the life of the process and never persisted.

#include <cstdint>

namespace tabulon {

struct ScanSettings {
    // Block size of fragment scanning in 512-byte sectors; 0 = not set. Each load clears it and sets it
    // to the analysed volume's sectors per cluster.
    int32_t blockSectors = 0;
    // Fragment scanning first copies the source's blocks into memory.
    bool loadIntoMemory = false;
    // A load analyses the file system's directories; off = the whole source is scanned by content only.
    bool scanByDirectory = true;

    static ScanSettings& Global();
};

}  // namespace tabulon
