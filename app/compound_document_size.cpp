#include "app/compound_document_size.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/little_endian.h"
#include "source/sector_reader.h"

namespace tabulon {
namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kFatSector = 0xFFFFFFFD;
constexpr uint32_t kDifatSector = 0xFFFFFFFC;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint64_t kMaxDocumentBytes = uint64_t(2) << 30;

// Reads one document sector (of `sectorSize` bytes) as 512-byte pieces; document sector k follows the
// header, which itself takes one document sector.
bool ReadDocumentSector(const DocumentSectorReader& read, uint32_t sectorSize, uint32_t index, std::vector<uint8_t>& out) {
    const uint32_t pieces = sectorSize / 512;
    out.resize(sectorSize);
    uint64_t first = (uint64_t(index) + 1) * pieces;
    if (first + pieces > UINT32_MAX) return false;
    for (uint32_t p = 0; p < pieces; ++p)
        if (!read(uint32_t(first + p), out.data() + size_t(p) * 512)) return false;
    return true;
}

}  // namespace

uint32_t CompoundDocumentSectors(const DocumentSectorReader& read, uint64_t availableSectors) {
    std::array<uint8_t, 512> header {};
    if (availableSectors == 0 || !read(0, header.data())) return 0;
    for (size_t i = 0; i < sizeof kSignature; ++i)
        if (header[i] != kSignature[i]) return 0;
    if (LoadU16(header.data() + 0x1C) != 0xFFFE) return 0;
    const uint16_t sectorShift = LoadU16(header.data() + 0x1E);
    if ((sectorShift != 9 && sectorShift != 12) || LoadU16(header.data() + 0x20) != 6) return 0;
    const uint32_t sectorSize = 1u << sectorShift;
    const uint32_t pieces = sectorSize / 512;
    const uint32_t entriesPerSector = sectorSize / 4;

    // The most document sectors the available space can hold, and so the most table sectors that a
    // consistent header can name.
    // Capped at 2 GiB of document, which also bounds the table kept in memory.
    const uint64_t maxSectors =
        std::min<uint64_t>(availableSectors / pieces > 0 ? availableSectors / pieces - 1 : 0, kMaxDocumentBytes / sectorSize);
    const uint32_t fatCount = LoadU32(header.data() + 0x2C);
    const uint32_t firstDirectory = LoadU32(header.data() + 0x30);
    const uint32_t firstDifat = LoadU32(header.data() + 0x44);
    const uint32_t difatCount = LoadU32(header.data() + 0x48);
    if (fatCount == 0 || maxSectors == 0) return 0;
    if (uint64_t(fatCount - 1) * entriesPerSector >= maxSectors) return 0;
    if (uint64_t(difatCount) * (entriesPerSector - 1) + kHeaderDifatEntries < fatCount) return 0;
    if (difatCount > fatCount) return 0;

    // The allocation table's own sectors: 109 from the header, the rest from the DIFAT chain.
    std::vector<uint32_t> fatSectors;
    std::vector<uint32_t> difatSectors;
    fatSectors.reserve(fatCount);
    for (uint32_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(LoadU32(header.data() + 0x4C + 4 * i));
    std::vector<uint8_t> sector;
    uint32_t difat = firstDifat;
    while (fatSectors.size() < fatCount) {
        if (difatSectors.size() >= difatCount || difat >= maxSectors) return 0;
        difatSectors.push_back(difat);
        if (!ReadDocumentSector(read, sectorSize, difat, sector)) return 0;
        for (uint32_t i = 0; i + 1 < entriesPerSector && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(LoadU32(sector.data() + 4 * i));
        difat = LoadU32(sector.data() + 4 * (entriesPerSector - 1));
    }

    std::vector<uint32_t> fat;
    fat.reserve(size_t(fatCount) * entriesPerSector);
    for (uint32_t fatSector : fatSectors) {
        if (fatSector >= maxSectors || !ReadDocumentSector(read, sectorSize, fatSector, sector)) return 0;
        for (uint32_t i = 0; i < entriesPerSector; ++i) fat.push_back(LoadU32(sector.data() + 4 * i));
    }

    size_t last = fat.size();
    while (last > 0 && fat[last - 1] == kFreeSector) --last;
    if (last == 0) return 0;
    const uint64_t used = last;  // document sectors 0 .. last - 1
    if (used > maxSectors) return 0;

    // The table must describe itself, and the directory must start in a used sector.
    for (uint32_t fatSector : fatSectors)
        if (fatSector >= used || fat[fatSector] != kFatSector) return 0;
    for (uint32_t difatSector : difatSectors)
        if (difatSector >= used || fat[difatSector] != kDifatSector) return 0;
    if (firstDirectory >= used || fat[firstDirectory] == kFreeSector || fat[firstDirectory] == kFatSector ||
        fat[firstDirectory] == kDifatSector)
        return 0;

    const uint64_t total = (used + 1) * pieces;
    if (total > availableSectors || total > UINT32_MAX) return 0;
    return uint32_t(total);
}

uint32_t CompoundDocumentSectors(SectorReader& reader, uint32_t start, uint64_t availableSectors) {
    DocumentSectorReader read = [&reader, start](uint32_t relative, uint8_t* buffer) {
        uint64_t sector = uint64_t(start) + relative;
        if (sector >= reader.SectorCount()) return false;
        return reader.ReadSectors(buffer, 512, uint32_t(sector));
    };
    return CompoundDocumentSectors(read, availableSectors);
}

}  // namespace tabulon
