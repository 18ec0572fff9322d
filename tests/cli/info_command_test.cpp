#include <gtest/gtest.h>

#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::RunCommand;
using test::ShellQuote;

TEST(InfoCommand, ReportsTheBootSectorKindOfMkfsImages) {
    if (!test::HasProgram("mkfs.fat")) GTEST_SKIP() << "mkfs.fat is not installed";
    test::TempDir dir;
    struct Case {
        const char* fatBits;
        const char* size;
        const char* kind;
    };
    for (const Case& c : {Case {"12", "1440K", "FAT12/16"}, Case {"16", "32M", "FAT12/16"}, Case {"32", "40M", "FAT32"}}) {
        SCOPED_TRACE(c.fatBits);
        const std::string image = dir.File(std::string("fat") + c.fatBits + ".img");
        ASSERT_EQ(RunCommand("truncate -s " + std::string(c.size) + " " + image + " && mkfs.fat -F " + c.fatBits + " " +
                             image + " >/dev/null")
                      .exitStatus,
                  0);
        auto result = RunCommand(ShellQuote(test::CliPath()) + " info " + ShellQuote(image));
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        EXPECT_NE(result.output.find("kind: image"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(std::string("sector 0 boot sector: ") + c.kind + "\n"), std::string::npos)
            << result.output;
    }
}

TEST(InfoCommand, ListsPartitionsOfAWholeDiskImage) {
    if (!test::HasProgram("mkfs.fat") || !test::HasProgram("sfdisk")) GTEST_SKIP() << "needs mkfs.fat and sfdisk";
    test::TempDir dir;
    const std::string disk = dir.File("disk.img");
    const std::string volume = dir.File("vol.img");
    ASSERT_EQ(RunCommand("truncate -s 48M " + disk + " && truncate -s 40M " + volume + " && mkfs.fat -F 32 " + volume +
                         " >/dev/null && printf 'start=2048, size=81920, type=c\\n' | sfdisk -q " + disk +
                         " && dd if=" + volume + " of=" + disk + " bs=512 seek=2048 conv=notrunc status=none")
                  .exitStatus,
              0);
    auto result = RunCommand(ShellQuote(test::CliPath()) + " info " + ShellQuote(disk));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("sector 0 boot sector: none"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("1: type 0x0C boot 0x00 first sector 2048 sectors 81920, boot sector: FAT32"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("total bytes: 50331648"), std::string::npos) << result.output;
}

TEST(InfoCommand, ErrorsAndUsage) {
    test::TempDir dir;
    auto missing = RunCommand(ShellQuote(test::CliPath()) + " info " + ShellQuote(dir.File("nope.img")));
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.output.find("cannot open source"), std::string::npos) << missing.output;

    auto directory = RunCommand(ShellQuote(test::CliPath()) + " info " + ShellQuote(dir.Path()));
    EXPECT_EQ(directory.exitStatus, 1);

    EXPECT_EQ(RunCommand(ShellQuote(test::CliPath()) + " info").exitStatus, 2);
    EXPECT_EQ(RunCommand(ShellQuote(test::CliPath()) + " no-such-command").exitStatus, 2);
    auto help = RunCommand(ShellQuote(test::CliPath()) + " info --help");
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.output.find("SOURCE"), std::string::npos);

    // An empty file opens but has no sectors.
    ASSERT_TRUE(test::WriteFileBytes(dir.File("empty.img"), {}));
    auto empty = RunCommand(ShellQuote(test::CliPath()) + " info " + ShellQuote(dir.File("empty.img")));
    EXPECT_EQ(empty.exitStatus, 0);
    EXPECT_NE(empty.output.find("sector 0: unreadable"), std::string::npos) << empty.output;
}

}  // namespace
}  // namespace tabulon
