// Chains, end-of-chain values, deleted files by contiguity and file data, on byte-built volumes.
#include <gtest/gtest.h>

#include "common/little_endian.h"
#include "fs/allocation_table.h"
#include "fs/fat_volume.h"
#include "support/fat_image_builder.h"
#include "support/fat_volume_fixture.h"
#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::DirectorySlot;
using test::FatImageBuilder;

class ByteBuiltVolume : public ::testing::Test {
protected:
    // Saves the image and mounts it.
    test::OpenedVolume Mount(FatImageBuilder& builder) {
        const std::string path = temp.File("built" + std::to_string(counter++) + ".img");
        EXPECT_TRUE(builder.SaveTo(path));
        auto opened = test::OpenFatImage(path);
        EXPECT_TRUE(opened.mounted);
        return opened;
    }
    static uint32_t RootSector(FatImageBuilder& b) {
        return b.GetLayout().kind == FatImageBuilder::Kind::Fat32 ? b.ClusterSector(b.GetLayout().rootCluster)
                                                                  : b.RootDirSector();
    }
    static std::vector<uint32_t> Clusters(const ClusterChain& chain) {
        std::vector<uint32_t> out;
        for (const auto& run : chain.Runs()) out.push_back(run.start);
        return out;
    }
    test::TempDir temp;
    int counter = 0;
};

TEST_F(ByteBuiltVolume, EndOfChainValuesAndLoopsEndChains) {
    struct Case {
        const char* what;
        FatImageBuilder::Kind kind;
        uint32_t terminator;  // the value after the second cluster
        std::vector<uint32_t> expected;
    };
    const std::vector<Case> cases = {
        {"FAT16 0xFBFF ends a chain below 0xFFF0", FatImageBuilder::Kind::Fat16, 0xFBFF, {10, 11}},
        {"FAT16 0xFFF0 ends a chain", FatImageBuilder::Kind::Fat16, 0xFFF0, {10, 11}},
        {"FAT16 a loop back to the first cluster stops there", FatImageBuilder::Kind::Fat16, 10, {10, 11}},
        {"FAT32 top four bits set end a chain (not masked)", FatImageBuilder::Kind::Fat32, 0x10000012, {10, 11}},
        {"FAT32 0x0FFFFFF8 ends a chain", FatImageBuilder::Kind::Fat32, 0x0FFFFFF8, {10, 11}},
        {"FAT32 a loop to itself stops", FatImageBuilder::Kind::Fat32, 11, {10, 11}},
        {"FAT32 a cluster past the volume ends a chain", FatImageBuilder::Kind::Fat32, 0x0FFFFF00, {10, 11}},
        {"FAT12 0xFF0 ends a chain", FatImageBuilder::Kind::Fat12, 0xFF0, {10, 11}},
        {"FAT12 a plain next cluster continues", FatImageBuilder::Kind::Fat12, 12, {10, 11, 12}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FatImageBuilder b = c.kind == FatImageBuilder::Kind::Fat12   ? FatImageBuilder::Fat12()
                            : c.kind == FatImageBuilder::Kind::Fat16 ? FatImageBuilder::Fat16()
                                                                     : FatImageBuilder::Fat32();
        b.SetFatEntry(10, 11);
        b.SetFatEntry(11, c.terminator);
        if (c.kind == FatImageBuilder::Kind::Fat32) {
            // The builder masks FAT32 values; the top bits are written by hand into both copies.
            for (uint32_t copy = 0; copy < 2; ++copy)
                StoreU32(b.Sector(b.FirstFatSector() + copy * b.GetLayout().sectorsPerFat) + 4 * 11, c.terminator);
        }
        b.SetFatEntry(12, b.EndOfChain());
        b.WriteSlots(RootSector(b), 0, {FatImageBuilder::ShortSlot("FILE    BIN", 0x20, 10, 100)});
        auto opened = Mount(b);
        ASSERT_TRUE(opened.mounted);
        const FileEntry* file = test::FindEntry(*opened.volume->RootEntry(), "FILE.BIN");
        ASSERT_NE(file, nullptr);
        ClusterChain chain;
        EXPECT_TRUE(opened.volume->BuildChain(*file, chain, nullptr));
        EXPECT_EQ(Clusters(chain), c.expected);
    }
}

TEST_F(ByteBuiltVolume, TruncatedLiveChainFailsAndDeletedFilesAreContiguous) {
    FatImageBuilder b = FatImageBuilder::Fat16(65536, 8);  // 4,096-byte clusters
    b.Chain({20, 21});
    b.WriteSlots(b.RootDirSector(), 0,
                 {FatImageBuilder::ShortSlot("SHORT   BIN", 0x20, 20, 3 * 4096),
                  FatImageBuilder::ShortSlot("\xE5XACT   BIN", 0x20, 30, 4096),
                  FatImageBuilder::ShortSlot("\xE5" "DIR       ", 0x10, 40, 0)});
    auto opened = Mount(b);
    ASSERT_TRUE(opened.mounted);
    FatVolume& v = *opened.volume;
    const FileEntry* truncated = test::FindEntry(*v.RootEntry(), "SHORT.BIN");
    ASSERT_NE(truncated, nullptr);
    ClusterChain chain;
    EXPECT_FALSE(v.BuildChain(*truncated, chain, nullptr));
    uint64_t allocated = 0, size = 0;
    EXPECT_FALSE(v.GetSizes(*truncated, allocated, size));

    // A deleted file exactly one cluster long is taken as two clusters.
    const FileEntry* exact = test::FindEntry(*v.RootEntry(), " XACT.BIN", true);
    ASSERT_NE(exact, nullptr);
    ClusterChain deletedChain;
    ASSERT_TRUE(v.BuildChain(*exact, deletedChain, nullptr));
    EXPECT_EQ(Clusters(deletedChain), (std::vector<uint32_t> {30, 31}));
    ASSERT_TRUE(v.GetSizes(*exact, allocated, size));
    EXPECT_EQ(allocated, 8192u);
    EXPECT_EQ(size, 4096u);

    // A deleted folder has its first cluster only.
    const FileEntry* folder = test::FindEntry(*v.RootEntry(), " DIR", true);
    ASSERT_NE(folder, nullptr);
    ClusterChain folderChain;
    ASSERT_TRUE(v.BuildChain(*folder, folderChain, nullptr));
    EXPECT_EQ(Clusters(folderChain), (std::vector<uint32_t> {40}));
}

TEST_F(ByteBuiltVolume, ReadsFileDataFromAnOffsetAcrossFragments) {
    FatImageBuilder b = FatImageBuilder::Fat32(140000, 1);
    const std::vector<uint32_t> clusters = {7, 3, 9, 4};
    b.Chain(clusters);
    const auto data = test::PatternBytes(3 * 512 + 200, 11);
    b.WriteData(clusters, data);
    b.WriteSlots(RootSector(b), 0, {FatImageBuilder::ShortSlot("DATA    BIN", 0x20, 7, uint32_t(data.size()))});
    auto opened = Mount(b);
    ASSERT_TRUE(opened.mounted);
    FatVolume& v = *opened.volume;
    const FileEntry* file = test::FindEntry(*v.RootEntry(), "DATA.BIN");
    ASSERT_NE(file, nullptr);
    ClusterChain chain;
    ASSERT_TRUE(v.BuildChain(*file, chain, nullptr));
    EXPECT_EQ(Clusters(chain), clusters);
    std::vector<uint8_t> part(900);
    ASSERT_TRUE(v.ReadFileData(*file, part.data(), part.size(), 300, 900, chain));
    EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin() + 300));
    // Past the chain, and larger than the buffer: refused.
    EXPECT_FALSE(v.ReadFileData(*file, part.data(), part.size(), 4 * 512 - 100, 200, chain));
    EXPECT_FALSE(v.ReadFileData(*file, part.data(), 100, 0, 200, chain));
    std::vector<uint8_t> whole;
    uint64_t allocated = 0, size = 0;
    ASSERT_TRUE(v.ReadWholeFile(*file, whole, allocated, size));
    EXPECT_EQ(allocated, 4u * 512);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), whole.begin()));

    // Arithmetic of clusters and sectors.
    EXPECT_EQ(v.ClusterToSector(2), v.DataStartSector());
    EXPECT_EQ(v.ClusterToSector(9), v.DataStartSector() + 7);
    EXPECT_EQ(v.ClusterToSector(0), v.DataStartSector());
    EXPECT_EQ(v.SectorToCluster(v.DataStartSector() + 7), 9u);
    EXPECT_EQ(v.SectorToCluster(0), 2u);
    uint32_t start = 0;
    ASSERT_TRUE(v.GetExtent(*file, allocated, start));
    EXPECT_EQ(start, v.ClusterToSector(7));
    EXPECT_EQ(allocated, 4u * 512);
}

TEST_F(ByteBuiltVolume, ContentFoundEntriesReadTheirOwnSectorRuns) {
    FatImageBuilder b = FatImageBuilder::Fat16(65536, 4);
    const auto first = test::PatternBytes(1024, 51);
    const auto second = test::PatternBytes(512, 52);
    std::copy(first.begin(), first.end(), b.Sector(3000));
    std::copy(second.begin(), second.end(), b.Sector(5000));
    auto opened = Mount(b);
    ASSERT_TRUE(opened.mounted);
    FileEntry found;
    found.flags = FileEntryFlags::ContentFound;
    found.start = 3000;
    found.size = 1400;
    found.runs = std::make_unique<ClusterChain>();
    found.runs->Append(3000, 2);
    found.runs->Append(5000, 1);
    ClusterChain chain;
    ASSERT_TRUE(opened.volume->BuildChain(found, chain, nullptr));
    EXPECT_EQ(chain.Runs(), found.runs->Runs());
    std::vector<uint8_t> out(600);
    ASSERT_TRUE(opened.volume->ReadFileData(found, out.data(), out.size(), 800, 600, chain));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 224, first.begin() + 800));
    EXPECT_TRUE(std::equal(out.begin() + 224, out.end(), second.begin()));
    uint64_t allocated = 0, size = 0;
    ASSERT_TRUE(opened.volume->GetSizes(found, allocated, size));
    EXPECT_EQ(allocated, 1536u);
    EXPECT_EQ(size, 1400u);
    // Past the last run: not all bytes can be given.
    EXPECT_FALSE(opened.volume->ReadFileData(found, out.data(), out.size(), 1400, 300, chain));
}

TEST_F(ByteBuiltVolume, Fat16TakesTheSixteenBitTotalWhenTheLargeFieldIsZero) {
    FatImageBuilder b = FatImageBuilder::Fat16(40000, 2);
    ASSERT_EQ(LoadU32(b.Sector(0) + 32), 0u);
    ASSERT_EQ(LoadU16(b.Sector(0) + 19), 40000u);
    auto opened = Mount(b);
    ASSERT_TRUE(opened.mounted);
    EXPECT_EQ(opened.volume->GetFatType(), FatType::Fat16);
    EXPECT_EQ(opened.volume->Geometry().clusterCount, b.ClusterCount());
}

TEST_F(ByteBuiltVolume, Fat12EntriesDecodeThroughTheWindowAcrossSectorEdges) {
    // Cluster 341's 12-bit entry straddles the first two FAT sectors (bytes 511 and 512).
    FatImageBuilder b = FatImageBuilder::Fat12(2880, 1);
    b.SetFatEntry(340, 0xABC);
    b.SetFatEntry(341, 0x123);
    b.SetFatEntry(342, 0xFF7);
    auto opened = Mount(b);
    ASSERT_TRUE(opened.mounted);
    AllocationTable& table = opened.volume->Table();
    ASSERT_FALSE(table.Loaded());
    EXPECT_EQ(table.NextCluster(340), 0xABCu);
    EXPECT_EQ(table.NextCluster(341), 0x123u);
    EXPECT_EQ(table.NextCluster(342), 0xFF7u);
    ASSERT_TRUE(table.LoadWholeTable());
    EXPECT_EQ(table.NextCluster(341), 0x123u);
    EXPECT_EQ(table.NextCluster(100000), 0u);  // beyond the table
    table.ReleaseWholeTable();
}

}  // namespace
}  // namespace tabulon
