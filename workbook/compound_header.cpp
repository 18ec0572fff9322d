#include "workbook/compound_header.h"

#include <cstring>

#include "common/little_endian.h"

namespace tabulon {

CompoundHeader::CompoundHeader() {
    fatSectors.fill(kFreeSector);
    fatSectors[0] = 0;
}

void CompoundHeader::Serialize(uint8_t* block) const {
    static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memset(block, 0, kSectorSize);
    std::memcpy(block, kSignature, sizeof kSignature);
    StoreU16(block + 24, minorVersion);
    StoreU16(block + 26, majorVersion);
    StoreU16(block + 28, byteOrder);
    StoreU16(block + 30, sectorShift);
    StoreU16(block + 32, miniSectorShift);
    StoreU32(block + 40, directorySectorCount);
    StoreU32(block + 44, fatSectorCount);
    StoreU32(block + 48, firstDirectorySector);
    StoreU32(block + 52, transactionSignature);
    StoreU32(block + 56, miniStreamCutoff);
    StoreU32(block + 60, firstMiniFatSector);
    StoreU32(block + 64, miniFatSectorCount);
    StoreU32(block + 68, firstDifatSector);
    StoreU32(block + 72, difatSectorCount);
    for (uint32_t i = 0; i < kHeaderFatEntries; ++i) StoreU32(block + 76 + 4 * i, fatSectors[i]);
}

}  // namespace tabulon
