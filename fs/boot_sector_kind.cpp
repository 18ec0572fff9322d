#include "fs/boot_sector_kind.h"

#include "common/little_endian.h"

namespace tabulon {

BootSectorKind ClassifyBootSector(const uint8_t* sector) {
    const uint16_t bytesPerSector = LoadU16(sector + 11);
    const uint8_t sectorsPerCluster = sector[13];
    const bool clusterSizeValid = sectorsPerCluster != 0 && sectorsPerCluster <= 64 &&
                                  (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
    if (bytesPerSector != 512 || !clusterSizeValid) return BootSectorKind::None;

    const uint8_t fatCount = sector[16];
    const uint16_t rootEntries = LoadU16(sector + 17);
    const uint16_t smallTotal = LoadU16(sector + 19);
    const uint16_t sectorsPerFat16 = LoadU16(sector + 22);
    const uint32_t total32 = LoadU32(sector + 32);
    if (fatCount == 2) {
        if (sectorsPerFat16 != 0 && rootEntries != 0 && (total32 != 0 || smallTotal != 0))
            return BootSectorKind::Fat1216;
        if (LoadU32(sector + 36) != 0 && total32 != 0 && rootEntries == 0) return BootSectorKind::Fat32;
        return BootSectorKind::None;
    }
    if (fatCount == 0) {
        if (LoadU64(sector + 48) != 0 && LoadU64(sector + 40) != 0 && total32 == 0) return BootSectorKind::Ntfs;
    }
    return BootSectorKind::None;
}

const char* BootSectorKindName(BootSectorKind kind) {
    switch (kind) {
        case BootSectorKind::Fat1216: return "FAT12/16";
        case BootSectorKind::Fat32: return "FAT32";
        case BootSectorKind::Ntfs: return "NTFS";
        case BootSectorKind::None: break;
    }
    return "none";
}

}  // namespace tabulon
