#include "fragment/compound_layout.h"

#include <cstring>

#include "common/little_endian.h"

namespace tabulon {
namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint8_t kRootType = 5;

bool NameIs(std::span<const uint8_t> entry, const CompoundEntry& parsed, const char* name) {
    const size_t length = std::strlen(name);
    if (parsed.nameBytes != (length + 1) * 2) return false;
    for (size_t i = 0; i < length; ++i) {
        uint16_t unit = LoadU16(entry.data() + 2 * i);
        if (unit >= 'a' && unit <= 'z') unit = uint16_t(unit - 32);
        const char wanted = name[i] >= 'a' && name[i] <= 'z' ? char(name[i] - 32) : name[i];
        if (unit != uint16_t(uint8_t(wanted))) return false;
    }
    return true;
}

}  // namespace

bool ReadCompoundLayout(std::span<const uint8_t> header, CompoundLayout& out) {
    out = CompoundLayout {};
    if (header.size() < 512 || std::memcmp(header.data(), kSignature, sizeof kSignature) != 0) return false;
    const uint8_t* h = header.data();
    if (LoadU16(h + 28) != 0xFFFE || LoadU16(h + 32) != 6) return false;
    const uint16_t shift = LoadU16(h + 30);
    if (shift != 9 && shift != 12) return false;
    out.sectorBytes = 1u << shift;
    out.fatSectorCount = LoadU32(h + 44);
    out.firstDirectorySector = LoadU32(h + 48);
    out.miniStreamCutoff = LoadU32(h + 56);
    out.firstMiniFatSector = LoadU32(h + 60);
    out.firstDifatSector = LoadU32(h + 68);
    out.difatSectorCount = LoadU32(h + 72);
    for (uint32_t i = 0; i < CompoundLayout::kHeaderFatEntries; ++i) out.headerFatSectors[i] = LoadU32(h + 76 + 4 * i);
    return true;
}

bool ReadCompoundEntry(std::span<const uint8_t> entry, CompoundEntry& out) {
    out = CompoundEntry {};
    if (entry.size() < kCompoundEntryBytes) return false;
    const uint8_t* e = entry.data();
    out.nameBytes = LoadU16(e + 64);
    out.type = e[66];
    out.startSector = LoadU32(e + 116);
    out.size = LoadU32(e + 120);
    if (out.type != 0 && out.type != 1 && out.type != 2 && out.type != kRootType) return false;
    if (out.nameBytes > 64 || out.nameBytes % 2 != 0) return false;
    if (out.type == 0) return true;
    return out.nameBytes >= 2 && LoadU16(e + out.nameBytes - 2) == 0;
}

bool IsWorkbookStreamEntry(std::span<const uint8_t> entry, const CompoundEntry& parsed) {
    return parsed.type == 2 && entry.size() >= kCompoundEntryBytes &&
           (NameIs(entry, parsed, "Workbook") || NameIs(entry, parsed, "Book"));
}

bool IsDirectoryRun(std::span<const uint8_t> bytes, bool directoryStart) {
    if (bytes.empty() || bytes.size() % kCompoundEntryBytes != 0) return false;
    for (size_t at = 0; at < bytes.size(); at += kCompoundEntryBytes) {
        CompoundEntry entry;
        if (!ReadCompoundEntry(bytes.subspan(at, kCompoundEntryBytes), entry)) return false;
        const bool mustBeRoot = directoryStart && at == 0;
        if ((entry.type == kRootType) != mustBeRoot) return false;
    }
    return true;
}

}  // namespace tabulon
