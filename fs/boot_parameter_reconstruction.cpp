#include "fs/boot_parameter_reconstruction.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "common/little_endian.h"
#include "fs/boot_parameters.h"
#include "fs/directory_plausibility.h"

namespace tabulon {
namespace {

constexpr uint32_t kWindowSectors = 256;
constexpr uint32_t kWindowBytes = kWindowSectors * 512;
constexpr uint32_t kSlotsPerSector = 16;

bool AllBytes(const uint8_t* p, size_t n, uint8_t value) {
    return std::all_of(p, p + n, [value](uint8_t b) { return b == value; });
}

bool ReadWindow(VolumeDevice& device, std::vector<uint8_t>& window, uint64_t sector) {
    std::fill(window.begin(), window.end(), 0);
    if (sector > 0xFFFFFFFFu) return false;
    return device.Read(window.data(), static_cast<int32_t>(window.size()), static_cast<uint32_t>(sector));
}

bool IsFatCopyStart(const uint8_t* sector) { return sector[0] == 0xF8 && sector[1] == 0xFF && sector[2] == 0xFF; }

// Steps 1-2: the second FAT copy's first sector, volume-relative.
std::optional<uint32_t> FindSecondFatCopy(VolumeDevice& device, uint32_t partitionStart, uint32_t limit,
                                          std::vector<uint8_t>& window) {
    std::vector<uint32_t> hits;
    for (uint32_t offset = 0; offset < limit && hits.size() < 2; offset += kWindowSectors) {
        if (!ReadWindow(device, window, uint64_t(partitionStart) + offset)) continue;
        for (uint32_t i = 0; i < kWindowSectors && offset + i < limit && hits.size() < 2; ++i)
            if (IsFatCopyStart(window.data() + size_t(i) * 512)) hits.push_back(offset + i);
    }
    if (hits.empty()) return std::nullopt;
    uint32_t second = hits.size() == 2 && hits[0] <= 200 ? hits[1] : hits[0];
    if (second < 100) return std::nullopt;
    return second;
}

// Step 3: the first sector behind the unused tail of the second FAT copy.
std::optional<uint32_t> FindDataStart(VolumeDevice& device, uint32_t partitionStart, uint32_t secondFat, FatType type,
                                      std::vector<uint8_t>& window) {
    // The window normally starts inside the second copy's tail. A copy shorter than 206 sectors would
    // put the copy's own first sector into the window, and that sector would be taken for the data
    // start; the search starts behind it instead.
    const uint64_t start = std::max<uint64_t>(2 * uint64_t(secondFat) >= 206 ? 2 * uint64_t(secondFat) - 206 : 0,
                                              uint64_t(secondFat) + 1);
    if (!ReadWindow(device, window, uint64_t(partitionStart) + start)) return std::nullopt;
    uint32_t i = 0;
    while (i < kWindowSectors && !AllBytes(window.data() + size_t(i) * 512, 512, 0)) ++i;
    for (; i < kWindowSectors; ++i) {
        const uint8_t* sector = window.data() + size_t(i) * 512;
        if (AllBytes(sector, 512, 0) || AllBytes(sector, 512, 0xFF) || IsPlausibleFatSector(sector, type)) continue;
        const uint64_t d = start + i;
        if (d > 0xFFFFFFFFu) return std::nullopt;
        return static_cast<uint32_t>(d);
    }
    return std::nullopt;
}

std::optional<size_t> NextNonZeroSlot(const std::vector<uint8_t>& data, size_t from) {
    for (size_t s = from; s * 32 + 32 <= data.size(); ++s)
        if (!AllBytes(data.data() + s * 32, 32, 0)) return s;
    return std::nullopt;
}

void WriteCommonFields(std::array<uint8_t, 512>& out, uint32_t sectorsPerCluster, uint32_t reserved, uint32_t totalSectors) {
    out.fill(0);
    StoreU16(out.data() + 11, 512);
    out[13] = static_cast<uint8_t>(sectorsPerCluster);
    StoreU16(out.data() + 14, static_cast<uint16_t>(reserved));
    out[16] = 2;
    StoreU32(out.data() + 32, totalSectors);
}

void WriteFat32(std::array<uint8_t, 512>& out, uint32_t sectorsPerCluster, uint32_t reserved, uint32_t sectorsPerFat,
                uint32_t totalSectors) {
    WriteCommonFields(out, sectorsPerCluster, reserved, totalSectors);
    StoreU32(out.data() + 36, sectorsPerFat);
    // Root cluster 0: the mount starts the root directory at cluster 2.
}

}  // namespace

bool IsPlausibleFatSector(const uint8_t* sector, FatType type) {
    int pairs = 0;
    if (type == FatType::Fat32) {
        for (int k = 0; k <= 125; ++k) {
            const uint32_t a = LoadU32(sector + 4 * k);
            const uint32_t b = LoadU32(sector + 4 * (k + 1));
            if (a != 0 && b != 0 && a != 0xFFFFFFFFu && b != 0xFFFFFFFFu && b == a + 1) ++pairs;
        }
    } else {
        for (int k = 0; k <= 252; ++k) {
            const uint16_t a = LoadU16(sector + 2 * k);
            const uint16_t b = LoadU16(sector + 2 * (k + 1));
            if (a != 0 && b != 0 && a != 0xFFFF && b != 0xFFFF && b == uint16_t(a + 1)) ++pairs;
        }
    }
    return pairs > 4;
}

uint32_t DefaultSectorsPerCluster(FatType type, uint64_t totalSectors) {
    const uint64_t bytes = totalSectors * 512;
    constexpr uint64_t MiB = 1024 * 1024;
    if (type == FatType::Fat32) return bytes < 128 * MiB ? 2 : 64;
    if (bytes <= 32 * MiB) return 1;
    if (bytes <= 64 * MiB) return 2;
    if (bytes <= 128 * MiB) return 4;
    if (bytes <= 256 * MiB) return 8;
    if (bytes <= 0x1FF00000ull) return 16;
    if (bytes <= 0x3FF00000ull) return 32;
    if (bytes <= 0x7FF00000ull) return 64;
    return 128;
}

bool ReconstructBootParameters(VolumeDevice& device, uint32_t partitionStart, FatType type, uint32_t totalSectors,
                               bool allowProbe, std::array<uint8_t, 512>& sectorOut) {
    uint32_t limit = 0;
    if (type == FatType::Fat16) limit = 5000;
    else if (type == FatType::Fat32) limit = 35000;
    else return false;

    std::vector<uint8_t> window(kWindowBytes);
    const auto secondFat = FindSecondFatCopy(device, partitionStart, limit, window);
    if (!secondFat) return false;
    const uint32_t f2 = *secondFat;
    const auto dataStart = FindDataStart(device, partitionStart, f2, type, window);
    if (!dataStart) return false;
    const uint32_t d = *dataStart;
    // One FAT copy spans F2 .. D - 1 and the first one as much before it.
    if (d <= f2 || uint64_t(2) * f2 < d) return false;
    const uint32_t sectorsPerFat = d - f2;
    const uint32_t reserved = 2 * f2 - d;
    if (reserved > 0xFFFF) return false;
    const uint32_t defaultCluster = DefaultSectorsPerCluster(type, totalSectors);

    std::vector<uint8_t> data(kWindowBytes);
    if (!ReadWindow(device, data, uint64_t(partitionStart) + d)) return false;

    if (type == FatType::Fat16) {
        const size_t slots = data.size() / 32;
        const uint32_t clusterBound = std::max<uint32_t>(2, totalSectors / defaultCluster + 2);
        size_t s = 0;
        while (s < slots && !AllBytes(data.data() + s * 32, 32, 0)) {
            if (s % kSlotsPerSector == 0 &&
                !IsPlausibleDirectoryData(data.data() + s * 32, kSlotsPerSector, clusterBound, FatType::Fat16,
                                          uint64_t(totalSectors) * 512))
                break;
            ++s;
        }
        const auto next = NextNonZeroSlot(data, s);
        if (allowProbe && next && *next < 512 && *next % 16 == 0 && IsPowerOfTwoUpTo(uint32_t(*next / 16), 128)) {
            // A single directory cluster behind the FATs, then more data: a FAT32 volume whose root
            // directory is its cluster 2.
            WriteFat32(sectorOut, static_cast<uint32_t>(*next / 16), reserved, sectorsPerFat, totalSectors);
            return true;
        }
        if (sectorsPerFat > 0xFFFF) return false;
        WriteCommonFields(sectorOut, defaultCluster, reserved, totalSectors);
        StoreU16(sectorOut.data() + 17, 512);
        StoreU16(sectorOut.data() + 22, static_cast<uint16_t>(sectorsPerFat));
        return true;
    }

    uint32_t sectorsPerCluster = defaultCluster;
    size_t v = 0;
    size_t firstZero = 0;
    while (firstZero < 4096 && !AllBytes(data.data() + firstZero * 32, 32, 0)) ++firstZero;
    if (firstZero < 4096) {
        const auto next = NextNonZeroSlot(data, firstZero);
        if (next) v = *next;
    }
    if (v == 0) v = size_t(defaultCluster) * kSlotsPerSector;
    if ((v * 32) % 512 == 0 && IsPowerOfTwoUpTo(uint32_t(v * 32 / 512), 128)) sectorsPerCluster = uint32_t(v * 32 / 512);
    WriteFat32(sectorOut, sectorsPerCluster, reserved, sectorsPerFat, totalSectors);
    return true;
}

}  // namespace tabulon
