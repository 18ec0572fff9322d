#include <gtest/gtest.h>

#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::MtoolsImage;
using test::RunCommand;
using test::ShellQuote;

std::string Ls(const std::string& args) { return ShellQuote(test::CliPath()) + " ls " + args; }

TEST(LsCommand, ListsLiveDeletedAndLostEntries) {
    if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "mkfs.fat and mtools are not installed";
    test::TempDir dir;
    MtoolsImage image(dir.File("stick.img"));
    const auto format = MtoolsImage::Format::Of(16, 16384, 4);
    ASSERT_TRUE(image.Create(format));
    ASSERT_TRUE(image.MakeDirectory("/Reports"));
    ASSERT_TRUE(image.WriteFile("/Reports/Budget 2026.xls", std::vector<uint8_t>(3000, 1)));
    ASSERT_TRUE(image.WriteFile("/Removed workbook.xls", std::vector<uint8_t>(100, 2)));
    ASSERT_TRUE(image.DeleteFile("/Removed workbook.xls"));

    auto live = RunCommand(Ls(ShellQuote(image.Path())));
    ASSERT_EQ(live.exitStatus, 0) << live.output;
    EXPECT_NE(live.output.find("/Reports/\t-\t0\t2\t"), std::string::npos) << live.output;
    EXPECT_NE(live.output.find("/Reports/Budget 2026.xls\t-\t3000\t3\t"), std::string::npos) << live.output;
    EXPECT_EQ(live.output.find("Removed"), std::string::npos) << live.output;

    auto all = RunCommand(Ls("--deleted " + ShellQuote(image.Path())));
    ASSERT_EQ(all.exitStatus, 0) << all.output;
    EXPECT_NE(all.output.find("/Removed workbook.xls\tdeleted\t100\t"), std::string::npos) << all.output;

    ASSERT_TRUE(image.Reformat(format));
    auto lost = RunCommand(Ls("--lost " + ShellQuote(image.Path())));
    ASSERT_EQ(lost.exitStatus, 0) << lost.output;
    EXPECT_NE(lost.output.find("/Recycle/Folder 2/\tdeleted\t0\t2\t"), std::string::npos) << lost.output;
    EXPECT_NE(lost.output.find("/Recycle/Folder 2/Budget 2026.xls\tdeleted\t3000\t3\t"), std::string::npos)
        << lost.output;
}

TEST(LsCommand, FindsTheVolumeBehindAPartitionTable) {
    if (!MtoolsImage::ToolsAvailable() || !test::HasProgram("sfdisk")) GTEST_SKIP() << "needs mtools and sfdisk";
    test::TempDir dir;
    MtoolsImage volume(dir.File("vol.img"));
    const auto format = MtoolsImage::Format::Of(32, 40960);
    ASSERT_TRUE(volume.Create(format));
    ASSERT_TRUE(volume.WriteFile("/Inside the partition.xls", std::vector<uint8_t>(10, 3)));
    const std::string disk = dir.File("disk.img");
    ASSERT_EQ(RunCommand("truncate -s 48M " + disk + " && printf 'start=2048, size=81920, type=c\\n' | sfdisk -q " + disk +
                         " && dd if=" + volume.Path() + " of=" + disk + " bs=512 seek=2048 conv=notrunc status=none")
                  .exitStatus,
              0);
    auto result = RunCommand(Ls(ShellQuote(disk)));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("/Inside the partition.xls\t-\t10\t"), std::string::npos) << result.output;
}

TEST(LsCommand, NothingToMountIsOneClearLine) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir.File("zero.img"), std::vector<uint8_t>(1 << 20, 0)));
    auto result = RunCommand(Ls(ShellQuote(dir.File("zero.img"))));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "tabulon: no FAT volume could be mounted on '" + dir.File("zero.img") + "'\n");
    auto missing = RunCommand(Ls(ShellQuote(dir.File("missing.img"))));
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.output.find("cannot open source"), std::string::npos);
    EXPECT_EQ(RunCommand(Ls("")).exitStatus, 2);
}

}  // namespace
}  // namespace tabulon
