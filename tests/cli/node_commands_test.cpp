// preview and export of a file node of a source, without saving the file first.

#include <gtest/gtest.h>

#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::RunCommand;
using test::ShellQuote;

TEST(NodeCommands, PreviewAndExportAFileOfASource) {
    if (!test::MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "needs mkfs.fat and mtools";
    test::TempDir dir;
    const std::string workbook = dir.File("book.xls");
    ASSERT_TRUE(test::MakeWorkbook(workbook, 10, 3, 1, 5));
    test::MtoolsImage image(dir.File("stick.img"));
    test::MtoolsImage::Format layout;
    layout.fatBits = 16;
    layout.sizeKiB = 16384;
    ASSERT_TRUE(image.Create(layout));
    ASSERT_TRUE(image.WriteFile("/book.xls", test::ReadFileBytes(workbook)));

    const std::string cli = ShellQuote(test::CliPath());
    auto fromFile = RunCommand(cli + " preview " + ShellQuote(workbook) + " --format csv");
    ASSERT_EQ(fromFile.exitStatus, 0) << fromFile.output;
    EXPECT_NE(fromFile.output.find("Column 1"), std::string::npos) << fromFile.output;
    auto fromNode = RunCommand(cli + " preview " + ShellQuote(image.Path()) + " --node 0/0 --format csv 2>/dev/null");
    ASSERT_EQ(fromNode.exitStatus, 0) << fromNode.output;
    EXPECT_EQ(fromNode.output, fromFile.output);

    const std::string out = dir.File("out.xls");
    auto exported = RunCommand(cli + " export " + ShellQuote(image.Path()) + " --node 0/0 --to " + ShellQuote(out));
    ASSERT_EQ(exported.exitStatus, 0) << exported.output;
    auto reread = RunCommand(cli + " preview " + ShellQuote(out) + " --format csv");
    EXPECT_EQ(reread.output, fromFile.output);

    // A node that is no file, and one that does not exist.
    EXPECT_EQ(RunCommand(cli + " preview " + ShellQuote(image.Path()) + " --node 0").exitStatus, 1);
    auto missing = RunCommand(cli + " preview " + ShellQuote(image.Path()) + " --node 0/7");
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.output.find("names no file"), std::string::npos) << missing.output;
}

}  // namespace
}  // namespace tabulon
