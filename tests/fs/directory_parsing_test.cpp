// Directory slots to entries: names, deletion marks, times, duplicates, loops and depth.
#include <gtest/gtest.h>

#include "common/little_endian.h"
#include "fs/code_page.h"
#include "fs/directory_parser.h"
#include "fs/directory_slot.h"
#include "fs/fat_volume.h"
#include "support/fat_image_builder.h"
#include "support/fat_volume_fixture.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::DirectorySlot;
using test::FatImageBuilder;

std::vector<uint8_t> Flatten(const std::vector<DirectorySlot>& slots) {
    std::vector<uint8_t> bytes;
    for (const auto& s : slots) bytes.insert(bytes.end(), s.begin(), s.end());
    return bytes;
}

std::vector<DirectorySlot> Concat(std::vector<std::vector<DirectorySlot>> parts) {
    std::vector<DirectorySlot> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

FileEntry Parse(const std::vector<DirectorySlot>& slots, FatType type = FatType::Fat16) {
    FileEntry parent;
    parent.flags = FileEntryFlags::Directory;
    std::vector<FileEntry> scratch;
    const auto bytes = Flatten(slots);
    EXPECT_TRUE(ParseDirectorySlots(parent, bytes.data(), slots.size(), type, scratch));
    return parent;
}

std::vector<std::string> Names(const FileEntry& parent) {
    std::vector<std::string> names;
    for (const auto& c : parent.children) names.push_back(test::Utf8Name(c));
    return names;
}

TEST(DirectoryParsing, NamesDeletionMarksAndSkippedSlots) {
    auto longName = FatImageBuilder::NamedSlots(u"A rather long workbook name 2026.xls",
                                                FatImageBuilder::ShortSlot("ARATHE~1XLS", 0x20, 5, 10));
    ASSERT_EQ(longName.size(), 4u);  // three long-name slots, the first with 0x43
    DirectorySlot lower = FatImageBuilder::ShortSlot("BUDGET  XLS", 0x20, 6, 10);
    lower[12] = 0x08 | 0x10;  // NT case bits: both parts in lower case
    DirectorySlot deleted = FatImageBuilder::ShortSlot("\xE5" "ATA    BIN", 0x20, 7, 10);
    // A one-letter name that the deletion mark replaced keeps its space, so it still has an extension.
    DirectorySlot deletedOneLetter = FatImageBuilder::ShortSlot("\xE5" "       XLS", 0x20, 11, 10);
    DirectorySlot leadingZero = FatImageBuilder::ShortSlot(std::string_view("\0ERO    TXT", 11), 0x20, 8, 10);
    DirectorySlot label = FatImageBuilder::ShortSlot("MYLABEL    ", 0x08, 0, 0);
    DirectorySlot noExtension = FatImageBuilder::ShortSlot("README     ", 0x20, 9, 10);
    auto slots = Concat({{label, FatImageBuilder::DotSlot(false, 3), FatImageBuilder::DotSlot(true, 0)},
                         longName,
                         {lower, deleted, leadingZero, noExtension, deletedOneLetter}});
    const FileEntry parent = Parse(slots);
    EXPECT_EQ(Names(parent), (std::vector<std::string> {" .XLS", " ATA.BIN", " ERO.TXT",
                                                         "A rather long workbook name 2026.xls", "budget.xls", "README"}));
    const FileEntry& del = parent.children[1];
    EXPECT_TRUE(del.Has(FileEntryFlags::Deleted));
    EXPECT_TRUE(del.Has(FileEntryFlags::OwnDeleted));
    EXPECT_FALSE(parent.children[2].IsDeleted());
    EXPECT_EQ(parent.children[3].start, 5u);
}

TEST(DirectoryParsing, LeadingByte05IsALiveNameStartingWithE5) {
    // "濠" in GBK is E5 A9; a live entry stores it as 05 A9.
    auto slots = std::vector<DirectorySlot> {FatImageBuilder::ShortSlot("\x05\xA9      XLS", 0x20, 3, 1)};
    for (bool lost : {false, true}) {
        FileEntry parent;
        parent.flags = FileEntryFlags::Directory;
        if (lost) {
            const auto bytes = Flatten(slots);
            ASSERT_EQ(ParseLostFolderSlots(parent, bytes.data(), 1, FatType::Fat32), 1u);
        } else {
            parent = Parse(slots);
        }
        ASSERT_EQ(parent.children.size(), 1u);
        EXPECT_EQ(test::Utf8Name(parent.children[0]), "濠.XLS");
        EXPECT_FALSE(parent.children[0].IsDeleted());
    }
}

TEST(DirectoryParsing, LongNameSlotWith0x43SkipsTheNextTwoSlots) {
    // A dangling 0x43 slot in front of two ordinary entries: both are skipped with it.
    DirectorySlot dangling {};
    dangling[0] = 0x43;
    dangling[11] = 0x0F;
    auto slots = std::vector<DirectorySlot> {dangling, FatImageBuilder::ShortSlot("SKIPPED1BIN", 0x20, 3, 1),
                                             FatImageBuilder::ShortSlot("SKIPPED2BIN", 0x20, 4, 1),
                                             FatImageBuilder::ShortSlot("KEPT    BIN", 0x20, 5, 1)};
    EXPECT_EQ(Names(Parse(slots)), (std::vector<std::string> {"KEPT.BIN"}));
}

TEST(DirectoryParsing, ZeroSlotEndsTheDirectoryAndTimesConvert) {
    const uint16_t time = (13 << 11) | (45 << 5) | (30 / 2);
    auto slots = std::vector<DirectorySlot> {FatImageBuilder::ShortSlot("TIMED   BIN", 0x20, 3, 1, time, 0x5A21),
                                             DirectorySlot {}, FatImageBuilder::ShortSlot("AFTER   BIN", 0x20, 4, 1)};
    const FileEntry parent = Parse(slots);
    ASSERT_EQ(Names(parent), (std::vector<std::string> {"TIMED.BIN"}));
    const uint32_t t = parent.children[0].creationTime;
    EXPECT_EQ(t >> 12, 13u);
    EXPECT_EQ((t >> 6) & 0x3F, 45u);
    EXPECT_EQ(t & 0x3F, 30u);
    EXPECT_EQ(parent.children[0].modificationTime, t);
    EXPECT_EQ(parent.children[0].modificationDate, 0x5A21);
}

TEST(DirectoryParsing, Fat32FirstClusterUsesTheHighWord) {
    auto slots = std::vector<DirectorySlot> {FatImageBuilder::ShortSlot("BIG     BIN", 0x20, 0x00031234, 1)};
    EXPECT_EQ(Parse(slots, FatType::Fat32).children[0].start, 0x00031234u);
    EXPECT_EQ(Parse(slots, FatType::Fat16).children[0].start, 0x1234u);
}

TEST(DirectoryParsing, NewestNonEmptyDeletedDuplicateComesFirst) {
    // Deleted copies of one name: an old one, an empty newer one, and the newest non-empty one.
    auto make = [](uint16_t date, uint32_t size, uint32_t cluster) {
        return FatImageBuilder::ShortSlot("\xE5" "EPORT  XLS", 0x20, cluster, size, 0x6000, date);
    };
    auto slots = std::vector<DirectorySlot> {make(0x5000, 100, 3), make(0x5A00, 0, 4), make(0x5800, 200, 5),
                                             FatImageBuilder::ShortSlot("REPORT  XLS", 0x20, 6, 50)};
    const FileEntry parent = Parse(slots);
    ASSERT_EQ(parent.children.size(), 4u);
    EXPECT_EQ(test::Utf8Name(parent.children[0]), " EPORT.XLS");
    EXPECT_EQ(parent.children[0].start, 5u);  // newest of the non-empty deleted copies
    EXPECT_EQ(test::Utf8Name(parent.children[3]), "REPORT.XLS");
}

TEST(DirectoryParsing, ShortNamesConvertThroughTheCodePage) {
    ASSERT_EQ(ShortNameCodePage(), "CP936");
    // "报表" in GBK: B1 A8 B1 ED.
    auto slots = std::vector<DirectorySlot> {FatImageBuilder::ShortSlot("\xB1\xA8\xB1\xED    XLS", 0x20, 3, 1),
                                             FatImageBuilder::ShortSlot("\xFF" "A      XLS", 0x20, 4, 1)};
    const FileEntry parent = Parse(slots);
    EXPECT_EQ(Names(parent)[0], "报表.XLS");
    EXPECT_EQ(Names(parent)[1], "\xEF\xBF\xBD" "A.XLS");  // an invalid byte becomes U+FFFD
    ASSERT_TRUE(SetShortNameCodePage("1252"));
    EXPECT_EQ(Names(Parse(slots))[0], "±¨±í.XLS");
    EXPECT_FALSE(SetShortNameCodePage("NO-SUCH-CODEPAGE"));
    EXPECT_EQ(ShortNameCodePage(), "CP1252");
    ASSERT_TRUE(SetShortNameCodePage(kDefaultShortNameCodePage));
}

class DirectoryLoading : public ::testing::Test {
protected:
    test::TempDir temp;
};

TEST_F(DirectoryLoading, LoopsAndStrayClustersAreNotDescended) {
    FatImageBuilder b = FatImageBuilder::Fat16(65536, 1);
    // SUB (cluster 3) holds a folder that names SUB itself and one that names the root's other child
    // LOOP (cluster 4), which names SUB again; STRAY's cluster holds no "." and ".." slots.
    b.Chain({3});
    b.Chain({4});
    b.Chain({5});
    b.WriteSlots(b.RootDirSector(), 0,
                 {FatImageBuilder::ShortSlot("SUB        ", 0x10, 3, 0), FatImageBuilder::ShortSlot("STRAY      ", 0x10, 5, 0)});
    b.WriteSlots(b.ClusterSector(3), 0,
                 {FatImageBuilder::DotSlot(false, 3), FatImageBuilder::DotSlot(true, 0),
                  FatImageBuilder::ShortSlot("SELF       ", 0x10, 3, 0), FatImageBuilder::ShortSlot("LOOP       ", 0x10, 4, 0),
                  FatImageBuilder::ShortSlot("FILE    TXT", 0x20, 0, 0)});
    b.WriteSlots(b.ClusterSector(4), 0,
                 {FatImageBuilder::DotSlot(false, 4), FatImageBuilder::DotSlot(true, 3),
                  FatImageBuilder::ShortSlot("BACK       ", 0x10, 3, 0)});
    b.WriteSlots(b.ClusterSector(5), 0, {FatImageBuilder::ShortSlot("GARBAGE TXT", 0x20, 0, 0)});
    ASSERT_TRUE(b.SaveTo(temp.File("loop.img")));
    auto opened = test::OpenFatImage(temp.File("loop.img"));
    ASSERT_TRUE(opened.mounted);
    const FileEntry& root = *opened.volume->RootEntry();
    const FileEntry* self = test::FindEntry(root, "SUB/SELF");
    ASSERT_NE(self, nullptr);
    EXPECT_TRUE(self->Has(FileEntryFlags::Loaded));
    EXPECT_TRUE(self->children.empty());
    const FileEntry* back = test::FindEntry(root, "SUB/LOOP/BACK");
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->children.empty());
    const FileEntry* stray = test::FindEntry(root, "STRAY");
    ASSERT_NE(stray, nullptr);
    EXPECT_TRUE(stray->children.empty());
}

TEST_F(DirectoryLoading, DeepNestingStopsAtTheDepthBound) {
    // 400 folders, each inside the one before: loading stops at the bound instead of running out of stack.
    FatImageBuilder b = FatImageBuilder::Fat16(65536, 1);
    const uint32_t levels = 400;
    b.WriteSlots(b.RootDirSector(), 0, {FatImageBuilder::ShortSlot("D          ", 0x10, 3, 0)});
    for (uint32_t i = 0; i < levels; ++i) {
        const uint32_t cluster = 3 + i;
        b.Chain({cluster});
        b.WriteSlots(b.ClusterSector(cluster), 0,
                     {FatImageBuilder::DotSlot(false, cluster), FatImageBuilder::DotSlot(true, i == 0 ? 0 : cluster - 1),
                      FatImageBuilder::ShortSlot("D          ", 0x10, cluster + 1, 0)});
    }
    ASSERT_TRUE(b.SaveTo(temp.File("deep.img")));
    auto opened = test::OpenFatImage(temp.File("deep.img"));
    ASSERT_TRUE(opened.mounted);
    int depth = 0;
    const FileEntry* e = opened.volume->RootEntry();
    while (!e->children.empty()) {
        e = &e->children.front();
        ++depth;
    }
    EXPECT_GE(depth, DirectoryTree::kMaxDirectoryDepth);
    EXPECT_LE(depth, DirectoryTree::kMaxDirectoryDepth + 1);
}

TEST_F(DirectoryLoading, HiddenSystemFoldersMoveBehindTheOthers) {
    FatImageBuilder b = FatImageBuilder::Fat16(65536, 1);
    b.WriteSlots(b.RootDirSector(), 0,
                 {FatImageBuilder::ShortSlot("AAA        ", 0x16, 0, 0), FatImageBuilder::ShortSlot("BBB        ", 0x10, 0, 0),
                  FatImageBuilder::ShortSlot("CCC        ", 0x16, 0, 0), FatImageBuilder::ShortSlot("DDD        ", 0x10, 0, 0),
                  FatImageBuilder::ShortSlot("EEE     TXT", 0x20, 0, 0)});
    ASSERT_TRUE(b.SaveTo(temp.File("system.img")));
    auto opened = test::OpenFatImage(temp.File("system.img"));
    ASSERT_TRUE(opened.mounted);
    EXPECT_EQ(Names(*opened.volume->RootEntry()), (std::vector<std::string> {"BBB", "DDD", "AAA", "CCC", "EEE.TXT"}));
}

}  // namespace
}  // namespace tabulon

namespace tabulon {
namespace {

TEST(LostFolderParsing, LongNamesFollowSequenceNumbersAndDeletedSlots) {
    // The short name starts with an even byte: the sequence check applies to live entries.
    const auto shortSlot = FatImageBuilder::ShortSlot("REPORT~1XLS", 0x20, 5, 10);
    auto intact = FatImageBuilder::NamedSlots(u"Quarterly report 2026.xls", shortSlot);
    ASSERT_EQ(intact.size(), 3u);
    // Live entry whose slot next to it carries sequence 2 instead of 1: the walk stops before it, and
    // the 8.3 name is used.
    auto broken = intact;
    broken[1][0] = 0x02;
    // Deleted entry with deleted long-name slots: every slot is used.
    auto deleted = intact;
    for (auto& slot : deleted) slot[0] = 0xE5;
    deleted[2][0] = 0xE5;
    // A live directory entry with the directory attribute, and a deleted one whose size is not a
    // cluster-sized value (a file).
    auto folder = FatImageBuilder::ShortSlot("FOLDER     ", 0x10, 6, 0);
    auto notFolder = FatImageBuilder::ShortSlot("\xE5" "2ILE      ", 0x10, 7, 1234);

    struct Case {
        const char* what;
        std::vector<DirectorySlot> slots;
        std::string name;
        bool directory;
    };
    const std::vector<Case> cases = {
        {"intact", intact, "Quarterly report 2026.xls", false},
        {"broken sequence", broken, "REPORT~1.XLS", false},
        {"deleted", deleted, "Quarterly report 2026.xls", false},
        {"folder without extension", {folder}, "FOLDER", true},
        {"deleted folder slot with a file size", {notFolder}, "\xEF\xBF\xBD" "2ILE", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileEntry record;
        record.flags = FileEntryFlags::Deleted | FileEntryFlags::Directory;
        const auto bytes = Flatten(c.slots);
        ASSERT_EQ(ParseLostFolderSlots(record, bytes.data(), c.slots.size(), FatType::Fat32), 1u);
        EXPECT_EQ(test::Utf8Name(record.children[0]), c.name);
        EXPECT_EQ(record.children[0].IsDirectory(), c.directory);
        EXPECT_TRUE(record.children[0].IsDeleted());  // everything in a lost folder is deleted
    }
}

}  // namespace
}  // namespace tabulon
