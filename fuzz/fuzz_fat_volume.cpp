// Mounts damaged FAT volumes and runs everything an analyser does with them: the directory tree, the
// lost-folder scan with the content scan, first-cluster recovery, chains and file reads, and boot
// parameter reconstruction. The input's first byte picks the volume type; the rest is laid over a small
// valid volume (XOR from byte 0), so mutations start from working structures: boot sector, both FAT
// copies, the root directory and the first folders. The raw input also goes straight to the directory
// parsers.
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "fs/boot_parameter_reconstruction.h"
#include "fs/content_signature_scan.h"
#include "fs/directory_parser.h"
#include "fs/directory_plausibility.h"
#include "fs/disk_node.h"
#include "fs/fat_volume.h"

using namespace tabulon;

namespace {

struct Template {
    std::vector<uint8_t> bytes;
    FatType type;
};

void Slot(uint8_t* at, const char* name83, uint8_t attributes, uint32_t cluster, uint32_t size) {
    std::memset(at, 0, 32);
    std::memcpy(at, name83, 11);
    at[11] = attributes;
    StoreU16(at + 14, 0x6000);
    StoreU16(at + 16, 0x5A21);
    StoreU16(at + 18, 0x5A21);
    StoreU16(at + 20, static_cast<uint16_t>(cluster >> 16));
    StoreU16(at + 22, 0x6000);
    StoreU16(at + 24, 0x5A21);
    StoreU16(at + 26, static_cast<uint16_t>(cluster));
    StoreU32(at + 28, size);
}

void LongSlot(uint8_t* at, uint8_t sequence, const char16_t* part) {
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::memset(at, 0, 32);
    at[0] = sequence;
    at[11] = 0x0F;
    bool ended = false;
    for (int i = 0; i < 13; ++i) {
        uint16_t unit = ended ? 0xFFFF : static_cast<uint16_t>(part[i]);
        if (!ended && part[i] == 0) ended = true;
        StoreU16(at + kOffsets[i], unit);
    }
}

Template Build(FatType type) {
    Template t;
    t.type = type;
    const bool fat32 = type == FatType::Fat32;
    const uint32_t totalSectors = type == FatType::Fat12 ? 256 : 4608;
    const uint32_t reserved = fat32 ? 8 : 1;
    const uint32_t sectorsPerFat = type == FatType::Fat12 ? 1 : fat32 ? 40 : 20;
    const uint32_t rootEntries = fat32 ? 0 : 32;
    t.bytes.assign(size_t(totalSectors) * 512, 0);
    uint8_t* b = t.bytes.data();
    b[0] = 0xEB;
    StoreU16(b + 11, 512);
    b[13] = 1;
    StoreU16(b + 14, static_cast<uint16_t>(reserved));
    b[16] = 2;
    StoreU16(b + 17, static_cast<uint16_t>(rootEntries));
    StoreU16(b + 19, static_cast<uint16_t>(totalSectors));
    b[21] = 0xF8;
    if (fat32) {
        StoreU16(b + 19, 0);
        StoreU32(b + 32, totalSectors);
        StoreU32(b + 36, sectorsPerFat);
        StoreU32(b + 44, 2);
        std::memcpy(b + 6 * 512, b, 512);
    } else {
        StoreU16(b + 22, static_cast<uint16_t>(sectorsPerFat));
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    const uint32_t rootStart = reserved + 2 * sectorsPerFat;
    const uint32_t dataStart = rootStart + rootEntries / 16;
    auto setFat = [&](uint32_t cluster, uint32_t value) {
        for (uint32_t copy = 0; copy < 2; ++copy) {
            uint8_t* fat = b + size_t(reserved + copy * sectorsPerFat) * 512;
            if (type == FatType::Fat12) {
                uint8_t* p = fat + cluster + cluster / 2;
                if (cluster & 1) {
                    p[0] = uint8_t((p[0] & 0x0F) | ((value << 4) & 0xF0));
                    p[1] = uint8_t(value >> 4);
                } else {
                    p[0] = uint8_t(value);
                    p[1] = uint8_t((p[1] & 0xF0) | ((value >> 8) & 0x0F));
                }
            } else if (type == FatType::Fat16) {
                StoreU16(fat + 2 * cluster, static_cast<uint16_t>(value));
            } else {
                StoreU32(fat + 4 * cluster, value);
            }
        }
    };
    const uint32_t eoc = type == FatType::Fat12 ? 0xFFF : type == FatType::Fat16 ? 0xFFFF : 0x0FFFFFFF;
    setFat(0, eoc - 7);
    setFat(1, eoc);
    auto cluster = [&](uint32_t c) { return b + (size_t(dataStart) + c - 2) * 512; };
    // Root: FAT32 in cluster 2, FAT12/16 in the fixed area. Files start at cluster 3.
    uint8_t* root = fat32 ? cluster(2) : b + size_t(rootStart) * 512;
    if (fat32) setFat(2, eoc);
    LongSlot(root, 0x42, u"2026.xls");
    LongSlot(root + 32, 0x01, u"Quarterly rep");
    Slot(root + 64, "QUARTE~1XLS", 0x20, 3, 1300);
    Slot(root + 96, "FOLDER     ", 0x10, 6, 0);
    Slot(root + 128, "\xE5" "ELETEDXLS", 0x20, 8, 700);
    Slot(root + 160, "\xE5" "OLDDIR    ", 0x10, 10, 0);
    setFat(3, 4);
    setFat(4, 5);
    setFat(5, eoc);
    std::memcpy(cluster(3), "\xD0\xCF\x11\xE0", 4);
    std::memcpy(cluster(4), "\x09\x08\x10\x00\x00\x06", 6);
    setFat(6, 7);
    setFat(7, eoc);
    uint8_t* folder = cluster(6);
    Slot(folder, ".          ", 0x10, 6, 0);
    Slot(folder + 32, "..         ", 0x10, 0, 0);
    Slot(folder + 64, "INNER   TXT", 0x20, 9, 10);
    Slot(folder + 96, "BACK       ", 0x10, 6, 0);
    setFat(9, eoc);
    uint8_t* old = cluster(10);
    Slot(old, ".          ", 0x10, 10, 0);
    Slot(old + 32, "..         ", 0x10, 0, 0);
    Slot(old + 64, "\xE5" "OST    XLS", 0x20, 11, 100);
    return t;
}

const Template& Templates(int index) {
    static const Template templates[3] = {Build(FatType::Fat12), Build(FatType::Fat16), Build(FatType::Fat32)};
    return templates[index];
}

int MemoryFile() {
    static int fd = memfd_create("fuzz-fat-volume", MFD_CLOEXEC);
    return fd;
}

void ReadEverything(FatVolume& volume, FileEntry& root, int& budget) {
    std::vector<FileEntry*> pending {&root};
    while (!pending.empty() && budget > 0) {
        FileEntry* entry = pending.back();
        pending.pop_back();
        for (auto& child : entry->children) pending.push_back(&child);
        --budget;
        ClusterChain chain;
        uint32_t extra = 0;
        volume.BuildChain(*entry, chain, &extra);
        std::vector<uint8_t> data;
        uint64_t allocated = 0, size = 0;
        volume.ReadWholeFile(*entry, data, allocated, size);
        uint32_t start = 0;
        volume.GetExtent(*entry, allocated, start);
        volatile std::u16string extension = EntryExtension(*entry);
        (void)extension;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The raw bytes as directory slots, as every parser of found clusters sees them.
    {
        const size_t slots = (size - 1) / 32;
        FileEntry parent;
        std::vector<FileEntry> scratch;
        ParseDirectorySlots(parent, data + 1, slots, FatType(data[0] % 4), scratch);
        FileEntry record;
        record.flags = FileEntryFlags::Deleted | FileEntryFlags::Directory;
        ParseLostFolderSlots(record, data + 1, slots, FatType(data[0] % 4));
        IsPlausibleDirectoryData(data + 1, slots, 1u << 20, FatType::Fat32, 1ull << 30);
        std::vector<uint32_t> hits;
        FindCompoundDocuments(data + 1, size - 1, 0, 1, hits);
    }

    const Template& base = Templates(data[0] % 3);
    std::vector<uint8_t> image = base.bytes;
    for (size_t i = 1; i < size && i - 1 < image.size(); ++i) image[i - 1] ^= data[i];
    const int fd = MemoryFile();
    if (fd < 0 || ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(image.size())) != 0) return 0;
    if (pwrite(fd, image.data(), image.size(), 0) != static_cast<ssize_t>(image.size())) return 0;

    ContentFoundList::Global().Clear();
    SourceDisk disk;
    disk.Device().SetPath("/proc/self/fd/" + std::to_string(fd));
    if (!disk.Device().Open()) return 0;
    FatVolume volume;
    const bool declareFat32 = (data[0] & 0x04) ? base.type != FatType::Fat32 : base.type == FatType::Fat32;
    volume.SetDeclaredFatType(declareFat32 ? FatType::Fat32 : FatType::Fat16);
    volume.SetOwner(&disk);
    disk.Device().SetBootSnapshot(image.data(), true);
    volume.SetBootCopyFlag(1);
    volume.SetTotalSectors(disk.Device().SectorCount());
    volume.SetPartitionStart(0);
    volume.Mount();
    ScanProgress progress;
    volume.SetProgress(&progress);
    volume.ScanLostFolders();
    volume.RecoverFirstClusters();
    int budget = 400;
    ReadEverything(volume, *volume.RootEntry(), budget);
    ReadEverything(volume, *volume.LostEntry(), budget);
    ClusterChain rootRuns;
    volume.RootDirectoryRuns(rootRuns);

    if (data[0] & 0x08) {
        std::array<uint8_t, 512> rebuilt {};
        ReconstructBootParameters(disk.Device(), 0, (data[0] & 0x10) ? FatType::Fat32 : FatType::Fat16,
                                  static_cast<uint32_t>(disk.Device().SectorCount()), true, rebuilt);
    }
    ContentFoundList::Global().Clear();
    return 0;
}
