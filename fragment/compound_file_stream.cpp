#include "fragment/compound_file_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/little_endian.h"

namespace tabulon {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kDirectoryEntryBytes = 128;
constexpr uint8_t kStreamObject = 2;
constexpr uint8_t kRootObject = 5;

class Document {
public:
    explicit Document(std::span<const uint8_t> file) : file_(file) {}

    bool Open() {
        if (file_.size() < 512 || std::memcmp(file_.data(), kSignature, sizeof kSignature) != 0) return false;
        const uint16_t shift = LoadU16(file_.data() + 0x1E);
        if (shift != 9 && shift != 12) return false;
        sectorSize_ = 1u << shift;
        if (file_.size() < sectorSize_) return false;
        version4_ = shift == 12;
        // A partial last sector still counts: a truncated file keeps what it holds.
        sectorCount_ = uint32_t(std::min<uint64_t>((file_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_,
                                                   0xFFFFFFF0u));
        const uint16_t miniShift = LoadU16(file_.data() + 0x20);
        if (miniShift != 6) return false;
        miniCutoff_ = LoadU32(file_.data() + 0x38);
        return ReadFat();
    }

    uint32_t SectorSize() const { return sectorSize_; }
    uint32_t MiniCutoff() const { return miniCutoff_; }
    bool Version4() const { return version4_; }
    uint64_t SectorOffset(uint32_t sector) const { return (uint64_t(sector) + 1) * sectorSize_; }

    // The bytes of sector `sector` that lie inside the file (fewer than a sector at a truncated end).
    std::span<const uint8_t> Sector(uint32_t sector) const {
        if (sector >= sectorCount_) return {};
        const uint64_t at = SectorOffset(sector);
        if (at >= file_.size()) return {};
        return file_.subspan(size_t(at), size_t(std::min<uint64_t>(sectorSize_, file_.size() - at)));
    }

    // Follows a chain of `table` from `start` until its end or until `wanted` sectors are collected; false
    // when it leaves the table, cycles or exceeds `limit` (`out` then holds the sectors before that point).
    static bool Chain(const std::vector<uint32_t>& table, uint32_t start, size_t limit, std::vector<uint32_t>& out,
                      size_t wanted = SIZE_MAX) {
        out.clear();
        std::vector<bool> visited(table.size());
        uint32_t sector = start;
        while (sector != kEndOfChain && out.size() < wanted) {
            if (sector >= table.size() || visited[sector] || out.size() >= limit) return false;
            visited[sector] = true;
            out.push_back(sector);
            sector = table[sector];
        }
        return true;
    }

    bool FatChain(uint32_t start, std::vector<uint32_t>& out, size_t wanted = SIZE_MAX) const {
        return Chain(fat_, start, sectorCount_, out, wanted);
    }
    const std::vector<uint32_t>& Fat() const { return fat_; }

    // Concatenates the sectors of a chain; false when one of them is missing, or cut short by the end of the
    // file anywhere but in the last sector, or when fewer than `needed` bytes result.
    bool ReadChain(const std::vector<uint32_t>& chain, std::vector<uint8_t>& out, size_t needed = 0) const {
        out.clear();
        out.reserve(chain.size() * sectorSize_);
        for (size_t i = 0; i < chain.size(); ++i) {
            auto bytes = Sector(chain[i]);
            if (bytes.empty() || (bytes.size() != sectorSize_ && i + 1 != chain.size())) return false;
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
        return out.size() >= needed;
    }

private:
    bool AppendFatSector(uint32_t sector) {
        auto bytes = Sector(sector);
        if (bytes.size() != sectorSize_) return false;
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4) fat_.push_back(LoadU32(bytes.data() + i));
        return true;
    }

    bool ReadFat() {
        // The declared count is only trusted as far as the file could hold that many sectors.
        const uint32_t fatSectors = std::min(LoadU32(file_.data() + 0x2C), sectorCount_);
        std::vector<uint32_t> listed;
        for (int i = 0; i < 109 && listed.size() < fatSectors; ++i) {
            const uint32_t sector = LoadU32(file_.data() + 0x4C + 4 * i);
            if (sector == kFreeSector) break;
            listed.push_back(sector);
        }
        // Further table sectors are listed in a chain of list sectors, each ending in the next one's number.
        uint32_t listSector = LoadU32(file_.data() + 0x44);
        uint32_t listSteps = 0;
        while (listed.size() < fatSectors && listSector != kEndOfChain && listSector != kFreeSector) {
            if (++listSteps > sectorCount_) return false;
            auto bytes = Sector(listSector);
            if (bytes.size() != sectorSize_) return false;
            const size_t entries = sectorSize_ / 4 - 1;
            for (size_t i = 0; i < entries && listed.size() < fatSectors; ++i) {
                const uint32_t sector = LoadU32(bytes.data() + 4 * i);
                if (sector == kFreeSector) continue;
                listed.push_back(sector);
            }
            listSector = LoadU32(bytes.data() + 4 * entries);
        }
        if (listed.empty()) return false;
        fat_.reserve(listed.size() * (sectorSize_ / 4));
        for (uint32_t sector : listed)
            if (!AppendFatSector(sector)) return false;
        return true;
    }

    std::span<const uint8_t> file_;
    uint32_t sectorSize_ = 512;
    uint32_t sectorCount_ = 0;
    uint32_t miniCutoff_ = 4096;
    bool version4_ = false;
    std::vector<uint32_t> fat_;
};

bool NameEquals(const uint8_t* entry, std::u16string_view name) {
    const uint16_t nameBytes = LoadU16(entry + 0x40);
    if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) return false;
    const size_t chars = nameBytes / 2 - 1;
    if (chars != name.size()) return false;
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (size_t i = 0; i < chars; ++i)
        if (lower(char16_t(LoadU16(entry + 2 * i))) != lower(name[i])) return false;
    return true;
}

uint64_t EntrySize(const uint8_t* entry, bool version4) {
    // Version 3 files may hold garbage in the high half of the size.
    return version4 ? LoadU64(entry + 0x78) : LoadU32(entry + 0x78);
}

}  // namespace

bool CompoundStream::IsContiguous() const {
    for (size_t i = 1; i < sectorOffsets.size(); ++i)
        if (sectorOffsets[i] != sectorOffsets[i - 1] + sectorSize) return false;
    return true;
}

uint64_t CompoundStream::TailBytes(uint64_t fileSize) const {
    if (sectorOffsets.empty()) return 0;
    const uint64_t end = sectorOffsets.back() + sectorSize;
    return fileSize > end ? fileSize - end : 0;
}

bool ReadCompoundStream(std::span<const uint8_t> file, std::u16string_view name, CompoundStream& out) {
    out = CompoundStream {};
    Document document(file);
    if (!document.Open()) return false;

    // The directory is read as far as its chain holds together: a damaged end costs only the entries there.
    std::vector<uint32_t> directoryChain;
    document.FatChain(LoadU32(file.data() + 0x30), directoryChain);
    std::vector<uint8_t> directory;
    for (uint32_t sector : directoryChain) {
        auto bytes = document.Sector(sector);
        if (bytes.size() != document.SectorSize()) break;
        directory.insert(directory.end(), bytes.begin(), bytes.end());
    }

    const uint8_t* root = nullptr;
    const uint8_t* found = nullptr;
    for (size_t at = 0; at + kDirectoryEntryBytes <= directory.size(); at += kDirectoryEntryBytes) {
        const uint8_t* entry = directory.data() + at;
        if (entry[0x42] == kRootObject && root == nullptr) root = entry;
        if (entry[0x42] == kStreamObject && found == nullptr && NameEquals(entry, name)) found = entry;
    }
    if (found == nullptr) return false;

    const uint64_t size = EntrySize(found, document.Version4());
    const uint32_t start = LoadU32(found + 0x74);
    if (size > file.size()) return false;

    if (size >= document.MiniCutoff()) {
        std::vector<uint32_t> chain;
        const uint64_t sectors = (size + document.SectorSize() - 1) / document.SectorSize();
        if (!document.FatChain(start, chain, size_t(sectors)) || chain.size() < sectors) return false;
        if (!document.ReadChain(chain, out.bytes, size_t(size))) return false;
        out.bytes.resize(size_t(size));
        out.sectorSize = document.SectorSize();
        for (uint32_t sector : chain) out.sectorOffsets.push_back(document.SectorOffset(sector));
        return true;
    }

    // Small streams live in the mini stream: 64-byte sectors inside the root entry's own chain, linked by
    // the mini allocation table.
    if (root == nullptr) return false;
    std::vector<uint32_t> rootChain, miniFatChain, chain;
    std::vector<uint8_t> miniFatBytes;
    if (!document.FatChain(LoadU32(root + 0x74), rootChain)) return false;
    if (!document.FatChain(LoadU32(file.data() + 0x3C), miniFatChain) || !document.ReadChain(miniFatChain, miniFatBytes))
        return false;
    std::vector<uint32_t> miniFat(miniFatBytes.size() / 4);
    for (size_t i = 0; i < miniFat.size(); ++i) miniFat[i] = LoadU32(miniFatBytes.data() + 4 * i);
    const uint64_t sectors = (size + 63) / 64;
    if (!Document::Chain(miniFat, start, miniFat.size(), chain, size_t(sectors)) || chain.size() < sectors) return false;
    const uint32_t perSector = document.SectorSize() / 64;
    out.inMiniStream = true;
    out.sectorSize = 64;
    for (uint32_t mini : chain) {
        const uint32_t index = mini / perSector;
        if (index >= rootChain.size()) return false;
        auto bytes = document.Sector(rootChain[index]);
        const size_t within = size_t(mini % perSector) * 64;
        if (bytes.size() < within + 64) return false;
        out.bytes.insert(out.bytes.end(), bytes.begin() + within, bytes.begin() + within + 64);
        out.sectorOffsets.push_back(document.SectorOffset(rootChain[index]) + within);
    }
    out.bytes.resize(size_t(size));
    return true;
}

bool ReadWorkbookStream(std::span<const uint8_t> file, CompoundStream& out) {
    return ReadCompoundStream(file, u"Workbook", out) || ReadCompoundStream(file, u"Book", out);
}

}  // namespace tabulon
