// The scan, save and recover commands on images made with mkfs.fat and mtools.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ShellQuote;

std::string Cli() { return ShellQuote(test::CliPath()); }

// Only the command's standard output (stderr goes to a file).
test::CommandResult RunStdout(const std::string& command, const std::string& errFile) {
    return RunCommand(command + " 2>" + ShellQuote(errFile));
}

bool StartsWith(const std::vector<uint8_t>& saved, const std::vector<uint8_t>& original) {
    return saved.size() >= original.size() && std::equal(original.begin(), original.end(), saved.begin());
}

class CliEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "needs mkfs.fat and mtools";
        ASSERT_TRUE(test::MakeWorkbook(dir.File("a.xls"), 50, 4, 1, 1));
        ASSERT_TRUE(test::MakeWorkbook(dir.File("b.xls"), 300, 6, 2, 2));
        a = test::ReadFileBytes(dir.File("a.xls"));
        b = test::ReadFileBytes(dir.File("b.xls"));
        test::MtoolsImage::Format layout;
        layout.fatBits = 16;
        layout.sizeKiB = 16384;
        ASSERT_TRUE(image.Create(layout));
        ASSERT_TRUE(image.MakeDirectory("/Sales"));
        ASSERT_TRUE(image.WriteFile("/Sales/a.xls", a));
        ASSERT_TRUE(image.WriteFile("/b.xls", b));
    }
    test::TempDir dir;
    test::MtoolsImage image {dir.File("stick.img")};
    std::vector<uint8_t> a, b;
};

TEST_F(CliEndToEnd, ScanPrintsTheTreeAsJson) {
    auto result = RunStdout(Cli() + " scan --json --with-sectors " + ShellQuote(image.Path()), dir.File("err"));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(result.output.find('\r'), std::string::npos);  // no progress line when stderr is not a terminal
    auto json = nlohmann::json::parse(result.output);
    EXPECT_EQ(json["source"], image.Path());
    EXPECT_EQ(json["fatFound"], true);
    EXPECT_EQ(json["fatKind"], "FAT12/16");
    EXPECT_GT(json["blockSectors"].get<int>(), 0);
    ASSERT_EQ(json["categories"].size(), 4u);
    const char* titles[] = {"根目录", "丢失的目录", "原始的文件", "碎片扫描的文件"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(json["categories"][i]["id"], std::to_string(i));
        EXPECT_EQ(json["categories"][i]["title"], titles[i]);
    }
    const auto& root = json["categories"][0]["children"];
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[0]["name"], "Sales");
    EXPECT_EQ(root[0]["kind"], "folder");
    EXPECT_EQ(root[0]["id"], "0/0");
    const auto& fileA = root[0]["children"][0];
    EXPECT_EQ(fileA["id"], "0/0/0");
    EXPECT_EQ(fileA["name"], "a.xls");
    EXPECT_EQ(fileA["kind"], "file");
    EXPECT_EQ(fileA["deleted"], false);
    EXPECT_EQ(fileA["flags"], 4);
    EXPECT_FALSE(fileA.contains("children"));
    EXPECT_EQ(fileA["sectors"].size(), fileA["sectorCount"].get<size_t>());
    EXPECT_EQ(fileA["sectors"][0], fileA["firstSector"]);
    EXPECT_GE(fileA["sectorCount"].get<size_t>() * 512, a.size());
    EXPECT_EQ(fileA["created"].get<std::string>().size(), 19u);
}

TEST_F(CliEndToEnd, SavingTwiceIntoOneFolderNumbersTheSecondCopies) {
    const std::string out = dir.File("out");
    for (int round = 0; round < 2; ++round) {
        auto result = RunStdout(Cli() + " save " + ShellQuote(image.Path()) + " --to " + ShellQuote(out), dir.File("err"));
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        EXPECT_EQ(result.output, "saved 2 files to " + out + "\n");
    }
    for (const char* name : {"根目录/Sales/a.xls", "根目录/Sales/a_1.xls"})
        EXPECT_TRUE(StartsWith(test::ReadFileBytes(out + "/" + name), a)) << name;
    for (const char* name : {"根目录/b.xls", "根目录/b_1.xls"})
        EXPECT_TRUE(StartsWith(test::ReadFileBytes(out + "/" + name), b)) << name;

    // One node by its id: a file goes straight into the folder.
    const std::string one = dir.File("one");
    auto result = RunStdout(Cli() + " save " + ShellQuote(image.Path()) + " --to " + ShellQuote(one) + " --node 0/1",
                            dir.File("err"));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(StartsWith(test::ReadFileBytes(one + "/b.xls"), b));
    EXPECT_EQ(RunCommand(Cli() + " save " + ShellQuote(image.Path()) + " --to " + ShellQuote(one) + " --node 0/9").exitStatus, 2);
}

TEST_F(CliEndToEnd, CodePageOption) {
    EXPECT_EQ(RunCommand(Cli() + " scan --codepage 1252 " + ShellQuote(image.Path()) + " >/dev/null").exitStatus, 0);
    auto bad = RunCommand(Cli() + " scan --codepage NO-SUCH-PAGE " + ShellQuote(image.Path()));
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_EQ(bad.output, "tabulon: unknown code page 'NO-SUCH-PAGE'\n");
}

TEST_F(CliEndToEnd, FilesNotSavedWholeAreNamedAndFailTheCommand) {
    const std::string out = dir.File("out");
    fs::create_directories(out + "/根目录");
    ASSERT_TRUE(test::WriteFileBytes(out + "/根目录/Sales", {1}));  // a file where the folder should go
    auto result = RunCommand(Cli() + " save " + ShellQuote(image.Path()) + " --to " + ShellQuote(out));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("not saved whole: " + out + "/根目录/Sales/a.xls"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("saved 1 file to " + out), std::string::npos) << result.output;
    EXPECT_TRUE(StartsWith(test::ReadFileBytes(out + "/根目录/b.xls"), b));
}

TEST(CliDemo, RecoverFillsThreeCategoriesFromTheDemoImage) {
    if (!test::MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "needs mkfs.fat and mtools";
    test::TempDir dir;
    const std::string image = dir.File("demo.img");
    ASSERT_EQ(RunCommand(ShellQuote(test::SourceDir() + "/tools/make_demo_image.sh") + " " + ShellQuote(image)).exitStatus, 0);
    const std::string out = dir.File("recovered");
    auto result = RunStdout(Cli() + " recover " + ShellQuote(image) + " --to " + ShellQuote(out) + " --fragments",
                            dir.File("err"));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    for (const char* expected : {"[0] 根目录\n", "budget.xls", "quarterly report.xls", "[1] 丢失的目录\n", "archive 2019.xls",
                                 "contracts.xls", "[2] 原始的文件\n", "[3] 碎片扫描的文件\n"})
        EXPECT_NE(result.output.find(expected), std::string::npos) << expected << "\n" << result.output;
    for (const char* category : {"根目录", "丢失的目录", "原始的文件"}) {
        size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(out + "/" + category)) files += entry.is_regular_file();
        EXPECT_GT(files, 0u) << category;
    }
    // The deleted workbook in two pieces: its plain copy is broken, the rebuilt candidate is whole.
    const std::string sales = dir.File("sales.xls");
    ASSERT_EQ(RunCommand("/usr/bin/python3 " + ShellQuote(test::SourceDir() + "/tools/make_workbook.py") + " " +
                         ShellQuote(sales) + " --rows 900 --cols 6 --sheets 2 --seed 5 --title Sales")
                  .exitStatus,
              0);
    const auto original = test::ReadFileBytes(sales);
    EXPECT_FALSE(StartsWith(test::ReadFileBytes(out + "/根目录/sales 2026.xls"), original));
    EXPECT_TRUE(StartsWith(test::ReadFileBytes(out + "/碎片扫描的文件/sales 2026/sales 2026_1.xls"), original))
        << result.output;
}

}  // namespace
}  // namespace tabulon
