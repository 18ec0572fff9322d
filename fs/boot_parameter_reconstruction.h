#pragma once
// Rebuilding the boot parameters of a FAT16 or FAT32 volume whose boot sector (and backup) are lost,
// from what the volume still holds: the two FAT copies, which start with F8 FF FF, and the directory
// data right behind them.

#include <array>
#include <cstdint>

#include "fs/volume_analyser.h"
#include "source/volume_device.h"

namespace tabulon {

// Searches the first 5,000 (FAT16) or 35,000 (FAT32) sectors after `partitionStart` for the FAT
// copies, finds the data start behind the second copy, and writes a boot sector that describes them
// into `sectorOut` (bytes per sector 512, two FATs, the sectors per FAT, the reserved sectors, the
// sectors per cluster, `totalSectors`; everything else 0).
//
// With `allowProbe` (the loader, which does not know the FAT type yet and asks for FAT16): when the data
// behind the FATs is not a 512-slot FAT16 root directory but one directory cluster of 1 to 128 sectors
// followed by more data, the result is a FAT32 boot sector with that cluster size, which
// ClassifyBootSector reports as Fat32. That is how a FAT32 volume that lost both boot sectors is found.
bool ReconstructBootParameters(VolumeDevice& device, uint32_t partitionStart, FatType type, uint32_t totalSectors,
                               bool allowProbe, std::array<uint8_t, 512>& sectorOut);

// A FAT sector of a used volume: more than 4 pairs of neighbouring entries where the first points to
// the second (k -> k + 1), both non-zero and neither all ones.
bool IsPlausibleFatSector(const uint8_t* sector, FatType type);

// The cluster size a formatter picks for a volume of `totalSectors` sectors.
uint32_t DefaultSectorsPerCluster(FatType type, uint64_t totalSectors);

}  // namespace tabulon
