#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::RunCommand;
using test::ShellQuote;

std::string Cli() { return ShellQuote(test::CliPath()); }

TEST(ScanCommand, ErrorsAreOneClearLineWithTheContractStatus) {
    test::TempDir dir;
    auto missing = RunCommand(Cli() + " scan " + ShellQuote(dir.File("missing.img")));
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.output, "tabulon: cannot open source '" + dir.File("missing.img") + "' for reading\n");

    EXPECT_EQ(RunCommand(Cli() + " scan").exitStatus, 2);
    EXPECT_EQ(RunCommand(Cli() + " save " + ShellQuote(dir.File("x.img"))).exitStatus, 2);  // --to is required
    EXPECT_EQ(RunCommand(Cli() + " recover --bogus x").exitStatus, 2);
}

}  // namespace
}  // namespace tabulon
