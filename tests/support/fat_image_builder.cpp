#include "support/fat_image_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace tabulon::test {
namespace {

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

FatImageBuilder::FatImageBuilder(Layout layout) : layout_(layout) {
    bytes_.assign(size_t(layout_.totalSectors) * 512, 0);
    if (layout_.sectorsPerFat == 0) {
        // Enough FAT sectors for every cluster of the volume (an over-estimate is harmless).
        uint64_t clusters = layout_.totalSectors / layout_.sectorsPerCluster + 2;
        uint64_t bytes = layout_.kind == Kind::Fat12 ? (clusters * 3 + 1) / 2
                         : layout_.kind == Kind::Fat16 ? clusters * 2
                                                       : clusters * 4;
        layout_.sectorsPerFat = static_cast<uint32_t>((bytes + 511) / 512);
    }
    uint8_t* boot = Sector(0);
    boot[0] = 0xEB;
    boot[1] = 0x58;
    boot[2] = 0x90;
    std::memcpy(boot + 3, "MSWIN4.1", 8);
    Put16(boot + 11, 512);
    boot[13] = layout_.sectorsPerCluster;
    Put16(boot + 14, layout_.reservedSectors);
    boot[16] = layout_.fatCount;
    Put16(boot + 17, layout_.kind == Kind::Fat32 ? 0 : layout_.rootEntries);
    if (layout_.totalSectors < 65536 && layout_.kind != Kind::Fat32)
        Put16(boot + 19, static_cast<uint16_t>(layout_.totalSectors));
    else
        Put32(boot + 32, layout_.totalSectors);
    boot[21] = 0xF8;
    Put16(boot + 24, 63);
    Put16(boot + 26, 255);
    Put32(boot + 28, layout_.hiddenSectors);
    if (layout_.kind == Kind::Fat32) {
        Put32(boot + 36, layout_.sectorsPerFat);
        Put32(boot + 44, layout_.rootCluster);
        Put16(boot + 48, 1);
        Put16(boot + 50, 6);
        boot[64] = 0x80;
        boot[66] = 0x29;
        std::memcpy(boot + 71, "NO NAME    FAT32   ", 19);
        if (layout_.reservedSectors > 6) std::memcpy(Sector(6), boot, 512);
    } else {
        Put16(boot + 22, static_cast<uint16_t>(layout_.sectorsPerFat));
        boot[36] = 0x80;
        boot[38] = 0x29;
        std::memcpy(boot + 43, layout_.kind == Kind::Fat12 ? "NO NAME    FAT12   " : "NO NAME    FAT16   ", 19);
    }
    boot[510] = 0x55;
    boot[511] = 0xAA;
    SetFatEntry(0, layout_.kind == Kind::Fat12 ? 0xFF8 : layout_.kind == Kind::Fat16 ? 0xFFF8 : 0x0FFFFFF8);
    SetFatEntry(1, EndOfChain());
    if (layout_.kind == Kind::Fat32) SetFatEntry(layout_.rootCluster, EndOfChain());
}

FatImageBuilder FatImageBuilder::Fat12(uint32_t totalSectors, uint8_t sectorsPerCluster) {
    Layout layout;
    layout.kind = Kind::Fat12;
    layout.totalSectors = totalSectors;
    layout.sectorsPerCluster = sectorsPerCluster;
    layout.reservedSectors = 1;
    layout.rootEntries = 224;
    return FatImageBuilder(layout);
}

FatImageBuilder FatImageBuilder::Fat16(uint32_t totalSectors, uint8_t sectorsPerCluster) {
    Layout layout;
    layout.kind = Kind::Fat16;
    layout.totalSectors = totalSectors;
    layout.sectorsPerCluster = sectorsPerCluster;
    layout.reservedSectors = 4;
    layout.rootEntries = 512;
    return FatImageBuilder(layout);
}

FatImageBuilder FatImageBuilder::Fat32(uint32_t totalSectors, uint8_t sectorsPerCluster) {
    Layout layout;
    layout.kind = Kind::Fat32;
    layout.totalSectors = totalSectors;
    layout.sectorsPerCluster = sectorsPerCluster;
    layout.reservedSectors = 32;
    return FatImageBuilder(layout);
}

uint32_t FatImageBuilder::RootDirSector() const {
    return layout_.reservedSectors + layout_.fatCount * layout_.sectorsPerFat;
}

uint32_t FatImageBuilder::FirstDataSector() const {
    uint32_t rootSectors = layout_.kind == Kind::Fat32 ? 0 : (layout_.rootEntries * 32u + 511) / 512;
    return RootDirSector() + rootSectors;
}

uint32_t FatImageBuilder::ClusterCount() const {
    return (layout_.totalSectors - FirstDataSector()) / layout_.sectorsPerCluster;
}

uint32_t FatImageBuilder::ClusterSector(uint32_t cluster) const {
    return FirstDataSector() + (cluster - 2) * layout_.sectorsPerCluster;
}

uint32_t FatImageBuilder::EndOfChain() const {
    switch (layout_.kind) {
        case Kind::Fat12: return 0xFFF;
        case Kind::Fat16: return 0xFFFF;
        case Kind::Fat32: return 0x0FFFFFFF;
    }
    return 0x0FFFFFFF;
}

void FatImageBuilder::SetFatEntry(uint32_t cluster, uint32_t value) {
    for (uint32_t copy = 0; copy < layout_.fatCount; ++copy) {
        uint8_t* fat = Sector(FirstFatSector() + copy * layout_.sectorsPerFat);
        switch (layout_.kind) {
            case Kind::Fat12: {
                uint8_t* p = fat + cluster + cluster / 2;
                if (cluster & 1) {
                    p[0] = uint8_t((p[0] & 0x0F) | ((value << 4) & 0xF0));
                    p[1] = uint8_t(value >> 4);
                } else {
                    p[0] = uint8_t(value);
                    p[1] = uint8_t((p[1] & 0xF0) | ((value >> 8) & 0x0F));
                }
                break;
            }
            case Kind::Fat16: Put16(fat + 2 * cluster, static_cast<uint16_t>(value)); break;
            case Kind::Fat32: Put32(fat + 4 * cluster, value & 0x0FFFFFFF); break;
        }
    }
}

uint32_t FatImageBuilder::Chain(const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i)
        SetFatEntry(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndOfChain());
    return clusters.empty() ? 0 : clusters.front();
}

void FatImageBuilder::WriteData(const std::vector<uint32_t>& clusters, const std::vector<uint8_t>& data) {
    size_t done = 0;
    for (uint32_t cluster : clusters) {
        if (done >= data.size()) break;
        size_t n = std::min<size_t>(ClusterBytes(), data.size() - done);
        std::memcpy(Cluster(cluster), data.data() + done, n);
        done += n;
    }
}

DirectorySlot FatImageBuilder::ShortSlot(std::string_view name83, uint8_t attributes, uint32_t firstCluster,
                                         uint32_t size, uint16_t time, uint16_t date) {
    DirectorySlot slot {};
    std::fill(slot.begin(), slot.begin() + 11, uint8_t(' '));
    std::memcpy(slot.data(), name83.data(), std::min<size_t>(11, name83.size()));
    slot[11] = attributes;
    Put16(slot.data() + 14, time);
    Put16(slot.data() + 16, date);
    Put16(slot.data() + 18, date);
    Put16(slot.data() + 20, static_cast<uint16_t>(firstCluster >> 16));
    Put16(slot.data() + 22, time);
    Put16(slot.data() + 24, date);
    Put16(slot.data() + 26, static_cast<uint16_t>(firstCluster));
    Put32(slot.data() + 28, size);
    return slot;
}

uint8_t FatImageBuilder::ShortNameChecksum(const uint8_t* name83) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name83[i]);
    return sum;
}

std::vector<DirectorySlot> FatImageBuilder::NamedSlots(std::u16string_view longName, const DirectorySlot& shortSlot) {
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const size_t parts = (longName.size() + 12) / 13;
    const uint8_t checksum = ShortNameChecksum(shortSlot.data());
    std::vector<DirectorySlot> slots;
    for (size_t k = parts; k >= 1; --k) {
        DirectorySlot slot {};
        slot[0] = static_cast<uint8_t>(k | (k == parts ? 0x40 : 0));
        slot[11] = 0x0F;
        slot[13] = checksum;
        for (int i = 0; i < 13; ++i) {
            size_t index = (k - 1) * 13 + i;
            uint16_t unit = index < longName.size() ? longName[index] : index == longName.size() ? 0 : 0xFFFF;
            Put16(slot.data() + kOffsets[i], unit);
        }
        slots.push_back(slot);
    }
    slots.push_back(shortSlot);
    return slots;
}

DirectorySlot FatImageBuilder::DotSlot(bool dotDot, uint32_t cluster) {
    return ShortSlot(dotDot ? ".." : ".", 0x10, cluster, 0);
}

void FatImageBuilder::WriteSlots(uint32_t sector, uint32_t offset, const std::vector<DirectorySlot>& slots) {
    uint8_t* base = Sector(sector) + offset;
    for (size_t i = 0; i < slots.size(); ++i) std::memcpy(base + 32 * i, slots[i].data(), 32);
}

bool FatImageBuilder::SaveTo(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    return static_cast<bool>(out);
}

}  // namespace tabulon::test
