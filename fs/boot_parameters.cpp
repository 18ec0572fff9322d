#include "fs/boot_parameters.h"

#include <cstring>

#include "common/little_endian.h"

namespace tabulon {

bool IsPowerOfTwoUpTo(uint32_t value, uint32_t max) { return value != 0 && value <= max && (value & (value - 1)) == 0; }

void BootParameters::AssignSector(const uint8_t* sector) {
    std::memcpy(bytes_.data(), sector, kCopyBytes);
    word60_ = LoadU16(sector + 60);
}

void BootParameters::Assign(const std::array<uint8_t, kCopyBytes>& bytes, uint16_t word60) {
    bytes_ = bytes;
    word60_ = word60;
}

void BootParameters::AssignFirst60(const uint8_t* bytes) { std::memcpy(bytes_.data(), bytes, kCopyBytes); }

bool BootParameters::HasUsableCoreFields(uint32_t maxSectorsPerCluster) const {
    return BytesPerSector() == 512 && IsPowerOfTwoUpTo(SectorsPerCluster(), maxSectorsPerCluster);
}

uint16_t BootParameters::U16(size_t offset) const { return LoadU16(bytes_.data() + offset); }
uint32_t BootParameters::U32(size_t offset) const { return LoadU32(bytes_.data() + offset); }

}  // namespace tabulon
