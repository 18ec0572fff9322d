// Boot sector classification and the partition table over arbitrary sectors.
#include <array>
#include <cstdint>
#include <cstring>

#include "fs/boot_sector_kind.h"
#include "fs/partition_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::array<uint8_t, 512> sector {};
    std::memcpy(sector.data(), data, size < sector.size() ? size : sector.size());
    volatile auto kind = tabulon::ClassifyBootSector(sector.data());
    (void)kind;
    if (auto table = tabulon::ReadPartitionTable(sector.data())) {
        for (const auto& entry : *table) {
            volatile bool fat = tabulon::IsFatPartitionType(entry.type);
            (void)fat;
        }
    }
    return 0;
}
