#pragma once
// The 512-byte header of a compound document (version 3, 512-byte sectors), as the writer keeps it.

#include <array>
#include <cstdint>

namespace tabulon {

// Special sector numbers of the allocation tables.
inline constexpr uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr uint32_t kNoEntry = 0xFFFFFFFF;

inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint32_t kMiniSectorSize = 64;
inline constexpr uint32_t kMiniStreamCutoff = 4096;
inline constexpr uint32_t kEntriesPerFatSector = kSectorSize / 4;
inline constexpr uint32_t kHeaderFatEntries = 109;

struct CompoundHeader {
    uint16_t minorVersion = 0x003B;
    uint16_t majorVersion = 3;
    uint16_t byteOrder = 0xFFFE;
    uint16_t sectorShift = 9;
    uint16_t miniSectorShift = 6;
    uint32_t directorySectorCount = 0;
    uint32_t fatSectorCount = 1;
    uint32_t firstDirectorySector = 1;
    uint32_t transactionSignature = 0;
    uint32_t miniStreamCutoff = kMiniStreamCutoff;
    uint32_t firstMiniFatSector = kEndOfChain;
    uint32_t miniFatSectorCount = 0;
    uint32_t firstDifatSector = kEndOfChain;
    uint32_t difatSectorCount = 0;
    std::array<uint32_t, kHeaderFatEntries> fatSectors {};  // first 109 FAT sector numbers

    CompoundHeader();
    uint32_t SectorSize() const { return 1u << sectorShift; }
    uint32_t MiniSectorSize() const { return 1u << miniSectorShift; }
    void Serialize(uint8_t* block) const;  // 512 bytes
};

}  // namespace tabulon
