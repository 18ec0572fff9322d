#include "preview/preview_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "common/utf8_text.h"
#include "support/test_environment.h"
#include "workbook/independent_readers.h"
#include "workbook/worksheet.h"

namespace tabulon {
namespace {

using test::TempDir;

PreviewContent Content(std::vector<std::pair<std::u16string, std::vector<PreviewCell>>> sheets) {
    PreviewContent content;
    for (auto& [name, cells] : sheets) {
        PreviewSheet sheet;
        sheet.name = name;
        sheet.cells = cells;
        content.sheets.push_back(sheet);
    }
    return content;
}

PreviewCell Cell(uint16_t row, uint16_t column, std::u16string text) {
    PreviewCell cell;
    cell.row = row;
    cell.column = column;
    cell.text = std::move(text);
    return cell;
}

// Per sheet, the texts the export puts into the grid: the last text at each position wins.
std::vector<std::map<std::pair<int, int>, std::string>> ExpectedTexts(const PreviewContent& content) {
    std::vector<std::map<std::pair<int, int>, std::string>> sheets;
    for (const auto& sheet : content.sheets) {
        std::map<std::pair<int, int>, std::string> texts;
        for (const auto& cell : sheet.cells) {
            if (cell.column >= kMaxSheetColumns) continue;  // outside a sheet: skipped by the export
            if (cell.text.empty())
                texts.erase({cell.row, cell.column});
            else
                texts[{cell.row, cell.column}] = Utf16ToUtf8(cell.text);
        }
        sheets.push_back(std::move(texts));
    }
    return sheets;
}

// Compares an exported file's xlrd reading with the previewed content; a reason when they differ.
std::string Difference(const PreviewContent& content, const test::XlrdBook& book) {
    if (!book.opened) return "xlrd: " + book.error;
    auto names = ExportSheetNames(content);
    if (book.sheets.size() != names.size()) return "sheet count";
    auto expected = ExpectedTexts(content);
    for (size_t s = 0; s < names.size(); ++s) {
        if (book.sheets[s].name != Utf16ToUtf8(names[s])) return "sheet name " + book.sheets[s].name;
        std::map<std::pair<int, int>, std::string> got;
        for (const auto& cell : book.sheets[s].cells) {
            if (cell.kind != "text") return "a cell that is not text";
            got[{cell.row, cell.column}] = cell.value;
        }
        if (got != expected[s]) return "cells of sheet " + std::to_string(s);
    }
    return "";
}

// Reads the exported file back with the project's own preview reader.
std::string PreviewDifference(const PreviewContent& content, const std::string& path) {
    std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    PreviewWorkbook reader;
    reader.Load(bytes.data(), bytes.size());
    PreviewContent again = reader.Snapshot();
    auto names = ExportSheetNames(content);
    if (again.sheets.size() != names.size()) return "preview sheet count";
    auto expected = ExpectedTexts(content);
    auto got = ExpectedTexts(again);
    for (size_t s = 0; s < names.size(); ++s) {
        if (again.sheets[s].name != names[s]) return "preview sheet name";
        if (got[s] != expected[s]) return "preview cells of sheet " + std::to_string(s);
    }
    return "";
}

TEST(PreviewExportTest, SheetNamesKeepEveryUsableName) {
    struct Case {
        std::vector<std::u16string> previewed;
        std::vector<std::u16string> exported;
    };
    const Case cases[] = {
        {{u"Data", u"Data", u"", u"Sheet1"}, {u"Data", u"Sheet2", u"Sheet3", u"Sheet1"}},
        {{u"Sheet3", u"Sheet2", u"Sheet1"}, {u"Sheet3", u"Sheet2", u"Sheet1"}},
        {{u"a", u"A", std::u16string(256, u'x')}, {u"a", u"Sheet2", u"Sheet3"}},
        {{u"", u"Sheet1"}, {u"Sheet2", u"Sheet1"}},
    };
    for (const Case& c : cases) {
        PreviewContent content;
        for (const auto& name : c.previewed) {
            content.sheets.emplace_back();
            content.sheets.back().name = name;
        }
        EXPECT_EQ(ExportSheetNames(content), c.exported);
    }
    EXPECT_EQ(WithXlsExtension("out"), "out.xls");
    EXPECT_EQ(WithXlsExtension("OUT.XLS"), "OUT.XLS");
    EXPECT_EQ(WithXlsExtension("a.Xls"), "a.Xls");
    EXPECT_EQ(WithXlsExtension("a.xlsx"), "a.xlsx.xls");
}

TEST(PreviewExportTest, PreviewedTextsBecomeANewWorkbook) {
    TempDir dir;
    PreviewContent content = Content({
        {u"Sheet3", {Cell(0, 0, u"A1"), Cell(0, 1, u"12.5"), Cell(3, 2, u"\u9500\u552e"), Cell(3, 2, u"replaced")}},
        {u"Sheet2", {}},
        {u"Sheet1", {Cell(65535, 255, u"corner"), Cell(1, 1, u"same"), Cell(2, 1, u"same"), Cell(5, 0, u"")}},
    });
    std::string path = dir.File("export.xls");
    ASSERT_EQ(SavePreview(content, path), SavePreviewResult::Saved);
    EXPECT_EQ(Difference(content, test::ReadWithXlrd(path)), "");
    EXPECT_EQ(PreviewDifference(content, path), "");

    EXPECT_EQ(SavePreview(PreviewContent(), dir.File("none.xls")), SavePreviewResult::NothingToSave);
    EXPECT_EQ(SavePreview(Content({{u"Empty", {Cell(0, 0, u"")}}}), dir.File("none.xls")), SavePreviewResult::NothingToSave);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.xls")));
    EXPECT_EQ(SavePreview(content, dir.File("missing/export.xls")), SavePreviewResult::WriteFailed);
}

TEST(PreviewExportTest, CorpusPreviewsRoundTrip) {
    auto files = test::CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "no workbook corpus at " << TABULON_CORPUS_DIR;
    TempDir dir;
    std::vector<PreviewContent> contents;
    std::vector<std::string> names;
    std::vector<std::string> exported;
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> bytes = test::ReadFileBytes(files[i]);
        if (bytes.size() > kPreviewByteLimit) bytes.resize(kPreviewByteLimit);
        PreviewWorkbook reader;
        reader.Load(bytes.data(), bytes.size());
        PreviewContent content = reader.Snapshot();
        std::string out = dir.File(std::to_string(i) + ".xls");
        SavePreviewResult result = SavePreview(content, out);
        if (result == SavePreviewResult::NothingToSave) continue;
        ASSERT_EQ(result, SavePreviewResult::Saved) << files[i];
        contents.push_back(std::move(content));
        names.push_back(files[i]);
        exported.push_back(out);
    }
    auto books = test::ReadManyWithXlrd(exported);
    size_t exact = 0;
    size_t previewExact = 0;
    for (size_t i = 0; i < exported.size(); ++i) {
        std::string difference = Difference(contents[i], books[i]);
        EXPECT_EQ(difference, "") << names[i];
        if (difference.empty()) ++exact;
        // The preview reader joins a shared string table's CONTINUE records only behind a record of
        // exactly 8224 bytes, so it may miss strings of large exports; counted, not required.
        std::string previewDifference = PreviewDifference(contents[i], exported[i]);
        if (previewDifference.empty()) ++previewExact;
        else std::cout << "preview read-back differs (" << previewDifference << "): " << names[i] << "\n";
    }
    std::cout << "corpus: " << files.size() << " files, " << exported.size() << " with cell texts exported, " << exact
              << " read back by xlrd exactly, " << previewExact << " by the preview reader\n";
    EXPECT_GT(exported.size(), 0u);
}

TEST(PreviewExportTest, ExportCommand) {
    TempDir dir;
    std::string source = dir.File("source.xls");
    ASSERT_TRUE(test::MakeWorkbook(source, 30, 4, 2, 7));
    std::string cli = test::ShellQuote(test::CliPath());
    std::string out = dir.File("out.xls");
    auto result = test::RunCommand(cli + " export " + test::ShellQuote(source) + " --to " + test::ShellQuote(out));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    auto book = test::ReadWithXlrd(out);
    ASSERT_TRUE(book.opened) << book.error;
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[0].name, "Sales1");
    EXPECT_EQ(book.sheets[1].name, "Sales2");
    EXPECT_EQ(book.sheets[0].cells.size(), 30u * 4);

    std::vector<uint8_t> before = test::ReadFileBytes(source);
    result = test::RunCommand(cli + " export " + test::ShellQuote(source) + " --to " + test::ShellQuote(source));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(test::ReadFileBytes(source), before);  // the source is never written

    std::string text = dir.File("notes.txt");
    ASSERT_TRUE(test::WriteFileBytes(text, std::vector<uint8_t>(2000, 'x')));
    result = test::RunCommand(cli + " export " + test::ShellQuote(text) + " --to " + test::ShellQuote(dir.File("n.xls")));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("nothing to export"), std::string::npos) << result.output;
    EXPECT_EQ(test::RunCommand(cli + " export " + test::ShellQuote(source)).exitStatus, 2);
    EXPECT_EQ(test::RunCommand(cli + " export " + test::ShellQuote(dir.File("missing.xls")) + " --to " +
                               test::ShellQuote(out)).exitStatus, 1);
}

}  // namespace
}  // namespace tabulon
