#pragma once
// A small, bounds-checked reader of OLE2 compound files for tests and offline tools: it lists the
// directory entries and reads a stream's bytes by following its sector chain (regular or mini stream).
// Header-only so that single-file tools in tools/ can include it as well as the test programs.
//
// Every offset and sector number from the file is checked against the file size; chains that loop,
// leave the file or end early make the read fail with a reason instead of returning wrong bytes.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/little_endian.h"

namespace tabulon::test {

class CompoundFileReader {
public:
    enum class EntryType : uint8_t { Empty = 0, Storage = 1, Stream = 2, Root = 5 };

    struct Entry {
        std::u16string name;
        EntryType type = EntryType::Empty;
        uint32_t startSector = 0;
        uint64_t size = 0;
    };

    // Parses the header, the allocation tables and the directory. False (with Error()) when the bytes
    // are not a readable compound file. The bytes must outlive the reader.
    bool Open(std::span<const uint8_t> file) {
        file_ = file;
        entries_.clear();
        fat_.clear();
        miniFat_.clear();
        if (file.size() < 512) return Fail("shorter than a compound-file header");
        static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        if (!std::equal(std::begin(kSignature), std::end(kSignature), file.begin()))
            return Fail("no compound-file signature");
        const uint16_t sectorShift = LoadU16(&file[0x1E]);
        const uint16_t miniShift = LoadU16(&file[0x20]);
        if (sectorShift != 9 && sectorShift != 12) return Fail("unsupported sector size");
        if (miniShift != 6) return Fail("unsupported mini sector size");
        sectorSize_ = size_t(1) << sectorShift;
        miniSectorSize_ = size_t(1) << miniShift;
        miniCutoff_ = LoadU32(&file[0x38]);
        const uint32_t fatSectors = LoadU32(&file[0x2C]);
        const uint32_t firstDirectory = LoadU32(&file[0x30]);
        const uint32_t firstMiniFat = LoadU32(&file[0x3C]);
        uint32_t difatSector = LoadU32(&file[0x44]);
        const uint32_t difatSectors = LoadU32(&file[0x48]);

        // Allocation table sectors: 109 in the header, then a chain of DIFAT sectors. A damaged count
        // is not trusted: the list ends at the first free or end-of-chain entry.
        const uint64_t sectorsInFile = file.size() / sectorSize_;
        const uint64_t wanted = std::min<uint64_t>(fatSectors, sectorsInFile);
        std::vector<uint32_t> fatSectorList;
        bool listEnded = false;
        auto take = [&](uint32_t sectorNumber) {
            if (sectorNumber >= 0xFFFFFFFA) listEnded = true;
            if (!listEnded) fatSectorList.push_back(sectorNumber);
        };
        for (size_t i = 0; i < 109 && !listEnded && fatSectorList.size() < wanted; ++i)
            take(LoadU32(&file[0x4C + 4 * i]));
        const size_t perDifat = sectorSize_ / 4 - 1;
        for (uint64_t d = 0; d < std::min<uint64_t>(difatSectors, sectorsInFile) && !listEnded &&
                             fatSectorList.size() < wanted;
             ++d) {
            const uint8_t* sector = SectorData(difatSector);
            if (!sector) return Fail("DIFAT sector outside the file");
            for (size_t i = 0; i < perDifat && !listEnded && fatSectorList.size() < wanted; ++i)
                take(LoadU32(sector + 4 * i));
            difatSector = LoadU32(sector + 4 * perDifat);
        }
        if (fatSectorList.empty()) return Fail("no allocation table");
        for (uint32_t sectorNumber : fatSectorList) {
            const uint8_t* sector = SectorData(sectorNumber);
            if (!sector) return Fail("allocation table sector outside the file");
            for (size_t i = 0; i < sectorSize_ / 4; ++i) fat_.push_back(LoadU32(sector + 4 * i));
        }

        std::vector<uint8_t> directory;
        if (!ReadChain(fat_, firstDirectory, sectorSize_, false, directory)) return Fail("directory: " + error_);
        for (size_t at = 0; at + 128 <= directory.size(); at += 128) {
            const uint8_t* raw = directory.data() + at;
            Entry entry;
            const uint16_t nameBytes = std::min<uint16_t>(LoadU16(raw + 0x40), 64);
            for (size_t i = 0; i + 1 < nameBytes; i += 2) {
                char16_t c = LoadU16(raw + i);
                if (c == 0) break;
                entry.name.push_back(c);
            }
            entry.type = static_cast<EntryType>(raw[0x42]);
            entry.startSector = LoadU32(raw + 0x74);
            entry.size = sectorSize_ == 512 ? LoadU32(raw + 0x78) : LoadU64(raw + 0x78);
            entries_.push_back(std::move(entry));
        }
        if (entries_.empty() || entries_[0].type != EntryType::Root) return Fail("no root entry");

        // Damage to the mini stream or its table only fails the reads of small streams.
        std::vector<uint8_t> miniFatBytes;
        miniStream_.clear();
        if (firstMiniFat != kEndOfChain && firstMiniFat != kFreeSector &&
            ReadChain(fat_, firstMiniFat, sectorSize_, false, miniFatBytes)) {
            for (size_t i = 0; i + 4 <= miniFatBytes.size(); i += 4) miniFat_.push_back(LoadU32(&miniFatBytes[i]));
            if (entries_[0].size > 0 && !ReadChain(fat_, entries_[0].startSector, sectorSize_, false, miniStream_))
                miniStream_.clear();
        }
        error_.clear();
        return true;
    }

    const std::vector<Entry>& Entries() const { return entries_; }
    const std::string& Error() const { return error_; }

    // Index of the first stream entry whose name equals `name` ignoring ASCII case, or empty.
    std::optional<size_t> FindStream(std::u16string_view name) const {
        auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; };
        for (size_t i = 0; i < entries_.size(); ++i) {
            const Entry& entry = entries_[i];
            if (entry.type != EntryType::Stream || entry.name.size() != name.size()) continue;
            if (std::equal(name.begin(), name.end(), entry.name.begin(),
                           [&](char16_t a, char16_t b) { return lower(a) == lower(b); }))
                return i;
        }
        return std::nullopt;
    }

    // The bytes of the stream entry `index`, exactly its recorded size, or empty on any damage.
    std::optional<std::vector<uint8_t>> ReadStream(size_t index) {
        if (index >= entries_.size() || entries_[index].type != EntryType::Stream) {
            Fail("not a stream entry");
            return std::nullopt;
        }
        const Entry& entry = entries_[index];
        std::vector<uint8_t> bytes;
        bool ok = entry.size < miniCutoff_ ? ReadChain(miniFat_, entry.startSector, miniSectorSize_, true, bytes)
                                           : ReadChain(fat_, entry.startSector, sectorSize_, false, bytes);
        if (entry.size == 0) return bytes;
        if (!ok) return std::nullopt;
        if (bytes.size() < entry.size) {
            Fail("stream chain shorter than the stream size");
            return std::nullopt;
        }
        bytes.resize(size_t(entry.size));
        return bytes;
    }

    std::optional<std::vector<uint8_t>> ReadStream(std::u16string_view name) {
        std::optional<size_t> index = FindStream(name);
        if (!index) {
            Fail("no such stream");
            return std::nullopt;
        }
        return ReadStream(*index);
    }

    // The workbook stream of a spreadsheet file ("Workbook", or "Book" in older files).
    std::optional<std::vector<uint8_t>> ReadWorkbookStream() {
        if (FindStream(u"Workbook")) return ReadStream(u"Workbook");
        return ReadStream(u"Book");
    }

private:
    static constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
    static constexpr uint32_t kFreeSector = 0xFFFFFFFF;

    bool Fail(std::string reason) {
        error_ = std::move(reason);
        return false;
    }

    const uint8_t* SectorData(uint32_t sector) const {
        uint64_t offset = (uint64_t(sector) + 1) * sectorSize_;
        if (sector >= 0xFFFFFFFA || offset + sectorSize_ > file_.size()) return nullptr;
        return file_.data() + offset;
    }

    // Appends one sector of a chain. Writers often leave the file's last sector short; its missing
    // bytes read as zero. A sector that starts beyond the file fails.
    bool AppendSector(uint32_t sector, std::vector<uint8_t>& out) const {
        uint64_t offset = (uint64_t(sector) + 1) * sectorSize_;
        if (sector >= 0xFFFFFFFA || offset >= file_.size()) return false;
        size_t present = size_t(std::min<uint64_t>(sectorSize_, file_.size() - offset));
        out.insert(out.end(), file_.begin() + ptrdiff_t(offset), file_.begin() + ptrdiff_t(offset + present));
        out.resize(out.size() + (sectorSize_ - present), 0);
        return true;
    }

    // Appends the sectors of a chain from `table`; mini sectors come from the mini stream.
    bool ReadChain(const std::vector<uint32_t>& table, uint32_t start, size_t unit, bool mini,
                   std::vector<uint8_t>& out) {
        // A chain longer than the sectors that exist must revisit one.
        const size_t limit = std::min(table.size(), (mini ? miniStream_.size() : file_.size() + unit - 1) / unit);
        size_t steps = 0;
        for (uint32_t sector = start; sector != kEndOfChain; sector = table[sector]) {
            if (sector >= table.size()) return Fail("sector chain leaves the allocation table");
            if (++steps > limit) return Fail("sector chain loops");
            if (mini) {
                uint64_t offset = uint64_t(sector) * unit;
                if (offset + unit > miniStream_.size()) return Fail("mini sector outside the mini stream");
                out.insert(out.end(), miniStream_.begin() + ptrdiff_t(offset),
                           miniStream_.begin() + ptrdiff_t(offset + unit));
            } else {
                if (!AppendSector(sector, out)) return Fail("sector outside the file");
            }
        }
        return true;
    }

    std::span<const uint8_t> file_;
    size_t sectorSize_ = 512;
    size_t miniSectorSize_ = 64;
    uint32_t miniCutoff_ = 4096;
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::vector<uint8_t> miniStream_;
    std::vector<Entry> entries_;
    std::string error_;
};

}  // namespace tabulon::test
