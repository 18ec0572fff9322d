#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "common/little_endian.h"
#include "fs/boot_sector_kind.h"
#include "fs/cluster_chain.h"
#include "fs/file_entry.h"
#include "fs/name_pool.h"
#include "fs/partition_table.h"
#include "support/fat_image_builder.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using Sector = std::array<uint8_t, 512>;

Sector Fat16Sector() {
    Sector s {};
    StoreU16(&s[11], 512);
    s[13] = 4;
    s[16] = 2;
    StoreU16(&s[17], 512);
    StoreU16(&s[19], 60000);
    StoreU16(&s[22], 64);
    return s;
}

Sector Fat32Sector() {
    Sector s {};
    StoreU16(&s[11], 512);
    s[13] = 8;
    s[16] = 2;
    StoreU32(&s[32], 2000000);
    StoreU32(&s[36], 2000);
    return s;
}

TEST(ClassifyBootSector, TableOfCases) {
    struct Case {
        const char* what;
        Sector sector;
        BootSectorKind kind;
    };
    std::vector<Case> cases;
    cases.push_back({"FAT16", Fat16Sector(), BootSectorKind::Fat1216});
    cases.push_back({"FAT32", Fat32Sector(), BootSectorKind::Fat32});
    {
        Sector s = Fat16Sector();
        StoreU16(&s[19], 0);
        StoreU32(&s[32], 70000);
        cases.push_back({"FAT16 with 32-bit total", s, BootSectorKind::Fat1216});
    }
    {
        Sector s = Fat16Sector();
        StoreU16(&s[11], 4096);
        cases.push_back({"4096-byte sectors", s, BootSectorKind::None});
    }
    for (uint8_t spc : {0, 3, 128, 255}) {
        Sector s = Fat32Sector();
        s[13] = spc;
        cases.push_back({"bad cluster size", s, BootSectorKind::None});
    }
    {
        Sector s = Fat16Sector();
        StoreU16(&s[17], 0);
        StoreU32(&s[36], 50);
        StoreU32(&s[32], 70000);
        cases.push_back({"no root entries, FAT32 field set", s, BootSectorKind::Fat32});
    }
    {
        Sector s {};
        StoreU16(&s[11], 512);
        s[13] = 1;
        s[16] = 2;
        cases.push_back({"two FATs, all sizes zero", s, BootSectorKind::None});
    }
    {
        Sector s = Fat32Sector();
        s[16] = 1;
        cases.push_back({"one FAT", s, BootSectorKind::None});
    }
    {
        Sector s {};
        StoreU16(&s[11], 512);
        s[13] = 8;
        StoreU64(&s[40], 1000000);
        StoreU64(&s[48], 4);
        cases.push_back({"NTFS", s, BootSectorKind::Ntfs});
        StoreU32(&s[32], 1);
        cases.push_back({"NTFS with 32-bit total", s, BootSectorKind::None});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ClassifyBootSector(c.sector.data()), c.kind);
    }
}

TEST(ClassifyBootSector, RealImagesOfEachType) {
    auto fat12 = test::FatImageBuilder::Fat12();
    auto fat16 = test::FatImageBuilder::Fat16();
    auto fat32 = test::FatImageBuilder::Fat32();
    EXPECT_EQ(ClassifyBootSector(fat12.Sector(0)), BootSectorKind::Fat1216);
    EXPECT_EQ(ClassifyBootSector(fat16.Sector(0)), BootSectorKind::Fat1216);
    EXPECT_EQ(ClassifyBootSector(fat32.Sector(0)), BootSectorKind::Fat32);
}

TEST(PartitionTable, ReadsEntriesOnlyWithSignature) {
    Sector s {};
    s[446 + 16 + 4] = 0x0C;
    StoreU32(&s[446 + 16 + 8], 2048);
    StoreU32(&s[446 + 16 + 12], 100000);
    EXPECT_FALSE(ReadPartitionTable(s.data()));
    s[510] = 0x55;
    s[511] = 0xAA;
    auto table = ReadPartitionTable(s.data());
    ASSERT_TRUE(table);
    EXPECT_EQ((*table)[1].type, 0x0C);
    EXPECT_EQ((*table)[1].firstSector, 2048u);
    EXPECT_EQ((*table)[1].sectorCount, 100000u);
    for (uint8_t type : {4, 6, 11, 12, 14}) EXPECT_TRUE(IsFatPartitionType(type));
    for (uint8_t type : {0, 1, 5, 7, 0x0F, 0x83}) EXPECT_FALSE(IsFatPartitionType(type));
}

TEST(ClusterChain, GrowsWithoutMergingAndGuardsIndexes) {
    ClusterChain chain;
    for (uint32_t i = 0; i < 100; ++i) chain.Append(10 + i, 1);
    EXPECT_EQ(chain.Count(), 100);
    EXPECT_EQ(chain.At(0), (ClusterRun {10, 1}));
    EXPECT_EQ(chain.At(99), (ClusterRun {109, 1}));  // neighbours stay separate runs
    EXPECT_EQ(chain.At(-1), (ClusterRun {0, 0}));
    EXPECT_EQ(chain.At(100), (ClusterRun {0, 0}));
    EXPECT_EQ(chain.TotalCount(), 100u);
    EXPECT_TRUE(chain.Contains(50));
    EXPECT_FALSE(chain.Contains(9));
}

TEST(NamePool, NamesStayPutAcrossChunks) {
    NamePool pool;
    std::vector<std::pair<const char16_t*, std::u16string>> stored;
    for (int i = 0; i < 3000; ++i) {
        std::u16string name(static_cast<size_t>(20 + i % 200), static_cast<char16_t>(u'a' + i % 26));
        stored.emplace_back(pool.Add(name), name);
    }
    EXPECT_GT(pool.ChunkCount(), 1u);
    for (const auto& [pointer, name] : stored) EXPECT_EQ(std::u16string(pointer), name);
    const char16_t* huge = pool.Add(std::u16string(100000, u'x'));
    EXPECT_EQ(std::u16string(huge).size(), NamePool::kChunkUnits - 1);
    pool.Clear();
    EXPECT_EQ(pool.ChunkCount(), 0u);
}

TEST(FileEntryOrder, DirectoriesFirstThenNameThenLiveBeforeDeleted) {
    FileEntry root;
    auto add = [&](const char16_t* name, uint32_t flags) {
        FileEntry e;
        e.name = name;
        e.flags = flags;
        root.children.push_back(std::move(e));
    };
    add(u"beta.xls", FileEntryFlags::Deleted);
    add(u"Zeta", FileEntryFlags::Directory);
    add(u"BETA.xls", 0);
    add(u"alpha.xls", 0);
    add(u"_under.xls", 0);  // 0x5F sorts before the folded lower-case letters
    add(u"Alpha", FileEntryFlags::Directory);
    root.children[1].children.emplace_back();
    SortChildren(root);
    std::vector<std::u16string> names;
    for (const auto& c : root.children) names.emplace_back(c.Name());
    EXPECT_EQ(names, (std::vector<std::u16string> {u"Alpha", u"Zeta", u"_under.xls", u"alpha.xls", u"BETA.xls", u"beta.xls"}));
    EXPECT_FALSE(root.children[4].IsDeleted());
    EXPECT_TRUE(root.children[5].IsDeleted());
    // Parent links survive the move of records during the sort.
    EXPECT_EQ(root.children[1].children[0].parent, &root.children[1]);
    EXPECT_EQ(root.children[1].parent, &root);
}

}  // namespace
}  // namespace tabulon
