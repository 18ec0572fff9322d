// Lost folders after a quick format, deleted folders, first-cluster recovery and the content scan.
#include <gtest/gtest.h>

#include <cstring>

#include "common/little_endian.h"
#include "fs/content_signature_scan.h"
#include "fs/fat_volume.h"
#include "fs/lost_folder_merge.h"
#include "fs/name_pool.h"
#include "support/fat_image_builder.h"
#include "support/fat_volume_fixture.h"
#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::FatImageBuilder;
using test::FindEntry;
using test::MtoolsImage;
using test::PatternBytes;

class LostFolders : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "mkfs.fat and mtools are not installed";
        ContentFoundList::Global().Clear();
    }
    void TearDown() override { ContentFoundList::Global().Clear(); }
    test::TempDir temp;
};

TEST_F(LostFolders, QuickFormatLeavesFoldersThatTheScanFindsAndNests) {
    for (int fatBits : {16, 32}) {
        SCOPED_TRACE(fatBits);
        MtoolsImage image(temp.File("formatted" + std::to_string(fatBits) + ".img"));
        const auto format = MtoolsImage::Format::Of(fatBits, fatBits == 16 ? 32768 : 65536, fatBits == 16 ? 4 : 1);
        ASSERT_TRUE(image.Create(format)) << image.LastOutput();
        const auto budget = PatternBytes(5000, 21);
        const auto notes = PatternBytes(700, 22);
        const auto old = PatternBytes(3000, 23);
        ASSERT_TRUE(image.MakeDirectory("/Projects"));
        ASSERT_TRUE(image.MakeDirectory("/Projects/Year 2026"));
        ASSERT_TRUE(image.WriteFile("/Projects/Year 2026/Budget plan.xls", budget)) << image.LastOutput();
        ASSERT_TRUE(image.WriteFile("/Projects/notes.txt", notes)) << image.LastOutput();
        ASSERT_TRUE(image.MakeDirectory("/Archive"));
        ASSERT_TRUE(image.WriteFile("/Archive/OLD.BIN", old)) << image.LastOutput();
        ASSERT_TRUE(image.Reformat(format)) << image.LastOutput();

        auto opened = test::OpenFatImage(image.Path());
        ASSERT_TRUE(opened.mounted);
        FatVolume& volume = *opened.volume;
        EXPECT_TRUE(volume.RootEntry()->children.empty());
        ScanProgress progress;
        volume.SetProgress(&progress);
        volume.ScanLostFolders();
        EXPECT_EQ(progress.progressMax.load(), 0);  // reset at the end

        // Two folders remain at the top: Projects (with "Year 2026" nested back into it) and Archive.
        const FileEntry& lost = *volume.LostEntry();
        ASSERT_EQ(lost.children.size(), 2u);
        const FileEntry* projects = nullptr;
        const FileEntry* archive = nullptr;
        for (const auto& record : lost.children) {
            EXPECT_EQ(test::Utf8Name(record), "Folder " + std::to_string(record.start));
            EXPECT_TRUE(record.Has(FileEntryFlags::Deleted) && record.IsDirectory());
            EXPECT_EQ(record.ownCluster, record.start);
            EXPECT_EQ(record.foundSector, uint64_t(volume.ClusterToSector(record.start)));
            EXPECT_EQ(record.parent, &lost);
            if (FindEntry(record, "notes.txt", true)) projects = &record;
            if (FindEntry(record, "OLD.BIN", true)) archive = &record;
        }
        ASSERT_NE(projects, nullptr);
        ASSERT_NE(archive, nullptr);
        const FileEntry* file = FindEntry(*projects, "Year 2026/Budget plan.xls", true);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->parent->parent, projects);
        std::vector<uint8_t> data;
        ASSERT_TRUE(test::ReadEntry(volume, *file, data));
        EXPECT_TRUE(data == budget);
        ASSERT_TRUE(test::ReadEntry(volume, *FindEntry(*archive, "OLD.BIN", true), data));
        EXPECT_TRUE(data == old);
    }
}

TEST_F(LostFolders, LiveFoldersAreNotLostButDeletedOnesAre) {
    MtoolsImage image(temp.File("deltree.img"));
    const auto format = MtoolsImage::Format::Of(16, 16384, 2);
    ASSERT_TRUE(image.Create(format)) << image.LastOutput();
    const auto kept = PatternBytes(1500, 31);
    const auto gone = PatternBytes(2500, 32);
    ASSERT_TRUE(image.MakeDirectory("/Kept"));
    ASSERT_TRUE(image.WriteFile("/Kept/kept.bin", kept));
    ASSERT_TRUE(image.MakeDirectory("/Gone"));
    ASSERT_TRUE(image.MakeDirectory("/Gone/Inner"));
    ASSERT_TRUE(image.WriteFile("/Gone/Inner/Gone file.bin", gone));
    ASSERT_TRUE(image.DeleteTree("/Gone")) << image.LastOutput();

    auto opened = test::OpenFatImage(image.Path());
    ASSERT_TRUE(opened.mounted);
    FatVolume& volume = *opened.volume;
    // The deleted tree is listed in place, by its long name, with what its clusters still hold.
    const FileEntry* goneFile = FindEntry(*volume.RootEntry(), "Gone/Inner/Gone file.bin", true);
    ASSERT_NE(goneFile, nullptr);
    EXPECT_TRUE(FindEntry(*volume.RootEntry(), "Gone", true)->Has(FileEntryFlags::OwnDeleted));
    EXPECT_TRUE(goneFile->parent->IsDeleted());
    std::vector<uint8_t> data;
    ASSERT_TRUE(test::ReadEntry(volume, *goneFile, data));
    EXPECT_TRUE(data == gone);

    volume.ScanLostFolders();
    for (const auto& record : volume.LostEntry()->children)
        EXPECT_EQ(FindEntry(record, "kept.bin"), nullptr) << "a live folder's cluster was listed as lost";
    ASSERT_EQ(volume.LostEntry()->children.size(), 1u);  // Gone, with Inner merged into it
    EXPECT_NE(FindEntry(volume.LostEntry()->children[0], "Inner/Gone file.bin", true), nullptr);
}

TEST_F(LostFolders, StopRequestEndsTheScanEarly) {
    MtoolsImage image(temp.File("stop.img"));
    const auto format = MtoolsImage::Format::Of(16, 16384);
    ASSERT_TRUE(image.Create(format));
    ASSERT_TRUE(image.MakeDirectory("/A"));
    ASSERT_TRUE(image.WriteFile("/A/a.bin", PatternBytes(10, 1)));
    ASSERT_TRUE(image.Reformat(format));
    auto opened = test::OpenFatImage(image.Path());
    ASSERT_TRUE(opened.mounted);
    ScanProgress progress;
    progress.stopRequested = 1;
    opened.volume->SetProgress(&progress);
    opened.volume->ScanLostFolders();
    EXPECT_TRUE(opened.volume->LostEntry()->children.empty());
    progress.stopRequested = 0;
    opened.volume->ScanLostFolders();
    EXPECT_EQ(opened.volume->LostEntry()->children.size(), 1u);
}

TEST_F(LostFolders, Fat32DeletedEntryGetsItsHighClusterWordBack) {
    // 131,072 clusters of 512 bytes: a workbook written after 34 MB of filler starts above cluster
    // 65,535, so clearing the high word of its deleted entry points it at the wrong cluster.
    MtoolsImage image(temp.File("highword.img"));
    const auto format = MtoolsImage::Format::Of(32, 65536, 1);
    ASSERT_TRUE(image.Create(format));
    ASSERT_TRUE(image.WriteFile("/FILLER.BIN", std::vector<uint8_t>(34 * 1024 * 1024, 0x5A)));
    const std::string workbook = temp.File("book.xls");
    if (!test::MakeWorkbook(workbook, 40, 5)) GTEST_SKIP() << "python3-xlwt is not available";
    ASSERT_TRUE(image.CopyIn(workbook, "/BOOK.XLS"));
    ASSERT_TRUE(image.DeleteFile("/BOOK.XLS"));

    auto before = test::OpenFatImage(image.Path());
    ASSERT_TRUE(before.mounted);
    const FileEntry* deleted = FindEntry(*before.volume->RootEntry(), " OOK.XLS", true);
    ASSERT_NE(deleted, nullptr);
    const uint32_t trueStart = deleted->start;
    ASSERT_GT(trueStart, 0xFFFFu);
    // Clear the high word in the slot, as some systems do on deletion.
    const uint64_t rootOffset = uint64_t(before.volume->ClusterToSector(2)) * 512;
    const auto root = image.ReadAt(rootOffset, 512);
    size_t slot = 0;
    while (slot < 16 && std::memcmp(root.data() + slot * 32 + 1, "OOK    XLS", 10) != 0) ++slot;
    ASSERT_LT(slot, 16u);
    ASSERT_TRUE(image.Patch(rootOffset + slot * 32 + 20, {0, 0}));

    auto opened = test::OpenFatImage(image.Path());
    ASSERT_TRUE(opened.mounted);
    FatVolume& volume = *opened.volume;
    const FileEntry* entry = FindEntry(*volume.RootEntry(), " OOK.XLS", true);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->start, trueStart & 0xFFFF);
    volume.ScanLostFolders();
    const uint32_t workbookSector = volume.ClusterToSector(trueStart);
    auto found = ContentFoundList::Global().Sectors();
    ASSERT_EQ(std::count(found.begin(), found.end(), workbookSector), 1);
    volume.RecoverFirstClusters();
    EXPECT_EQ(entry->start, trueStart);
    found = ContentFoundList::Global().Sectors();
    EXPECT_EQ(std::count(found.begin(), found.end(), workbookSector), 0);
    std::vector<uint8_t> data;
    ASSERT_TRUE(test::ReadEntry(volume, *entry, data));
    EXPECT_TRUE(data == test::ReadFileBytes(workbook));
}

// Content signature: the header one or three sectors before a BIFF8 BOF, never two.
TEST(ContentSignature, HeaderOneOrThreeSectorsBeforeTheWorkbookStart) {
    std::vector<uint8_t> buffer(16 * 512, 0);
    auto header = [&](size_t sector) { std::memcpy(&buffer[sector * 512], "\xD0\xCF\x11\xE0", 4); };
    auto bof = [&](size_t sector) { std::memcpy(&buffer[sector * 512], "\x09\x08\x10\x00\x00\x06", 6); };
    header(1);
    bof(2);   // right after the header
    header(4);
    bof(7);   // three sectors after
    header(9);
    bof(11);  // two sectors after: not a workbook start
    bof(0);   // sector 0 is never the BOF sector
    std::vector<uint32_t> hits;
    FindCompoundDocuments(buffer.data(), buffer.size(), 1000, 1, hits);
    EXPECT_EQ(hits, (std::vector<uint32_t> {1001, 1004}));
}

TEST(ContentSignature, HeaderAtTheEndOfAChunkIsFoundOnce) {
    // 512-byte clusters: the scan reads chunks of 128 clusters, so cluster 129 is the last sector of
    // the first chunk and cluster 130 the first of the second.
    ContentFoundList::Global().Clear();
    FatImageBuilder b = FatImageBuilder::Fat32(140000, 1);
    std::memcpy(b.Cluster(129), "\xD0\xCF\x11\xE0", 4);
    std::memcpy(b.Cluster(130), "\x09\x08\x10\x00\x00\x06", 6);
    std::memcpy(b.Cluster(255), "\xD0\xCF\x11\xE0", 4);  // three before a BOF across the next edge
    std::memcpy(b.Cluster(258), "\x09\x08\x10\x00\x00\x06", 6);
    std::memcpy(b.Cluster(300), "\xD0\xCF\x11\xE0", 4);  // inside one chunk
    std::memcpy(b.Cluster(301), "\x09\x08\x10\x00\x00\x06", 6);
    test::TempDir temp;
    ASSERT_TRUE(b.SaveTo(temp.File("edge.img")));
    auto opened = test::OpenFatImage(temp.File("edge.img"));
    ASSERT_TRUE(opened.mounted);
    opened.volume->ScanLostFolders();
    const auto& v = *opened.volume;
    EXPECT_EQ(ContentFoundList::Global().Sectors(),
              (std::vector<uint32_t> {v.ClusterToSector(129), v.ClusterToSector(255), v.ClusterToSector(300)}));
    ContentFoundList::Global().Clear();
}

TEST(LostFolderRecords, ClusterWithoutEntriesGivesNoFolderAndKeysNest) {
    ContentFoundList::Global().Clear();
    FatImageBuilder b = FatImageBuilder::Fat16(65536, 1);
    // A cluster that passes the test but holds only a volume label: no folder.
    b.WriteSlots(b.ClusterSector(50), 0, {FatImageBuilder::ShortSlot("LABEL      ", 0x08, 0, 0)});
    // Folder A (cluster 60) lists folder B's cluster 70 as its child "B"; B's record is nested there.
    b.WriteSlots(b.ClusterSector(60), 0,
                 {FatImageBuilder::DotSlot(false, 60), FatImageBuilder::DotSlot(true, 0),
                  FatImageBuilder::ShortSlot("B          ", 0x10, 70, 0)});
    b.WriteSlots(b.ClusterSector(70), 0,
                 {FatImageBuilder::DotSlot(false, 70), FatImageBuilder::DotSlot(true, 60),
                  FatImageBuilder::ShortSlot("INNER   TXT", 0x20, 71, 10)});
    test::TempDir temp;
    ASSERT_TRUE(b.SaveTo(temp.File("records.img")));
    auto opened = test::OpenFatImage(temp.File("records.img"));
    ASSERT_TRUE(opened.mounted);
    opened.volume->ScanLostFolders();
    const FileEntry& lost = *opened.volume->LostEntry();
    ASSERT_EQ(lost.children.size(), 1u);
    EXPECT_EQ(test::Utf8Name(lost.children[0]), "Folder 60");
    const FileEntry* inner = FindEntry(lost.children[0], "B/INNER.TXT", true);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->parent->parent, &lost.children[0]);
}

TEST(LostFolderRecords, MergeChainsStayWithinTheDepthBound) {
    // Record i lists a folder whose key is record i + 1: merged, they would nest 50 deep.
    std::vector<FileEntry> records;
    for (uint32_t i = 0; i < 50; ++i) {
        FileEntry record;
        record.flags = FileEntryFlags::Deleted | FileEntryFlags::Directory;
        record.start = 100 + i;
        FileEntry child;
        child.flags = FileEntryFlags::Deleted | FileEntryFlags::Directory;
        child.start = 101 + i;
        child.name = NamePool::Global().Add(u"next");
        record.children.push_back(std::move(child));
        records.push_back(std::move(record));
    }
    auto copy = [&] {
        std::vector<FileEntry> out;
        for (auto& r : records) {
            FileEntry e;
            e.flags = r.flags;
            e.start = r.start;
            FileEntry c;
            c.flags = r.children[0].flags;
            c.start = r.children[0].start;
            c.name = r.children[0].name;
            e.children.push_back(std::move(c));
            out.push_back(std::move(e));
        }
        return out;
    };
    auto unbounded = copy();
    MergeLostFolders(unbounded, 1000);
    ASSERT_EQ(unbounded.size(), 1u);
    auto bounded = copy();
    MergeLostFolders(bounded, 10);
    EXPECT_GT(bounded.size(), 1u);
    for (const auto& record : bounded) {
        int depth = 0;
        for (const FileEntry* e = &record; !e->children.empty(); e = &e->children[0]) ++depth;
        EXPECT_LE(depth, 10);
    }
}

}  // namespace
}  // namespace tabulon
