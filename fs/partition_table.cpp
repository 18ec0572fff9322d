#include "fs/partition_table.h"

#include "common/little_endian.h"

namespace tabulon {

std::optional<PartitionTable> ReadPartitionTable(const uint8_t* sector) {
    if (sector[510] != 0x55 || sector[511] != 0xAA) return std::nullopt;
    PartitionTable table;
    for (int i = 0; i < 4; ++i) {
        const uint8_t* entry = sector + 446 + 16 * i;
        table[i].bootFlag = entry[0];
        table[i].type = entry[4];
        table[i].firstSector = LoadU32(entry + 8);
        table[i].sectorCount = LoadU32(entry + 12);
    }
    return table;
}

bool IsFatPartitionType(uint8_t type) {
    return type == 4 || type == 6 || type == 11 || type == 12 || type == 14;
}

}  // namespace tabulon
