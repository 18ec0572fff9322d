// The raw disk scan over images without a file system: workbooks found by content, window boundaries,
// short and tiny devices, progress and stop.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "raw_scan_support.h"
#include "support/fat_image_builder.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::CompoundHeaderSector;
using test::PutSector;
using test::RunRawScan;
using test::TempDir;
using test::WorkbookBofSector;

TEST(RawDiskScan, FindsEveryWorkbookOnZeroedSpaceOnce) {
    TempDir dir;
    // Places chosen around window boundaries (2,048 sectors), in the middle, and in the short last piece
    // of a device whose size is not a multiple of 128 sectors.
    struct Placement {
        uint32_t sector;
        int rows;
    };
    const std::vector<Placement> placements = {{0, 40}, {700, 300}, {2047, 60}, {4095, 500}, {6141, 20}, {9000, 80}};
    const uint64_t imageSectors = 12288 + 77;
    std::vector<uint8_t> image(imageSectors * 512, 0);
    std::vector<uint32_t> expected;
    int seed = 1;
    for (const auto& p : placements) {
        const std::string path = dir.File("w" + std::to_string(p.sector) + ".xls");
        ASSERT_TRUE(test::MakeWorkbook(path, p.rows, 6, 1, seed++)) << "python3-xlwt is needed";
        const auto bytes = test::ReadFileBytes(path);
        ASSERT_LE(p.sector * 512ull + bytes.size(), image.size());
        std::copy(bytes.begin(), bytes.end(), image.begin() + std::ptrdiff_t(p.sector) * 512);
        expected.push_back(p.sector);
    }
    // One more in the last 77 sectors, which no whole piece of 128 sectors covers.
    {
        const std::string path = dir.File("tail.xls");
        ASSERT_TRUE(test::MakeWorkbook(path, 5, 3, 1, 99));
        const auto bytes = test::ReadFileBytes(path);
        const uint64_t sectors = (bytes.size() + 511) / 512;
        ASSERT_LT(sectors, 77u);
        const uint32_t at = static_cast<uint32_t>(imageSectors - sectors);
        std::copy(bytes.begin(), bytes.end(), image.begin() + std::ptrdiff_t(at) * 512);
        expected.push_back(at);
    }
    ASSERT_TRUE(test::WriteFileBytes(dir.File("disk.img"), image));

    auto run = RunRawScan(dir.File("disk.img"));
    EXPECT_TRUE(run->result);
    EXPECT_EQ(run->workbooks, expected);  // in disk order, each once
    EXPECT_EQ(run->Summary().workbooksFound, expected.size());
    EXPECT_EQ(run->Summary().windowsRead, 7u);
    EXPECT_EQ(run->Summary().windowsSkipped, 0u);
    EXPECT_TRUE(run->raw->RootEntry()->children.empty());
    EXPECT_TRUE(run->raw->LostEntry()->children.empty());
}

TEST(RawDiskScan, HeaderAndWorkbookStartAcrossWindowBoundaries) {
    struct Case {
        uint32_t header;
        uint32_t bof;
        bool found;
    };
    const Case cases[] = {
        {0, 1, true},          // the first sector of the device
        {2047, 2048, true},    // header ends one window, BOF starts the next
        {2045, 2048, true},    // three sectors apart across the boundary
        {2047, 2050, true},    // BOF three sectors into the next window
        {2049, 2050, true},    // both in the next window, inside what the window before looked ahead at
        {2046, 2048, false},   // two sectors apart is not a workbook
        {4095, 4096, true},    // the second boundary
        {2046 + 2048, 2049 + 2048, true},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::vector<uint8_t> image(6144 * 512, 0);
        PutSector(image, c.header, CompoundHeaderSector());
        PutSector(image, c.bof, WorkbookBofSector());
        ASSERT_TRUE(test::WriteFileBytes(dir.File("b.img"), image));
        auto run = RunRawScan(dir.File("b.img"));
        const std::vector<uint32_t> expected = c.found ? std::vector<uint32_t> {c.header} : std::vector<uint32_t> {};
        EXPECT_EQ(run->workbooks, expected) << "header " << c.header << ", BOF " << c.bof;
    }
}

TEST(RawDiskScan, DeviceSizesAroundOnePiece) {
    struct Case {
        uint64_t sectors;
        uint64_t windowsRead;
        bool found;
    };
    // Fewer than 128 sectors are not read at all; from 128 on the whole device is scanned, and a
    // last window shorter than 2,048 sectors never repeats what the window before it held.
    const Case cases[] = {{1, 0, false}, {127, 0, false}, {128, 1, true}, {2048 + 300, 2, true}, {4096 + 1, 3, true}};
    TempDir dir;
    for (const auto& c : cases) {
        std::vector<uint8_t> image(c.sectors * 512, 0);
        if (c.sectors > 12) {
            PutSector(image, 10, CompoundHeaderSector());
            PutSector(image, 11, WorkbookBofSector());
        }
        ASSERT_TRUE(test::WriteFileBytes(dir.File("t.img"), image));
        auto run = RunRawScan(dir.File("t.img"));
        EXPECT_TRUE(run->result) << c.sectors;
        EXPECT_EQ(run->Summary().windowsRead, c.windowsRead) << c.sectors;
        EXPECT_EQ(run->workbooks, c.found ? std::vector<uint32_t> {10} : std::vector<uint32_t> {}) << c.sectors;
    }
}

TEST(RawDiskScan, ScanStartsAtThePartitionStart) {
    TempDir dir;
    std::vector<uint8_t> image(8192 * 512, 0);
    PutSector(image, 100, CompoundHeaderSector());
    PutSector(image, 101, WorkbookBofSector());
    PutSector(image, 3000, CompoundHeaderSector());
    PutSector(image, 3001, WorkbookBofSector());
    ASSERT_TRUE(test::WriteFileBytes(dir.File("p.img"), image));

    SourceDisk disk;
    disk.Device().SetPath(dir.File("p.img"));
    ASSERT_TRUE(disk.Device().Open());
    RawVolume raw;
    raw.SetOwner(&disk);
    raw.SetPartitionStart(2000);
    ContentFoundList::Global().Clear();
    ASSERT_TRUE(raw.Mount());
    // Device sectors, not sectors relative to the start of the scan.
    EXPECT_EQ(ContentFoundList::Global().Sectors(), std::vector<uint32_t> {3000});
    EXPECT_EQ(raw.LastScan().firstSector, 2000u);
    EXPECT_EQ(raw.LastScan().endSector, 8192u);

    // With the boot-copy flag set the device holds a boot sector: nothing is scanned.
    RawVolume skipped;
    skipped.SetOwner(&disk);
    skipped.SetBootCopyFlag(1);
    ContentFoundList::Global().Clear();
    EXPECT_TRUE(skipped.Mount());
    EXPECT_EQ(ContentFoundList::Global().Size(), 0u);
}

TEST(RawDiskScan, WithoutDeviceNothingRuns) {
    RawVolume raw;
    EXPECT_FALSE(raw.ScanRawDisk());
    SourceDisk disk;  // never opened
    raw.SetOwner(&disk);
    EXPECT_FALSE(raw.ScanRawDisk());
    EXPECT_EQ(disk.VolumeCount(), 0);
}

// A sparse image of `sectors` sectors holding `sectorsAt` at the given sectors.
std::string SparseImage(const TempDir& dir, const std::string& name, uint64_t sectors,
                        const std::vector<std::pair<uint64_t, test::SectorBytes>>& sectorsAt) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, sectors * 512);
    std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [at, bytes] : sectorsAt) {
        io.seekp(static_cast<std::streamoff>(at * 512));
        io.write(reinterpret_cast<const char*>(bytes.data()), 512);
    }
    return path;
}

TEST(RawDiskScan, SmallGroupsOfFoldersBecomeVolumesOnlyOnSmallDevices) {
    // Two folders of one file each, 4 KiB clusters, cluster 0 at sector 20000: a group of weight 2.
    auto folder = [](uint32_t own) {
        test::SectorBytes s {};
        const auto dot = test::FatImageBuilder::ShortSlot(".          ", 0x10, own, 0);
        const auto dotdot = test::FatImageBuilder::ShortSlot("..         ", 0x10, 0, 0);
        const auto file = test::FatImageBuilder::ShortSlot("BOOK    XLS", 0x20, own + 1, 5000);
        std::memcpy(s.data(), dot.data(), 32);
        std::memcpy(s.data() + 32, dotdot.data(), 32);
        std::memcpy(s.data() + 64, file.data(), 32);
        return s;
    };
    test::SectorBytes data;
    data.fill(0xA7);
    const std::vector<std::pair<uint64_t, test::SectorBytes>> content = {
        {20000 + 8 * 100, folder(100)}, {20000 + 8 * 101, data}, {20000 + 8 * 120, folder(120)}, {20000 + 8 * 121, data}};
    struct Case {
        uint64_t sectors;
        uint32_t minimumGroupSize;  // 0: the analysis setting (3)
        int volumes;
    };
    const Case cases[] = {
        {200000, 0, 1},          // below 600 MiB every group counts
        {kRawLargeDeviceSectors, 0, 0},  // from 600 MiB on, a group needs 3 files
        {kRawLargeDeviceSectors, 2, 1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = SparseImage(dir, "g.img", c.sectors, content);
        RawScanOptions options;
        options.minimumGroupSize = c.minimumGroupSize;
        auto run = RunRawScan(path, options);
        EXPECT_EQ(run->Summary().foldersFound, 2u) << c.sectors;
        ASSERT_EQ(run->disk->VolumeCount(), c.volumes) << c.sectors << " " << c.minimumGroupSize;
        if (c.volumes == 1) {
            VolumeAnalyser* volume = run->disk->Volume(0);
            EXPECT_EQ(volume->SectorsPerCluster(), 8u);
            EXPECT_EQ(volume->PartitionStart() + volume->DataStartSector(), 20000u + 16);  // cluster 2
            EXPECT_EQ(volume->RootEntry()->ChildCount(), 2);
        }
    }
}

TEST(RawDiskScan, StopEndsTheScanAfterTheCurrentWindowAndKeepsWhatWasFound) {
    TempDir dir;
    const std::string path = dir.File("big.img");
    const uint64_t sectors = 2ull * 1024 * 1024;  // 1 GiB, sparse
    {
        std::ofstream out(path, std::ios::binary);
        out.close();
        std::filesystem::resize_file(path, sectors * 512);
        std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
        io.seekp(5 * 512);
        io.write(reinterpret_cast<const char*>(CompoundHeaderSector().data()), 512);
        io.write(reinterpret_cast<const char*>(WorkbookBofSector().data()), 512);
    }
    ScanProgress progress;
    std::atomic<int32_t> maxSeen {0};
    std::thread stopper([&] {
        while (progress.progressPos.load() == 0) std::this_thread::yield();
        maxSeen = progress.progressMax.load();
        progress.stopRequested = 1;
    });
    auto run = RunRawScan(path, {}, &progress);
    stopper.join();

    EXPECT_FALSE(run->result);
    EXPECT_TRUE(run->Summary().stopped);
    EXPECT_GE(run->Summary().windowsRead, 1u);
    EXPECT_LT(run->Summary().windowsRead, sectors / 2048);
    EXPECT_EQ(run->workbooks, std::vector<uint32_t> {5});
    EXPECT_EQ(maxSeen.load(), int32_t(sectors));  // the maximum counts sectors
    EXPECT_EQ(progress.progressMax.load(), 0);    // reset at the end
    EXPECT_EQ(progress.progressPos.load(), 0);
}

}  // namespace
}  // namespace tabulon
