#pragma once
// Builds FAT12/16/32 images byte by byte in memory for exact edge cases: boot sector fields, FAT
// entries (written to every copy), and 32-byte directory slots including long-name slots.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::test {

using DirectorySlot = std::array<uint8_t, 32>;

class FatImageBuilder {
public:
    enum class Kind { Fat12, Fat16, Fat32 };

    struct Layout {
        Kind kind = Kind::Fat32;
        uint32_t totalSectors = 0;
        uint8_t sectorsPerCluster = 1;
        uint16_t reservedSectors = 32;
        uint8_t fatCount = 2;
        uint16_t rootEntries = 0;  // FAT12/16
        uint32_t sectorsPerFat = 0;  // 0: computed
        uint32_t hiddenSectors = 0;
        uint32_t rootCluster = 2;    // FAT32
    };

    explicit FatImageBuilder(Layout layout);
    static FatImageBuilder Fat12(uint32_t totalSectors = 2880, uint8_t sectorsPerCluster = 1);
    static FatImageBuilder Fat16(uint32_t totalSectors = 65536, uint8_t sectorsPerCluster = 4);
    static FatImageBuilder Fat32(uint32_t totalSectors = 140000, uint8_t sectorsPerCluster = 1);

    const Layout& GetLayout() const { return layout_; }
    std::vector<uint8_t>& Bytes() { return bytes_; }
    uint8_t* Sector(uint32_t sector) { return bytes_.data() + size_t(sector) * 512; }

    uint32_t FirstFatSector() const { return layout_.reservedSectors; }
    uint32_t RootDirSector() const;  // FAT12/16 fixed root
    uint32_t FirstDataSector() const;
    uint32_t ClusterCount() const;
    uint32_t ClusterSector(uint32_t cluster) const;
    uint32_t ClusterBytes() const { return 512u * layout_.sectorsPerCluster; }
    uint8_t* Cluster(uint32_t cluster) { return Sector(ClusterSector(cluster)); }

    void SetFatEntry(uint32_t cluster, uint32_t value);
    uint32_t EndOfChain() const;
    // Links clusters into a chain ending in end-of-chain and returns the first.
    uint32_t Chain(const std::vector<uint32_t>& clusters);
    // Writes data over the given clusters in order (the chain is not touched).
    void WriteData(const std::vector<uint32_t>& clusters, const std::vector<uint8_t>& data);

    // A short-name slot; `name83` is 11 bytes, padded with spaces.
    static DirectorySlot ShortSlot(std::string_view name83, uint8_t attributes, uint32_t firstCluster, uint32_t size,
                                   uint16_t time = 0x6000, uint16_t date = 0x5A21);
    static uint8_t ShortNameChecksum(const uint8_t* name83);
    // The long-name slots for `longName`, in on-disk order (last part first), followed by the short slot.
    static std::vector<DirectorySlot> NamedSlots(std::u16string_view longName, const DirectorySlot& shortSlot);
    static DirectorySlot DotSlot(bool dotDot, uint32_t cluster);
    // Writes slots at byte offset `offset` of sector `sector` onwards.
    void WriteSlots(uint32_t sector, uint32_t offset, const std::vector<DirectorySlot>& slots);

    bool SaveTo(const std::string& path) const;

private:
    Layout layout_;
    std::vector<uint8_t> bytes_;
};

}  // namespace tabulon::test
