// tabulon fragments and recover --fragments on a stick image where a deleted workbook lies in two
// pieces around a live file.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::RunCommand;
using test::ShellQuote;
using Bytes = std::vector<uint8_t>;

// Whether some .xls file below `folder` begins with `original`.
bool SomeFileBeginsWith(const std::string& folder, const Bytes& original) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".xls") continue;
        const Bytes bytes = test::ReadFileBytes(entry.path().string());
        if (bytes.size() >= original.size() && std::equal(original.begin(), original.end(), bytes.begin())) return true;
    }
    return false;
}

class FragmentsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "needs mkfs.fat and mtools";
        ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 700, 5, 2, 9));
        book = test::ReadFileBytes(dir.File("book.xls"));
        test::MtoolsImage image(dir.File("stick.img"));
        ASSERT_TRUE(image.Create(test::MtoolsImage::Format::Of(16, 16384, 4))) << image.LastOutput();
        ASSERT_TRUE(image.WriteFile("/hole.bin", test::PatternBytes(2048 * 16, 1)));
        ASSERT_TRUE(image.WriteFile("/live.bin", test::PatternBytes(2048 * 3, 2)));
        ASSERT_TRUE(image.DeleteFile("/hole.bin"));
        ASSERT_TRUE(image.CopyIn(dir.File("book.xls"), "/REPORT.XLS"));
        ASSERT_TRUE(image.DeleteFile("/REPORT.XLS"));
        stick = image.Path();
    }

    test::TempDir dir;
    Bytes book;
    std::string stick;
    const std::string cli = ShellQuote(test::CliPath());
};

TEST_F(FragmentsCommand, ListsAndSavesTheCandidates) {
    const std::string out = dir.File("out");
    auto run = RunCommand(cli + " fragments " + ShellQuote(stick) + " --node 0/0 --to " + ShellQuote(out) + " 2>&1");
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("for  EPORT.XLS in 3/0  EPORT"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("3/0/0   EPORT_1.xls"), std::string::npos) << run.output;
    EXPECT_TRUE(std::filesystem::exists(out + "/ EPORT/ EPORT_1.xls")) << run.output;
    EXPECT_TRUE(SomeFileBeginsWith(out, book)) << run.output;

    for (const char* node : {"0", "0/5", "x"}) {
        auto refused = RunCommand(cli + " fragments " + ShellQuote(stick) + " --node " + node + " 2>&1");
        EXPECT_EQ(refused.exitStatus, 1) << node << ": " << refused.output;
    }
    EXPECT_EQ(RunCommand(cli + " fragments " + ShellQuote(stick) + " --node 0/0 --block-size 200 2>&1").exitStatus, 2);
}

TEST_F(FragmentsCommand, RecoverRebuildsDeletedWorkbooksBeforeSaving) {
    const std::string out = dir.File("all");
    auto run = RunCommand(cli + " recover " + ShellQuote(stick) + " --to " + ShellQuote(out) + " --fragments 2>&1");
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("fragment scan: 1 of 1 deleted or content-found files gave"), std::string::npos) << run.output;
    EXPECT_TRUE(SomeFileBeginsWith(out + "/碎片扫描的文件", book)) << run.output;
    // The plain copy of the deleted entry is saved too, as it always was.
    EXPECT_TRUE(std::filesystem::exists(out + "/根目录/ EPORT.XLS")) << run.output;
}

TEST_F(FragmentsCommand, ASourceWithoutFileSystemNeedsABlockSize) {
    Bytes disk(512 * 2048, 0);
    std::copy(book.begin(), book.end(), disk.begin() + 512 * 64);
    const std::string bare = dir.File("bare.img");
    ASSERT_TRUE(test::WriteFileBytes(bare, disk));
    auto without = RunCommand(cli + " fragments " + ShellQuote(bare) + " --node 2/0 2>&1");
    EXPECT_EQ(without.exitStatus, 1);
    EXPECT_NE(without.output.find("--block-size"), std::string::npos) << without.output;
    const std::string out = dir.File("bare-out");
    auto with = RunCommand(cli + " fragments " + ShellQuote(bare) + " --node 2/0 --block-size 8 --in-memory --to " +
                           ShellQuote(out) + " 2>&1");
    ASSERT_EQ(with.exitStatus, 0) << with.output;
    EXPECT_TRUE(SomeFileBeginsWith(out, book)) << with.output;
}

}  // namespace
}  // namespace tabulon
