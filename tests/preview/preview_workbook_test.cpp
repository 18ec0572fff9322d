// The preview reader on real workbooks: files written by python3-xlwt and the corpus, checked cell by
// cell against python3-xlrd, whole and damaged; naming by content.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "common/utf8_text.h"
#include "preview/name_from_content.h"
#include "preview/preview_workbook.h"
#include "support/test_environment.h"
#include "xlrd_reference.h"

namespace tabulon {
namespace {

using Bytes = std::vector<uint8_t>;

// BIFF record types of the cells the preview reads.
const std::vector<int> kPreviewCellRecords = {0x00FD, 0x0203, 0x027E, 0x00BD, 0x0205};

PreviewContent LoadBytes(const std::vector<uint8_t>& bytes) {
    PreviewWorkbook workbook;
    auto exact = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), exact.get());
    workbook.Load(exact.get(), bytes.size());
    return workbook.Snapshot();
}

std::string Joined(const std::vector<test::Disagreement>& disagreements, size_t limit = 10) {
    std::string out;
    for (size_t i = 0; i < disagreements.size() && i < limit; ++i) out += "\n  " + test::Describe(disagreements[i]);
    return out;
}

bool HaveXlwt() { return test::RunCommand("/usr/bin/python3 -c 'import xlwt, xlrd, olefile'").exitStatus == 0; }

const PreviewSheet* SheetNamed(const PreviewContent& content, const std::string& name) {
    for (const PreviewSheet& sheet : content.sheets)
        if (Utf16ToUtf8(sheet.name) == name) return &sheet;
    return nullptr;
}

class XlwtWorkbook : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveXlwt()) GTEST_SKIP() << "python3-xlwt, python3-xlrd or python3-olefile is not installed";
    }
    test::TempDir dir_;
};

TEST_F(XlwtWorkbook, EveryCellAgreesWithXlrd) {
    const std::string path = dir_.File("preview.xls");
    ASSERT_EQ(test::RunCommand("/usr/bin/python3 " +
                               test::ShellQuote(test::SourceDir() + "/tests/preview/make_preview_workbook.py") + " " +
                               test::ShellQuote(path))
                  .exitStatus,
              0);
    auto reference = test::ReadWithXlrd({path});
    ASSERT_EQ(reference.size(), 1u);
    ASSERT_TRUE(reference[0].error.empty()) << reference[0].error;
    // The strings fill several records, so the table's CONTINUE records are exercised.
    EXPECT_GE(reference[0].sstContinues, 3);

    PreviewContent content = LoadBytes(test::ReadFileBytes(path));
    ASSERT_EQ(content.sheets.size(), 3u);
    size_t checked = 0;
    auto disagreements = test::Compare(content, reference[0], {}, &checked);
    EXPECT_TRUE(disagreements.empty()) << disagreements.size() << " of " << checked << Joined(disagreements);
    EXPECT_GE(checked, 2716u);  // 2100 texts, 600 numbers and booleans, 14 error cells and labels, 2 merges
    size_t kinds[4] = {};
    for (const auto& sheet : reference[0].sheets)
        for (const auto& cell : sheet.cells)
            kinds[cell.kind == "text" ? 0 : cell.kind == "number" ? 1 : cell.kind == "bool" ? 2 : 3]++;
    EXPECT_GT(kinds[0], 0u);
    EXPECT_GT(kinds[1], 0u);
    EXPECT_GT(kinds[2], 0u);
    EXPECT_GT(kinds[3], 0u);

    // Layout of the third sheet: merged ranges, widths and heights as the grid needs them.
    const PreviewScale scale = CurrentPreviewScale();
    const PreviewSheet& layout = content.sheets[2];
    EXPECT_EQ(layout.mergeAnchors, (std::map<uint32_t, uint32_t> {{10u * 65536 + 0, 11u * 65536 + 2}}));
    EXPECT_EQ(layout.mergeEdges.size(), 6u);
    EXPECT_EQ(layout.columnWidths.at(0), static_cast<int32_t>(std::lround(20 * scale.characterWidth)));
    EXPECT_EQ(layout.columnWidths.count(30), 0u);
    EXPECT_EQ(layout.rowHeights.at(3), static_cast<int32_t>(std::lround(600 / 15.0 * scale.pixelsPerPoint)));
}

TEST_F(XlwtWorkbook, GeneratedWorkbooksOfSeveralShapesAgreeWithXlrd) {
    struct Shape {
        int rows, cols, sheets, seed;
    };
    std::vector<std::string> paths;
    for (const Shape& shape : {Shape {1, 1, 1, 3}, Shape {40, 8, 4, 4}, Shape {3000, 6, 2, 5}}) {
        paths.push_back(dir_.File("shape" + std::to_string(paths.size()) + ".xls"));
        ASSERT_TRUE(test::MakeWorkbook(paths.back(), shape.rows, shape.cols, shape.sheets, shape.seed));
    }
    auto reference = test::ReadWithXlrd(paths);
    ASSERT_EQ(reference.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        PreviewContent content = LoadBytes(test::ReadFileBytes(paths[i]));
        EXPECT_EQ(content.sheets.size(), reference[i].sheets.size());
        size_t checked = 0;
        auto disagreements = test::Compare(content, reference[i], {}, &checked);
        EXPECT_TRUE(disagreements.empty()) << disagreements.size() << " of " << checked << Joined(disagreements);
        EXPECT_GT(checked, 0u);
    }
}

class DamagedWorkbook : public XlwtWorkbook {
protected:
    void SetUp() override {
        XlwtWorkbook::SetUp();
        if (IsSkipped()) return;
        path_ = dir_.File("clean.xls");
        ASSERT_TRUE(test::MakeWorkbook(path_, 400, 6, 3, 7));
        clean_ = test::ReadFileBytes(path_);
        auto reference = test::ReadWithXlrd({path_});
        ASSERT_EQ(reference.size(), 1u);
        reference_ = reference[0];
        ASSERT_TRUE(reference_.contiguous);
        for (const auto& sheet : reference_.sheets) total_ += sheet.cells.size();
    }

    // Checks a damaged copy: whatever the preview shows is right, and no more than `maxMissing` cells
    // are lost; the last sheet, after the damage, must be whole.
    void ExpectPreviewAfterDamage(const Bytes& damaged, size_t maxMissing) {
        PreviewContent content = LoadBytes(damaged);
        auto disagreements = test::Compare(content, reference_);
        size_t missing = 0;
        for (const auto& d : disagreements) {
            if (d.got == "<missing>") {
                ++missing;
                continue;
            }
            ADD_FAILURE() << "wrong text " << test::Describe(d);
        }
        EXPECT_LE(missing, maxMissing) << Joined(disagreements);
        ReferenceOnlyLastSheet(content);
    }

    void ReferenceOnlyLastSheet(const PreviewContent& content) {
        test::ReferenceWorkbook last = reference_;
        last.sheets.erase(last.sheets.begin(), last.sheets.end() - 1);
        auto disagreements = test::Compare(content, last);
        EXPECT_TRUE(disagreements.empty()) << Joined(disagreements);
    }

    std::string path_;
    Bytes clean_;
    test::ReferenceWorkbook reference_;
    size_t total_ = 0;
};

TEST_F(DamagedWorkbook, AFatSectorInTheMiddleOfTheStream) {
    // A sector of a FAT32 allocation table (media byte, end marks, then a chain) lands among the
    // stream's sectors, as when a file is recovered with one wrong cluster.
    Bytes fat(512);
    for (uint32_t i = 0; i < 128; ++i) {
        uint32_t entry = i == 0 ? 0x0FFFFFF8u : i == 1 ? 0x0FFFFFFFu : i + 1;
        for (int b = 0; b < 4; ++b) fat[4 * i + b] = static_cast<uint8_t>(entry >> (8 * b));
    }
    for (size_t where : {clean_.size() / 3, clean_.size() / 2}) {
        SCOPED_TRACE(where);
        const size_t at = where / 512 * 512;
        Bytes damaged = clean_;
        damaged.insert(damaged.begin() + static_cast<long>(at), fat.begin(), fat.end());
        ExpectPreviewAfterDamage(damaged, 40);
    }
}

TEST_F(DamagedWorkbook, GarbageOverwritingPartOfTheStream) {
    std::mt19937 random(11);
    Bytes damaged = clean_;
    const size_t at = clean_.size() / 2 + 77;
    for (size_t i = 0; i < 700; ++i) damaged[at + i] = static_cast<uint8_t>(random());
    // An oversized length in the garbage sends the walk to the next BOF: the rest of that sheet is
    // lost, the sheets after it are not.
    ExpectPreviewAfterDamage(damaged, 400 * 6 / 2);
}

TEST_F(DamagedWorkbook, ATruncatedFilePreviewsWhatItHolds) {
    Bytes truncated(clean_.begin(), clean_.begin() + static_cast<long>(clean_.size() * 6 / 10));
    PreviewContent content = LoadBytes(truncated);
    auto disagreements = test::Compare(content, reference_);
    size_t missing = 0;
    for (const auto& d : disagreements) {
        if (d.got == "<missing>") ++missing;
        else ADD_FAILURE() << "wrong text " << test::Describe(d);
    }
    // Some cells are cut off, the first sheet is whole.
    EXPECT_GT(missing, 0u);
    EXPECT_LT(missing, total_);
    test::ReferenceWorkbook first = reference_;
    first.sheets.resize(1);
    EXPECT_TRUE(test::Compare(content, first).empty());
}

TEST_F(XlwtWorkbook, NameFromContentUsesA1AndTheSheetName) {
    const std::string path = dir_.File("named.xls");
    ASSERT_TRUE(test::MakeWorkbook(path, 30, 3, 2, 9));
    Bytes bytes = test::ReadFileBytes(path);
    std::vector<std::u16string> names;
    // The load worker hands over the first sectors of a found file.
    bytes.resize(std::min<size_t>(bytes.size(), 16 * 512));
    ASSERT_TRUE(NameFromContent(bytes.data(), bytes.size(), names));
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(Utf16ToUtf8(names[0]), "Column 1__Sales1");
    EXPECT_EQ(Utf16ToUtf8(names[1]), "Column 1__Sales2");
}

class Corpus : public ::testing::Test {
protected:
    void SetUp() override {
        files_ = test::CorpusFiles();
        if (files_.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    }
    std::vector<std::string> files_;
};

TEST_F(Corpus, EveryFileLoadsAndNames) {
    size_t withSheets = 0, named = 0;
    for (const std::string& file : files_) {
        SCOPED_TRACE(file);
        Bytes bytes = test::ReadFileBytes(file);
        if (bytes.size() > kPreviewByteLimit) bytes.resize(kPreviewByteLimit);
        PreviewContent content = LoadBytes(bytes);
        if (!content.sheets.empty()) ++withSheets;
        std::vector<std::u16string> names;
        Bytes head(bytes.begin(), bytes.begin() + static_cast<long>(std::min<size_t>(bytes.size(), 8192)));
        if (NameFromContent(head.data(), head.size(), names)) ++named;
        for (const auto& name : names) EXPECT_FALSE(name.empty());
    }
    EXPECT_GT(withSheets, files_.size() * 8 / 10);
    EXPECT_GT(named, 0u);
    std::printf("corpus: %zu files, %zu with sheets, %zu named from their first 8192 bytes\n", files_.size(), withSheets,
                named);
}

TEST_F(Corpus, CellsAgreeWithXlrd) {
    if (!HaveXlwt()) GTEST_SKIP() << "python3-xlrd or python3-olefile is not installed";
    auto reference = test::ReadWithXlrd(files_);
    ASSERT_EQ(reference.size(), files_.size());

    // Where the preview cannot agree, by design: the cells of files where xlrd itself succeeds are
    // counted by reason; only cells that the preview reads from a stream stored in one piece must agree.
    // Two files whose streams the walk cannot follow exactly, by how it works.
    const std::map<std::string, std::string> known = {
        {"poi__BOOK_in_capitals.xls",
         "stray bytes in the stream (after a LEFTMARGIN record): the walk skips to the next signature"},
        {"poi__excel_with_embeded.xls",
         "embedded workbooks lie before the main stream: their sheets and shared strings come first"}};
    std::map<std::string, size_t> reasons;
    size_t all = 0, agreeing = 0, strict = 0, refused = 0;
    std::vector<std::string> failures;
    for (const auto& book : reference) {
        if (!book.error.empty()) {
            ++refused;
            continue;
        }
        Bytes bytes = test::ReadFileBytes(book.file);
        if (bytes.size() > kPreviewByteLimit) bytes.resize(kPreviewByteLimit);
        PreviewContent content = LoadBytes(bytes);
        size_t checked = 0;
        auto disagreements = test::Compare(content, book, {}, &checked);
        all += checked;
        agreeing += checked - disagreements.size();
        for (const auto& d : disagreements) {
            const bool read = std::find(kPreviewCellRecords.begin(), kPreviewCellRecords.end(), d.cell.record) !=
                              kPreviewCellRecords.end();
            const bool longText = d.got.empty() && d.cell.kind == "text" && d.cell.expected.size() > 1500;
            const std::string name = std::filesystem::path(book.file).filename().string();
            std::string reason = known.count(name)           ? known.at(name)
                                 : !book.biff8                               ? "not a BIFF8 workbook (BIFF5 and older)"
                                 : !read                     ? "cell record the preview does not read (" +
                                                                   std::to_string(d.cell.record) + ")"
                                 : !book.contiguous          ? "workbook stream stored in several pieces"
                                 : longText                  ? "string above the 1500/3000-character limit"
                                                             : "";
            if (reason.empty()) {
                ++strict;
                failures.push_back(name + " " + test::Describe(d));
                reason = "other";
            }
            ++reasons[reason];
        }
    }
    std::printf("corpus agreement: %zu of %zu xlrd cells (%zu files xlrd cannot open); disagreements:\n", agreeing,
                all, refused);
    for (const auto& [reason, count] : reasons) std::printf("  %zu  %s\n", count, reason.c_str());
    EXPECT_EQ(strict, 0u);
    for (size_t i = 0; i < failures.size() && i < 20; ++i) ADD_FAILURE() << failures[i];
}

TEST_F(Corpus, ChartSheetsBeforeAWorksheetKeepTheirPlace) {
    const std::string file = test::CorpusDir() + "/poi__34775.xls";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << file << " is absent";
    PreviewContent content = LoadBytes(test::ReadFileBytes(file));
    std::vector<std::string> names;
    for (const auto& sheet : content.sheets) names.push_back(Utf16ToUtf8(sheet.name));
    EXPECT_EQ(names, (std::vector<std::string> {"Sheet1", "Chart1", "Chart2", "Pareto", "Chart3", "Chart4",
                                                "Pareto (2)", "Sheet2", "Sheet3"}));
    EXPECT_TRUE(SheetNamed(content, "Chart1")->cells.empty());
    EXPECT_FALSE(SheetNamed(content, "Pareto")->cells.empty());
    if (!HaveXlwt()) return;
    auto reference = test::ReadWithXlrd({file});
    ASSERT_EQ(reference.size(), 1u);
    size_t checked = 0;
    auto disagreements = test::Compare(content, reference[0], kPreviewCellRecords, &checked);
    EXPECT_TRUE(disagreements.empty()) << Joined(disagreements);
    EXPECT_GT(checked, 100u);
}

}  // namespace
}  // namespace tabulon
