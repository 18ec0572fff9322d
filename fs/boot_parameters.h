#pragma once
// The copy of a FAT volume's boot parameters: the first 60 bytes of its boot sector and the 16-bit
// value at offset 60. Every field is read from the copy (little-endian), never from the disk again.

#include <array>
#include <cstddef>
#include <cstdint>

namespace tabulon {

class BootParameters {
public:
    static constexpr size_t kCopyBytes = 60;

    // `sector` holds at least 62 bytes.
    void AssignSector(const uint8_t* sector);
    void Assign(const std::array<uint8_t, kCopyBytes>& bytes, uint16_t word60);
    // Replaces the first 60 bytes only (the backup boot sector's fields).
    void AssignFirst60(const uint8_t* bytes);

    uint16_t BytesPerSector() const { return U16(11); }
    uint8_t SectorsPerCluster() const { return bytes_[13]; }
    uint16_t ReservedSectors() const { return U16(14); }
    uint8_t FatCount() const { return bytes_[16]; }
    uint16_t RootEntries() const { return U16(17); }
    uint16_t SmallTotalSectors() const { return U16(19); }
    uint16_t SectorsPerFat16() const { return U16(22); }
    uint32_t TotalSectors32() const { return U32(32); }
    uint32_t SectorsPerFat32() const { return U32(36); }
    uint32_t RootCluster() const { return U32(44); }
    uint16_t Word60() const { return word60_; }
    const std::array<uint8_t, kCopyBytes>& Bytes() const { return bytes_; }

    void SetSectorsPerCluster(uint8_t value) { bytes_[13] = value; }

    // Bytes per sector 512 and sectors per cluster a power of two from 1 to `maxSectorsPerCluster`.
    bool HasUsableCoreFields(uint32_t maxSectorsPerCluster = 128) const;

private:
    uint16_t U16(size_t offset) const;
    uint32_t U32(size_t offset) const;

    std::array<uint8_t, kCopyBytes> bytes_ {};
    uint16_t word60_ = 0;
};

// 1, 2, 4, ... up to `max` (a power of two).
bool IsPowerOfTwoUpTo(uint32_t value, uint32_t max);

}  // namespace tabulon
