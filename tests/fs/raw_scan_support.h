#pragma once
// Shared by the raw scan tests: running the raw disk scan over an image file, finding entries in the
// trees it builds, and crafting sectors.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fs/content_signature_scan.h"
#include "fs/disk_node.h"
#include "fs/raw_volume.h"

namespace tabulon::test {

struct RawScanRun {
    std::unique_ptr<SourceDisk> disk = std::make_unique<SourceDisk>();
    std::unique_ptr<RawVolume> raw = std::make_unique<RawVolume>();
    bool result = false;
    std::vector<uint32_t> workbooks;  // the content-found list after the scan

    const RawScanSummary& Summary() const { return raw->LastScan(); }
};

// Opens `image`, runs the raw scan over it from sector 0 and keeps what it found.
inline std::unique_ptr<RawScanRun> RunRawScan(const std::string& image, RawScanOptions options = {},
                                              ScanProgress* progress = nullptr) {
    auto run = std::make_unique<RawScanRun>();
    run->disk->Device().SetPath(image);
    EXPECT_TRUE(run->disk->Device().Open()) << image;
    run->raw->SetOwner(run->disk.get());
    run->raw->SetPartitionStart(0);
    run->raw->SetScanOptions(options);
    run->raw->SetProgress(progress);
    ContentFoundList::Global().Clear();
    run->result = run->raw->ScanRawDisk();
    run->workbooks = ContentFoundList::Global().Sectors();
    return run;
}

// The first entry below `root` (depth first) for which `match` holds; null when none does.
inline const FileEntry* FindEntry(const FileEntry& root, const std::function<bool(const FileEntry&)>& match) {
    for (const auto& child : root.children) {
        if (match(child)) return &child;
        if (const FileEntry* found = FindEntry(child, match)) return found;
    }
    return nullptr;
}

inline const FileEntry* FindNamed(const FileEntry& root, std::u16string_view name) {
    return FindEntry(root, [name](const FileEntry& e) { return e.Name() == name; });
}

using SectorBytes = std::array<uint8_t, 512>;

// The first sector of a compound document, and the sector that starts its workbook stream.
inline SectorBytes CompoundHeaderSector() {
    SectorBytes s {};
    const uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(s.data(), signature, sizeof signature);
    return s;
}
inline SectorBytes WorkbookBofSector() {
    SectorBytes s {};
    const uint8_t bof[] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00};
    std::memcpy(s.data(), bof, sizeof bof);
    return s;
}

inline void PutSector(std::vector<uint8_t>& image, uint64_t sector, const SectorBytes& bytes) {
    if (image.size() < (sector + 1) * 512) image.resize((sector + 1) * 512);
    std::memcpy(image.data() + sector * 512, bytes.data(), 512);
}

}  // namespace tabulon::test
