#pragma once
// What a compound document's 512-byte header and its directory entries say about where its parts lie,
// read from untrusted bytes: the fragment search uses them to find the workbook stream and to predict
// the contents of the document's table and directory sectors.

#include <array>
#include <cstdint>
#include <span>

namespace tabulon {

inline constexpr uint32_t kCompoundFree = 0xFFFFFFFF;
inline constexpr uint32_t kCompoundEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kCompoundFatSector = 0xFFFFFFFD;
inline constexpr uint32_t kCompoundDifatSector = 0xFFFFFFFC;
inline constexpr uint32_t kCompoundEntryBytes = 128;

struct CompoundLayout {
    static constexpr uint32_t kHeaderFatEntries = 109;

    uint32_t sectorBytes = 512;        // 512, or 4096 for version 4
    uint32_t fatSectorCount = 0;
    uint32_t firstDirectorySector = 0;
    uint32_t miniStreamCutoff = 4096;
    uint32_t firstMiniFatSector = kCompoundEndOfChain;
    uint32_t firstDifatSector = kCompoundEndOfChain;
    uint32_t difatSectorCount = 0;
    std::array<uint32_t, kHeaderFatEntries> headerFatSectors {};  // the first 109 FAT sector numbers

    // The file offset of sector `sector`: the header takes the room of sector -1.
    uint64_t OffsetOf(uint32_t sector) const { return (uint64_t(sector) + 1) * sectorBytes; }
    uint32_t EntriesPerSector() const { return sectorBytes / 4; }
};

// Reads a header: the signature, the byte order mark and a sector shift of 9 or 12 with 64-byte mini
// sectors. False when `header` (at least 512 bytes) is not such a header.
bool ReadCompoundLayout(std::span<const uint8_t> header, CompoundLayout& out);

struct CompoundEntry {
    uint8_t type = 0;  // 0 unused, 1 storage, 2 stream, 5 root
    uint16_t nameBytes = 0;
    uint32_t startSector = 0;
    uint32_t size = 0;  // low 32 bits; version 3 writers may leave garbage in the high ones
};

// Reads one 128-byte directory entry. False when it cannot be an entry of a sound directory: an
// unknown type, a name length that is odd or over 64 bytes, or a used entry whose name is empty or
// not terminated where its length says.
bool ReadCompoundEntry(std::span<const uint8_t> entry, CompoundEntry& out);

// True when `entry` (128 bytes, already read as `parsed`) names the workbook stream of a BIFF8 or
// BIFF5 file: a stream called "Workbook" or "Book", in any letter case.
bool IsWorkbookStreamEntry(std::span<const uint8_t> entry, const CompoundEntry& parsed);

// True when `bytes` (a whole number of 128-byte entries) hold sound directory entries; when
// `directoryStart` is true they open the directory, whose first entry must be the root entry, the only
// one that may be of that type.
bool IsDirectoryRun(std::span<const uint8_t> bytes, bool directoryStart);

}  // namespace tabulon
