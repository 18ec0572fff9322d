#pragma once
// The MBR partition table: four 16-byte entries at byte 446 of sector 0, valid when the sector ends in
// 55 AA.

#include <array>
#include <cstdint>
#include <optional>

namespace tabulon {

struct PartitionEntry {
    uint8_t bootFlag = 0;
    uint8_t type = 0;
    uint32_t firstSector = 0;
    uint32_t sectorCount = 0;
};

using PartitionTable = std::array<PartitionEntry, 4>;

// nullopt when the sector does not end in 55 AA. `sector` must hold 512 bytes.
std::optional<PartitionTable> ReadPartitionTable(const uint8_t* sector);

// FAT12, FAT16 (small and large), FAT32 (CHS and LBA) and FAT16 LBA: types 4, 6, 11, 12, 14.
bool IsFatPartitionType(uint8_t type);

}  // namespace tabulon
