#include <gtest/gtest.h>

#include "app/result_tree.h"
#include "app/strings.h"
#include "app/utf_text.h"
#include "test_analyser.h"

namespace tabulon {
namespace {

using test::TestAnalyser;

std::vector<std::u16string> ChildNames(const ResultNode& node) {
    std::vector<std::u16string> names;
    for (const auto& child : node.children) names.push_back(child->name);
    return names;
}

TEST(ResultTree, ExtensionTest) {
    const struct {
        std::u16string_view name;
        bool xls;
    } cases[] = {
        {u"book.xls", true}, {u"BOOK.XLS", true}, {u"a.b.Xls", true}, {u"a..xls", true},
        {u".xls", false},    {u"book.xlsx", false}, {u"book.xls.bak", false}, {u"xls", false},
        {u"book.", false},   {u"", false},          {u"book.xl", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HasXlsExtension(c.name), c.xls) << ToUtf8(c.name);
}

TEST(ResultTree, FormatEntryTimeAndSizeTexts) {
    uint16_t date = uint16_t(((2007 - 1980) << 9) | (3 << 5) | 5);
    uint32_t time = (9u << 12) | (41u << 6) | 7u;
    EXPECT_EQ(FormatEntryTime(date, time), u"2007-03-05 09:41:07");
    EXPECT_EQ(FormatEntryTime(0, 0), u"1980-00-00 00:00:00");
    EXPECT_EQ(FormatEntryTime(0xFFFF, 0x1FFFF), u"2107-15-31 31:63:63");

    const std::pair<uint64_t, std::u16string_view> sizes[] = {
        {1536, u"1.5K"}, {2048, u"2K"}, {1045504, u"1021K"}, {1046016, u"1M"}, {512000, u"500K"}, {0, u"0K"},
        {1572864, u"1.5M"},
    };
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(SizeText(bytes), text) << bytes;
}

TEST(ResultTree, InfoTextNamesLengthAndTimes) {
    ResultNode file(ResultNodeKind::File, u"book.xls");
    file.sectors = {1, 2, 3};
    EXPECT_EQ(InfoText(file), u"名称： book.xls\n长度： 1.5K");
    file.creationText = u"2007-03-05 09:41:07";
    file.modificationText = u"2008-01-02 03:04:05";
    EXPECT_EQ(InfoText(file), u"名称： book.xls\n长度： 1.5K  创建时间：2007-03-05 09:41:07  修改时间：2008-01-02 03:04:05");
    EXPECT_EQ(InfoText(ResultNode(ResultNodeKind::Folder, u"dir")), u"");
}

// Root:  Docs/ { report.xls, notes.txt }, Empty/ { readme.txt }, Book.xls, book.XLS (same name),
//        .xls, gone.xls (deleted, no live chain)
// Lost:  Folder 900/ { copy.xls (same start as report.xls) }, Folder 950/ { found.xls }
class CopyTreeTest : public ::testing::Test {
protected:
    CopyTreeTest() : analyser(4, 100) {
        analyser.SetPartitionStart(2048);
        analyser.SetTotalSectors(1'000'000);
        FileEntry& docs = TestAnalyser::Add(analyser.root, u"Docs", 3, FileEntryFlags::Directory);
        FileEntry& report = TestAnalyser::Add(docs, u"report.xls", 10, 0, 5000);
        report.creationDate = uint16_t((27 << 9) | (3 << 5) | 5);
        report.creationTime = (9u << 12) | (41u << 6) | 7u;
        TestAnalyser::Add(docs, u"notes.txt", 12);
        FileEntry& empty = TestAnalyser::Add(analyser.root, u"Empty", 4, FileEntryFlags::Directory);
        TestAnalyser::Add(empty, u"readme.txt", 13);
        TestAnalyser::Add(analyser.root, u"Book.xls", 20);
        TestAnalyser::Add(analyser.root, u"book.XLS", 30);
        TestAnalyser::Add(analyser.root, u".xls", 40);
        TestAnalyser::Add(analyser.root, u"gone.xls", 50,
                          FileEntryFlags::Deleted | FileEntryFlags::OwnDeleted, 3000);
        FileEntry& lost1 = TestAnalyser::Add(analyser.lost, u"Folder 900", 60, FileEntryFlags::Directory | FileEntryFlags::Deleted);
        TestAnalyser::Add(lost1, u"copy.xls", 10, FileEntryFlags::Deleted);
        FileEntry& lost2 = TestAnalyser::Add(analyser.lost, u"Folder 950", 61, FileEntryFlags::Directory | FileEntryFlags::Deleted);
        TestAnalyser::Add(lost2, u"found.xls", 70, FileEntryFlags::Deleted, 100);
        analyser.chains[10] = {10, 11, 15};
        analyser.chains[20] = {20};
        analyser.chains[30] = {30};
        analyser.chains[40] = {40};
    }

    void CopyBoth() {
        MarkFolders(context, analyser, analyser.root);
        CopyTree(context, context.rootCategory, analyser, analyser.root);
        MarkFolders(context, analyser, analyser.lost);
        CopyTree(context, context.lostCategory, analyser, analyser.lost);
    }

    uint32_t Sector(uint32_t cluster) { return 2048 + 100 + 4 * (cluster - 2); }

    ScanContext context;
    TestAnalyser analyser;
};

TEST_F(CopyTreeTest, ListsEachWorkbookOnceWithItsSectorsAndTimes) {
    CopyBoth();
    EXPECT_EQ(ChildNames(context.rootCategory), (std::vector<std::u16string> {u"Docs", u"Book.xls", u"gone.xls"}));
    const ResultNode& docs = *context.rootCategory.children[0];
    EXPECT_EQ(docs.kind, ResultNodeKind::Folder);
    EXPECT_EQ(docs.flags, ResultNodeFlags::FromDirectory);
    ASSERT_EQ(ChildNames(docs), (std::vector<std::u16string> {u"report.xls"}));
    const ResultNode& report = *docs.children[0];
    EXPECT_EQ(report.kind, ResultNodeKind::File);
    std::vector<uint32_t> expected;
    for (uint32_t cluster : {10u, 11u, 15u})
        for (uint32_t j = 0; j < 4; ++j) expected.push_back(Sector(cluster) + j);
    EXPECT_EQ(report.sectors, expected);
    EXPECT_EQ(report.creationText, u"2007-03-05 09:41:07");
    EXPECT_EQ(report.modificationText, u"1980-00-00 00:00:00");

    // A deleted file without a live chain is taken as consecutive clusters from its start.
    const ResultNode& gone = *context.rootCategory.children[2];
    EXPECT_EQ(gone.flags, ResultNodeFlags::FromDirectory | ResultNodeFlags::Deleted);
    ASSERT_EQ(gone.sectors.size(), 8u);  // 3000 bytes: two clusters of four sectors
    EXPECT_EQ(gone.sectors.front(), Sector(50));

    // The lost folder whose only workbook is already listed does not appear; the other does.
    EXPECT_EQ(ChildNames(context.lostCategory), (std::vector<std::u16string> {u"Folder 950"}));
    EXPECT_EQ(ChildNames(*context.lostCategory.children[0]), (std::vector<std::u16string> {u"found.xls"}));

    for (uint32_t cluster : {10u, 20u, 50u, 70u}) EXPECT_EQ(context.listedStarts.count(Sector(cluster)), 1u) << cluster;
    EXPECT_EQ(context.listedStarts.count(Sector(30)), 0u);  // book.XLS was passed over
    EXPECT_EQ(context.listedStarts.size(), 4u);
}

TEST_F(CopyTreeTest, SectorsStopAtTheEndOfTheSource) {
    analyser.SetTotalSectors(Sector(11) + 2);
    CopyBoth();
    const ResultNode& report = *context.rootCategory.children[0]->children[0];
    EXPECT_EQ(report.sectors.size(), 6u);
    EXPECT_EQ(report.sectors.back(), Sector(11) + 1);
}

TEST_F(CopyTreeTest, AddOriginalFilesSkipsListedStarts) {
    CopyBoth();
    context.originalStarts = {Sector(10), 777777, Sector(70)};
    AddOriginalFiles(context, context.originalCategory, nullptr);
    ASSERT_EQ(ChildNames(context.originalCategory), (std::vector<std::u16string> {u"File 777777.xls"}));
    const ResultNode& file = *context.originalCategory.children[0];
    EXPECT_EQ(file.flags, ResultNodeFlags::Deleted | ResultNodeFlags::ContentFound);
    ASSERT_EQ(file.sectors.size(), kContentFoundDefaultSectors);
    EXPECT_EQ(file.sectors.front(), 777777u);
    EXPECT_EQ(file.sectors.back(), 777777u + 999);
}

TEST(ResultTree, DeepTreesAreCopiedAndFreedWithoutRecursion) {
    TestAnalyser analyser(1, 10);
    FileEntry* folder = &analyser.root;
    for (int depth = 0; depth < 200000; ++depth)
        folder = &TestAnalyser::Add(*folder, u"d", uint32_t(depth + 3), FileEntryFlags::Directory);
    TestAnalyser::Add(*folder, u"deep.xls", 5, FileEntryFlags::Deleted, 512);
    ScanContext context;
    MarkFolders(context, analyser, analyser.root);
    CopyTree(context, context.rootCategory, analyser, analyser.root);
    const ResultNode* node = &context.rootCategory;
    int depth = 0;
    while (!node->children.empty()) {
        node = node->children[0].get();
        ++depth;
    }
    EXPECT_EQ(depth, 200001);
    EXPECT_EQ(node->name, u"deep.xls");
    context.ResetForLoad();
    EXPECT_TRUE(context.rootCategory.children.empty());
    // The FileEntry tree itself is freed by its owner; release it iteratively here too.
    std::vector<FileEntry> drop;
    drop.swap(analyser.root.children);
    while (!drop.empty()) {
        std::vector<FileEntry> next;
        for (FileEntry& entry : drop) next.insert(next.end(), std::make_move_iterator(entry.children.begin()), std::make_move_iterator(entry.children.end()));
        for (FileEntry& entry : drop) entry.children.clear();
        drop.swap(next);
    }
}

TEST(Strings, TableAndFormatting) {
    EXPECT_EQ(LoadString(StringId::RootCategory), u"根目录");
    EXPECT_EQ(LoadString(StringId::FragmentCategory), u"碎片扫描的文件");
    EXPECT_TRUE(LoadString(9999).empty());
    EXPECT_EQ(FormatText(LoadString(StringId::Saving), {u"a.xls"}), u"正在保存 [a.xls]");
    EXPECT_EQ(FormatText(u"%s-%s-%s %%", {u"1", u"2"}), u"1-2-%s %");
    ScanContext context;
    EXPECT_EQ(context.lostCategory.name, u"丢失的目录");
    EXPECT_EQ(context.originalCategory.kind, ResultNodeKind::Category);
}

TEST(Strings, Utf8RoundTripAndReplacement) {
    std::u16string text = u"根目录 \U0001F600 x";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(FromUtf8("\xC0\xAF\xFF" "a"), u"\uFFFD\uFFFD\uFFFDa");
}

}  // namespace
}  // namespace tabulon
