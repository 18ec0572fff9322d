#pragma once
// Classification of a 512-byte candidate boot sector.

#include <cstdint>

namespace tabulon {

enum class BootSectorKind : uint8_t { None = 0, Fat1216 = 1, Fat32 = 2, Ntfs = 3 };

// Looks only at the BIOS parameter block fields; neither the 55 AA signature nor the jump instruction
// matter. `sector` must hold 512 bytes.
BootSectorKind ClassifyBootSector(const uint8_t* sector);

const char* BootSectorKindName(BootSectorKind kind);

}  // namespace tabulon
