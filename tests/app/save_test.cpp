#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "app/make_directories.h"
#include "app/safe_name.h"
#include "app/save_file.h"
#include "app/save_tree.h"
#include "app/strings.h"
#include "app/utf_text.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

namespace fs = std::filesystem;

// A source of `sectors` sectors whose sector k is filled with the byte k + 1.
class SaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bytes(kSourceSectors * 512);
        for (size_t k = 0; k < kSourceSectors; ++k) std::fill_n(bytes.begin() + k * 512, 512, uint8_t(k + 1));
        ASSERT_TRUE(test::WriteFileBytes(source, bytes));
        target = dir.File("out");
        ASSERT_TRUE(fs::create_directory(target));
    }

    static std::unique_ptr<ResultNode> File(std::u16string name, std::vector<uint32_t> sectors) {
        auto node = std::make_unique<ResultNode>(ResultNodeKind::File, std::move(name));
        node->sectors = std::move(sectors);
        return node;
    }
    static std::vector<uint8_t> Expected(const std::vector<uint32_t>& sectors) {
        std::vector<uint8_t> bytes;
        for (uint32_t s : sectors) bytes.insert(bytes.end(), 512, uint8_t(s + 1));
        return bytes;
    }
    std::vector<std::string> FilesBelow(const std::string& root) {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            found.push_back(fs::relative(entry.path(), root).string() + (entry.is_directory() ? "/" : ""));
        std::sort(found.begin(), found.end());
        return found;
    }

    static constexpr size_t kSourceSectors = 300;
    test::TempDir dir;
    std::string source = dir.File("source.img");
    std::string target;
    ProgressState progress;
};

TEST_F(SaveTest, NeverOverwritesAndNumbersTakenNames) {
    auto node = File(u"book.xls", {3, 4, 9, 200, 201});
    ASSERT_TRUE(test::WriteFileBytes(target + "/book.xls", {1, 2, 3}));
    fs::create_directory(target + "/book_1.xls");  // a folder takes a name as well
    SaveFileOutcome outcome = SaveFile(*node, source, target + "/book.xls");
    EXPECT_EQ(outcome.result, SaveResult::Written);
    EXPECT_EQ(outcome.path, target + "/book_2.xls");
    EXPECT_EQ(test::ReadFileBytes(target + "/book_2.xls"), Expected(node->sectors));
    EXPECT_EQ(test::ReadFileBytes(target + "/book.xls"), (std::vector<uint8_t> {1, 2, 3}));

    // The numbering replaces the last four characters whatever they are, but never reaches into the
    // folder part of the path.
    ASSERT_TRUE(test::WriteFileBytes(target + "/notes", {}));
    EXPECT_EQ(SaveFile(*node, source, target + "/notes").path, target + "/n_1.xls");
    ASSERT_TRUE(test::WriteFileBytes(target + "/ab", {}));
    EXPECT_EQ(SaveFile(*node, source, target + "/ab").path, target + "/ab_1.xls");
    ASSERT_TRUE(test::WriteFileBytes(target + "/报表统计表", {}));
    EXPECT_EQ(SaveFile(*node, source, target + "/报表统计表").path, target + "/报_1.xls");
}

TEST_F(SaveTest, UnreadableSectorsAndMissingSourceAreReported) {
    // A run that crosses the end of the source keeps every sector before it.
    auto node = File(u"cut.xls", {290, 291, 292, 293, 294, 295, 296, 297, 298, 299, 300, 301, 5});
    SaveFileOutcome outcome = SaveFile(*node, source, target + "/cut.xls");
    EXPECT_EQ(outcome.result, SaveResult::Incomplete);
    EXPECT_EQ(test::ReadFileBytes(outcome.path), Expected({290, 291, 292, 293, 294, 295, 296, 297, 298, 299}));
    EXPECT_TRUE(IsSaveFailure(outcome.result));

    auto far = File(u"far.xls", {7, 4'000'000, 8});
    outcome = SaveFile(*far, source, target + "/far.xls");
    EXPECT_EQ(outcome.result, SaveResult::Incomplete);
    EXPECT_EQ(test::ReadFileBytes(outcome.path), Expected({7}));

    EXPECT_EQ(SaveFile(*node, dir.File("missing.img"), target + "/x.xls").result, SaveResult::SourceUnreadable);
    EXPECT_EQ(SaveFile(*File(u"e.xls", {}), source, target + "/e.xls").result, SaveResult::NoSectors);
    EXPECT_FALSE(fs::exists(target + "/x.xls"));
    EXPECT_FALSE(fs::exists(target + "/e.xls"));
}

TEST(SafeName, NamesCannotLeaveTheTargetFolder) {
    const std::pair<std::u16string_view, std::string_view> cases[] = {
        {u"book.xls", "book.xls"}, {u"..", "_.."}, {u".", "_."}, {u"", "_"},
        {u"../../evil.xls", ".._.._evil.xls"}, {u"/etc/passwd", "_etc_passwd"},
        {std::u16string_view(u"a\0b.xls", 7), "a_b.xls"}, {u"根目录", "根目录"},
    };
    for (const auto& [name, safe] : cases) EXPECT_EQ(SafeFileName(name), safe) << ToUtf8(name);

    std::u16string longName(200, u'表');
    longName += u".xls";
    std::string safe = SafeFileName(longName);
    EXPECT_LE(safe.size(), kMaxSafeNameBytes);
    EXPECT_EQ(safe.substr(safe.size() - 4), ".xls");
    EXPECT_EQ(FromUtf8(safe).find(u'\uFFFD'), std::u16string::npos);  // cut at a character boundary
    EXPECT_EQ(JoinSafe("/t", u".."), "/t/_..");
    EXPECT_EQ(JoinSafe("/t/", u"a.xls"), "/t/a.xls");
}

TEST_F(SaveTest, SavesATreeInsideTheTargetWhateverTheNames) {
    ResultNode category(ResultNodeKind::Category, u"根目录");
    ResultNode& folder = category.AddChild(std::make_unique<ResultNode>(ResultNodeKind::Folder, u".."));
    folder.AddChild(File(u"../../evil.xls", {1, 2}));
    folder.AddChild(std::make_unique<ResultNode>(ResultNodeKind::Folder, u"empty"));
    category.AddChild(File(u"a/b.xls", {10}));
    category.AddChild(File(u"a/b.xls", {11}));
    category.AddChild(File(u"none.xls", {}));
    EXPECT_EQ(CountFiles(category), 4);
    EXPECT_EQ(CountFiles(*category.children[1]), 1);

    SaveSession session {source, progress, nullptr, {}};
    SaveTree(category, target, session);
    EXPECT_TRUE(session.report.Ok());
    EXPECT_EQ(session.report.filesWritten, 3u);
    EXPECT_EQ(FilesBelow(target), (std::vector<std::string> {"根目录/", "根目录/_../", "根目录/_../.._.._evil.xls",
                                                              "根目录/_../empty/", "根目录/a_b.xls", "根目录/a_b_1.xls"}));
    EXPECT_EQ(test::ReadFileBytes(target + "/根目录/a_b_1.xls"), Expected({11}));
    EXPECT_EQ(FilesBelow(dir.Path()).size(), FilesBelow(target).size() + 2);  // source.img and out/ only
}

TEST_F(SaveTest, FolderProblemsAreReported) {
    ResultNode category(ResultNodeKind::Category, u"根目录");
    ResultNode& blocked = category.AddChild(std::make_unique<ResultNode>(ResultNodeKind::Folder, u"blocked"));
    blocked.AddChild(File(u"inside.xls", {1}));
    category.AddChild(File(u"fine.xls", {2}));
    ASSERT_TRUE(fs::create_directory(target + "/根目录"));
    ASSERT_TRUE(test::WriteFileBytes(target + "/根目录/blocked", {0}));  // a file where the folder should go

    SaveSession session {source, progress, nullptr, {}};
    SaveTree(category, target, session);
    ASSERT_EQ(session.report.problems.size(), 1u);
    EXPECT_EQ(session.report.problems[0].path, target + "/根目录/blocked/inside.xls");
    EXPECT_EQ(session.report.problems[0].result, SaveResult::NotCreated);
    EXPECT_EQ(session.report.filesWritten, 1u);
    EXPECT_FALSE(session.report.Ok());

    // A target that is not absolute is refused with the folder message, and the save ends.
    SaveSession relative {source, progress, nullptr, {}};
    SaveTree(category, "relative/dir", relative);
    EXPECT_EQ(relative.report.folderError, FormatText(LoadString(StringId::CreateFolderFailed), {u"relative/dir/根目录"}));
    EXPECT_TRUE(relative.report.stopped);
    EXPECT_TRUE(progress.StopRequested());
    EXPECT_FALSE(MakeDirectories("relative"));
    EXPECT_TRUE(MakeDirectories(target + "/x/y/z"));
    EXPECT_TRUE(fs::is_directory(target + "/x/y/z"));
}

// Stops the save after the first file is written.
class StopAfterFirst : public WorkerEvents {
public:
    explicit StopAfterFirst(ProgressState& state) : progress(state) {}
    void WorkStarted() override { ++started; }
    void WorkEnded() override { ++ended; }
    void FileSaved(std::string_view path, bool whole) override {
        saved.emplace_back(path);
        EXPECT_TRUE(whole);
        progress.RequestStop();
    }
    ProgressState& progress;
    int started = 0, ended = 0;
    std::vector<std::string> saved;
};

TEST_F(SaveTest, WorkerReportsProgressAndAStopLeavesOnlyCompleteFiles) {
    ResultNode category(ResultNodeKind::Category, u"丢失的目录");
    std::vector<uint32_t> big;
    for (uint32_t s = 0; s < 250; ++s) big.push_back(s);
    category.AddChild(File(u"first.xls", big));
    category.AddChild(File(u"second.xls", {1}));
    category.AddChild(File(u"third.xls", {2}));
    StopAfterFirst events(progress);
    progress.RequestStop();  // left over from an earlier worker: the save resets it
    SaveReport report = RunSaveWorker(category, target, source, progress, &events);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.filesWritten, 1u);
    EXPECT_EQ(FilesBelow(target), (std::vector<std::string> {"丢失的目录/", "丢失的目录/first.xls"}));
    EXPECT_EQ(test::ReadFileBytes(target + "/丢失的目录/first.xls"), Expected(big));
    EXPECT_EQ(events.started, 1);
    EXPECT_EQ(events.ended, 1);
    EXPECT_EQ(progress.Max(), 3);
    EXPECT_EQ(progress.Pos(), 1);
    EXPECT_EQ(progress.StatusText(), u"正在保存 [first.xls]");
    EXPECT_FALSE(progress.IsBusy());
    EXPECT_FALSE(progress.StopRequested());

    // An empty category posts nothing and writes nothing.
    ResultNode empty(ResultNodeKind::Category, u"碎片扫描的文件");
    StopAfterFirst quiet(progress);
    RunSaveWorker(empty, target, source, progress, &quiet);
    EXPECT_EQ(quiet.started, 0);
    EXPECT_FALSE(fs::exists(target + "/碎片扫描的文件"));

    // A second worker is refused while one is busy.
    progress.SetBusy(true);
    EXPECT_FALSE(StartSaveWorker(category, target, source, progress, nullptr, nullptr).joinable());
    progress.SetBusy(false);
    SaveReport threaded;
    std::thread worker = StartSaveWorker(category, target, source, progress, nullptr, &threaded);
    ASSERT_TRUE(worker.joinable());
    worker.join();
    EXPECT_EQ(threaded.filesWritten, 3u);
    EXPECT_TRUE(fs::exists(target + "/丢失的目录/first_1.xls"));
}

}  // namespace
}  // namespace tabulon
