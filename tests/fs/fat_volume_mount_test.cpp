// Mounting real images made with mkfs.fat and mtools: geometry, tree, and file bytes read back exactly.
#include <gtest/gtest.h>

#include "common/little_endian.h"
#include "fs/fat_volume.h"
#include "support/fat_volume_fixture.h"
#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::FindEntry;
using test::MtoolsImage;
using test::PatternBytes;

struct FormatCase {
    const char* name;
    int fatBits;
    uint32_t sizeKiB;
    int sectorsPerCluster;
    FatType expected;
};

class FatImageMount : public ::testing::TestWithParam<FormatCase> {
protected:
    void SetUp() override {
        if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "mkfs.fat and mtools are not installed";
    }
    test::TempDir temp;
};

TEST_P(FatImageMount, ListsLiveAndDeletedFilesAndReadsTheirBytes) {
    const FormatCase& c = GetParam();
    MtoolsImage image(temp.File("volume.img"));
    const auto format = MtoolsImage::Format::Of(c.fatBits, c.sizeKiB, c.sectorsPerCluster);
    ASSERT_TRUE(image.Create(format)) << image.LastOutput();
    const uint32_t clusterBytes = 512u * c.sectorsPerCluster;

    // Sizes around cluster boundaries, an empty file, and a file fragmented around a deleted one.
    const auto small = PatternBytes(100, 1);
    const auto exact = PatternBytes(clusterBytes * 3, 2);
    // gap.bin's slot and clusters are reused by fragmented.bin, which mtools writes into the hole first.
    const auto gap = PatternBytes(clusterBytes * 2 + 7, 3);
    const auto after = PatternBytes(clusterBytes + 1, 4);
    const auto fragmented = PatternBytes(clusterBytes * 5 + 33, 5);
    const auto nested = PatternBytes(clusterBytes * 2 - 1, 6);
    const auto doomed = PatternBytes(clusterBytes * 2 + 300, 7);
    ASSERT_TRUE(image.WriteFile("/small.bin", small)) << image.LastOutput();
    ASSERT_TRUE(image.WriteFile("/exact.bin", exact)) << image.LastOutput();
    ASSERT_TRUE(image.WriteFile("/gap.bin", gap)) << image.LastOutput();
    ASSERT_TRUE(image.WriteFile("/after.bin", after)) << image.LastOutput();
    ASSERT_TRUE(image.WriteFile("/empty.txt", {})) << image.LastOutput();
    ASSERT_TRUE(image.DeleteFile("/gap.bin")) << image.LastOutput();
    if (c.fatBits == 32) {
        // FAT32 writers continue after the last allocation (the FSInfo hint); pointing the hint back at
        // cluster 2 makes the next file fill the hole first, as a stick that wrapped around does.
        std::vector<uint8_t> hint(4);
        StoreU32(hint.data(), 2);
        ASSERT_TRUE(image.Patch(512 + 492, hint));
    }
    ASSERT_TRUE(image.WriteFile("/fragmented.bin", fragmented)) << image.LastOutput();
    ASSERT_TRUE(image.MakeDirectory("/Reports")) << image.LastOutput();
    ASSERT_TRUE(image.MakeDirectory("/Reports/2026")) << image.LastOutput();
    ASSERT_TRUE(image.WriteFile("/Reports/2026/Quarterly report with a long name.dat", nested));
    ASSERT_TRUE(image.MakeDirectory("/财务"));
    ASSERT_TRUE(image.WriteFile("/财务/报表 2026.xls", small)) << image.LastOutput();
    ASSERT_TRUE(image.WriteFile("/Reports/Doomed long-named file.bin", doomed)) << image.LastOutput();
    ASSERT_TRUE(image.DeleteFile("/Reports/Doomed long-named file.bin")) << image.LastOutput();

    auto opened = test::OpenFatImage(image.Path());
    ASSERT_TRUE(opened.mounted);
    FatVolume& volume = *opened.volume;
    EXPECT_EQ(volume.GetFatType(), c.expected);
    EXPECT_EQ(volume.SectorsPerCluster(), uint32_t(c.sectorsPerCluster));
    EXPECT_EQ(volume.ClusterBytes(), clusterBytes);
    EXPECT_EQ(volume.DisplayName(), c.expected == FatType::Fat12   ? u"FAT12"
                                    : c.expected == FatType::Fat16 ? u"FAT16"
                                                                   : u"FAT32");
    const FileEntry& root = *volume.RootEntry();

    struct Expect {
        const char* path;
        const std::vector<uint8_t>* bytes;
        bool deleted;
    };
    const Expect expects[] = {
        {"/small.bin", &small, false},
        {"/exact.bin", &exact, false},
        {"/after.bin", &after, false},
        {"/fragmented.bin", &fragmented, false},
        {"/Reports/2026/Quarterly report with a long name.dat", &nested, false},
        {"/财务/报表 2026.xls", &small, false},
        // Deleted files are read by contiguity: right as long as nothing took their clusters.
        {"/Reports/Doomed long-named file.bin", &doomed, true},
    };
    for (const auto& e : expects) {
        SCOPED_TRACE(e.path);
        const FileEntry* entry = FindEntry(root, e.path, e.deleted);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->size, e.bytes->size());
        EXPECT_EQ(entry->Has(FileEntryFlags::OwnDeleted), e.deleted);
        std::vector<uint8_t> data;
        ASSERT_TRUE(test::ReadEntry(volume, *entry, data));
        EXPECT_TRUE(data == *e.bytes);
    }

    const FileEntry* empty = FindEntry(root, "/empty.txt");
    ASSERT_NE(empty, nullptr);
    std::vector<uint8_t> none;
    EXPECT_TRUE(test::ReadEntry(volume, *empty, none));

    // The fragmented file really is in two pieces, and its chain says so.
    const FileEntry* frag = FindEntry(root, "/fragmented.bin");
    ClusterChain chain;
    ASSERT_TRUE(volume.BuildChain(*frag, chain, nullptr));
    EXPECT_EQ(chain.Count(), 6);
    bool contiguous = true;
    for (int32_t i = 1; i < chain.Count(); ++i) contiguous = contiguous && chain.At(i).start == chain.At(i - 1).start + 1;
    EXPECT_FALSE(contiguous);

    // Folders come first and carry their children; deleted entries keep their place.
    ASSERT_FALSE(root.children.empty());
    EXPECT_TRUE(root.children.front().IsDirectory());
    const FileEntry* reports = FindEntry(root, "/Reports");
    ASSERT_NE(reports, nullptr);
    EXPECT_TRUE(reports->Has(FileEntryFlags::Loaded));
    EXPECT_EQ(reports->children.front().parent, reports);
}

INSTANTIATE_TEST_SUITE_P(Formats, FatImageMount,
                         ::testing::Values(FormatCase {"Fat12", 12, 1440, 1, FatType::Fat12},
                                           FormatCase {"Fat12TwoSectorClusters", 12, 4096, 2, FatType::Fat12},
                                           FormatCase {"Fat16", 16, 32768, 4, FatType::Fat16},
                                           FormatCase {"Fat32", 32, 65536, 1, FatType::Fat32},
                                           FormatCase {"Fat32FourKiB", 32, 270000, 8, FatType::Fat32}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace tabulon
