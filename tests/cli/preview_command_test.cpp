#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::RunCommand;
using test::ShellQuote;

std::string Preview(const std::string& arguments) { return ShellQuote(test::CliPath()) + " preview " + arguments; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

bool HaveXlwt() { return RunCommand("/usr/bin/python3 -c 'import xlwt'").exitStatus == 0; }

// A workbook with texts that CSV must quote and that the grid must keep on one line.
bool WriteTrickyWorkbook(const std::string& path) {
    const std::string script =
        "import sys, xlwt\n"
        "book = xlwt.Workbook(encoding='utf-8')\n"
        "s = book.add_sheet('Tricky')\n"
        "s.write(0, 0, 'a, b'); s.write(0, 1, 'say \"hi\"'); s.write(0, 2, 'two\\nlines')\n"
        "s.write(2, 1, 1.5); s.write(2, 3, '中文')\n"
        "book.add_sheet('Empty')\n"
        "book.save(sys.argv[1])\n";
    return RunCommand("/usr/bin/python3 -c " + ShellQuote(script) + " " + ShellQuote(path)).exitStatus == 0;
}

TEST(PreviewCommand, TextGridIsAlignedUnderColumnLetters) {
    if (!HaveXlwt()) GTEST_SKIP() << "python3-xlwt is not installed";
    test::TempDir dir;
    const std::string book = dir.File("sales.xls");
    ASSERT_TRUE(test::MakeWorkbook(book, 12, 4, 2, 3));
    auto result = RunCommand(Preview(ShellQuote(book)));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    auto lines = Lines(result.output);
    ASSERT_EQ(lines.size(), 2u + 12u) << result.output;
    EXPECT_EQ(lines[0], "sheet 1 of 2: Sales1");
    // The header's letters stand where each column's texts start.
    const std::string& header = lines[1];
    const std::string& first = lines[2];
    EXPECT_EQ(first.rfind(" 1  Column 1", 0), 0u) << first;
    for (const char* column : {"B", "C", "D"}) {
        size_t at = header.find(std::string("  ") + column);
        ASSERT_NE(at, std::string::npos) << header;
        EXPECT_EQ(first.substr(at + 2, 8), "Column " + std::to_string(column[0] - 'A' + 1)) << header << "\n" << first;
    }
    EXPECT_EQ(lines.back().rfind("12  ", 0), 0u) << lines.back();

    auto second = RunCommand(Preview(ShellQuote(book) + " --sheet 2"));
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(Lines(second.output).at(0), "sheet 2 of 2: Sales2");
}

TEST(PreviewCommand, CsvAndJson) {
    if (!HaveXlwt()) GTEST_SKIP() << "python3-xlwt is not installed";
    test::TempDir dir;
    const std::string book = dir.File("tricky.xls");
    ASSERT_TRUE(WriteTrickyWorkbook(book));

    auto csv = RunCommand(Preview(ShellQuote(book) + " --format csv"));
    ASSERT_EQ(csv.exitStatus, 0) << csv.output;
    EXPECT_EQ(csv.output, "\"a, b\",\"say \"\"hi\"\"\",\"two\nlines\",\r\n,,,\r\n,1.5,,中文\r\n");

    auto grid = RunCommand(Preview(ShellQuote(book)));
    ASSERT_EQ(grid.exitStatus, 0);
    // The line break shows as a space; the wide characters count twice, so column D is 4 places wide.
    EXPECT_EQ(grid.output,
              "sheet 1 of 2: Tricky\n"
              "   A     B         C          D\n"
              "1  a, b  say \"hi\"  two lines\n"
              "2\n"
              "3        1.5                  中文\n");

    auto json = RunCommand(Preview(ShellQuote(book) + " --format json"));
    ASSERT_EQ(json.exitStatus, 0) << json.output;
    auto document = nlohmann::json::parse(json.output);
    ASSERT_EQ(document["sheets"].size(), 2u);
    EXPECT_EQ(document["sheets"][0]["name"], "Tricky");
    EXPECT_EQ(document["sheets"][1]["name"], "Empty");
    EXPECT_TRUE(document["sheets"][1]["cells"].empty());
    const auto& cells = document["sheets"][0]["cells"];
    ASSERT_EQ(cells.size(), 5u);
    EXPECT_EQ(cells[2], (nlohmann::json {{"row", 0}, {"column", 2}, {"text", "two\nlines"}}));
    EXPECT_EQ(cells[4], (nlohmann::json {{"row", 2}, {"column", 3}, {"text", "中文"}}));

    auto one = nlohmann::json::parse(RunCommand(Preview(ShellQuote(book) + " --format json --sheet 2")).output);
    ASSERT_EQ(one["sheets"].size(), 1u);
    EXPECT_EQ(one["sheets"][0]["name"], "Empty");
    auto empty = RunCommand(Preview(ShellQuote(book) + " --sheet 2"));
    EXPECT_EQ(empty.output, "sheet 2 of 2: Empty\n(no cells)\n");
}

TEST(PreviewCommand, ErrorsAndFilesWithoutSheets) {
    test::TempDir dir;
    struct Case {
        std::string arguments;
        int status;
        std::string message;
    };
    const std::string garbage = dir.File("garbage.bin");
    std::vector<uint8_t> bytes(4000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_TRUE(test::WriteFileBytes(garbage, bytes));
    const std::string empty = dir.File("empty.xls");
    ASSERT_TRUE(test::WriteFileBytes(empty, {}));
    for (const Case& c : std::vector<Case> {
             {ShellQuote(dir.File("missing.xls")), 1, "cannot read"},
             {ShellQuote(dir.Path()), 1, "it is a folder"},
             {ShellQuote(garbage), 0, "no sheets found in " + garbage},
             {ShellQuote(empty), 0, "no sheets found"},
             {ShellQuote(garbage) + " --format json", 0, "\"sheets\": []"},
             {ShellQuote(garbage) + " --sheet 2", 1, "has 0 sheets; there is no sheet 2"},
             {ShellQuote(garbage) + " --format xml", 2, "--format"},
             {ShellQuote(garbage) + " --sheet 0", 2, "--sheet"},
             {"", 2, "FILE"},
         }) {
        SCOPED_TRACE(c.arguments);
        auto result = RunCommand(Preview(c.arguments));
        EXPECT_EQ(result.exitStatus, c.status) << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
        if (c.status == 1) {
            EXPECT_EQ(Lines(result.output).size(), 1u) << result.output;
        }
    }
}

}  // namespace
}  // namespace tabulon
