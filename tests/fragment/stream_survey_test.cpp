// Record rules and block classification on real workbook streams: workbooks written by python3-xlwt
// (well inside the rules' limits) and the shared corpus of real files.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "support/compound_file_reader.h"
#include "support/stream_survey.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using namespace tabulon::test;

std::optional<std::vector<uint8_t>> WorkbookStreamOf(const std::vector<uint8_t>& file) {
    CompoundFileReader reader;
    if (!reader.Open(file)) return std::nullopt;
    return reader.ReadWorkbookStream();
}

TEST(StreamSurvey, WrittenWorkbookRecordsAreAllPlausibleAndItsBlocksPass) {
    TempDir dir;
    const std::string path = dir.File("book.xls");
    if (!MakeWorkbook(path, 400, 12, 3, 7)) GTEST_SKIP() << "python3-xlwt is not available";
    const std::vector<uint8_t> file = ReadFileBytes(path);
    std::optional<std::vector<uint8_t>> stream = WorkbookStreamOf(file);
    ASSERT_TRUE(stream.has_value());
    ASSERT_GT(stream->size(), 32768u);

    std::map<uint16_t, TypeTally> types;
    TallyRecords(*stream, types);
    for (uint16_t type : {0x0809, 0x00FC, 0x00FD, 0x0203, 0x027E, 0x0208, 0x000A}) EXPECT_GT(types[type].seen, 0u) << type;
    for (const auto& [type, tally] : types) EXPECT_EQ(tally.plausible, tally.seen) << "type 0x" << std::hex << type;

    for (uint32_t blockBytes : {512u, 4096u}) {
        BlockTally blocks;
        TallyContinuationBlocks(*stream, blockBytes, blocks);
        EXPECT_GT(blocks.blocks, 0u);
        EXPECT_EQ(blocks.passed, blocks.blocks) << blockBytes << "-byte blocks";
    }

    // The whole stream classified as one block is a complete workbook.
    BlockProfile profile;
    LastRecord last;
    ASSERT_TRUE(ClassifyBlock(*stream, 0, int32_t(stream->size()), profile, last));
    EXPECT_TRUE(IsComplete(profile));
    EXPECT_EQ(profile.bofCount, 4);  // the workbook globals and three sheets
    EXPECT_TRUE(last.type == 0x000A || IsFiller(last.type)) << last.type;  // the stream may end in padding
}

TEST(StreamSurvey, ReaderAgreesWithAnIndependentCompoundFileReader) {
    const std::vector<std::string> files = CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    TempDir dir;
    // python3-olefile extracts every workbook stream it can read; the reader must produce the same bytes.
    const std::string script =
        "import olefile, os, sys\n"
        "for i, f in enumerate(sys.argv[2:]):\n"
        "    try:\n"
        "        ole = olefile.OleFileIO(f)\n"
        "        name = 'Workbook' if ole.exists('Workbook') else 'Book'\n"
        "        if ole.get_size(name) != len(data := ole.openstream(name).read()): continue\n"
        "        open(os.path.join(sys.argv[1], str(i)), 'wb').write(data)\n"
        "    except Exception:\n"
        "        pass\n";
    ASSERT_TRUE(WriteFileBytes(dir.File("extract.py"), std::vector<uint8_t>(script.begin(), script.end())));
    std::string command = "/usr/bin/python3 " + ShellQuote(dir.File("extract.py")) + " " + ShellQuote(dir.Path());
    for (const std::string& f : files) command += " " + ShellQuote(f);
    CommandResult result = RunCommand(command);
    if (result.exitStatus != 0) GTEST_SKIP() << "python3-olefile is not usable: " << result.output;

    int compared = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::vector<uint8_t> expected = ReadFileBytes(dir.File(std::to_string(i)));
        std::optional<std::vector<uint8_t>> stream = WorkbookStreamOf(ReadFileBytes(files[i]));
        if (expected.empty()) continue;
        ASSERT_TRUE(stream.has_value()) << files[i];
        EXPECT_EQ(*stream, expected) << files[i];
        ++compared;
    }
    EXPECT_GT(compared, int(files.size()) * 9 / 10);
}

TEST(StreamSurvey, CorpusBlocksPassAndNoiseDoesNot) {
    const std::vector<std::string> files = CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    std::map<uint16_t, TypeTally> types;
    std::map<uint32_t, BlockTally> blocks;
    for (const std::string& path : files) {
        std::optional<std::vector<uint8_t>> stream = WorkbookStreamOf(ReadFileBytes(path));
        if (!stream) continue;
        // Every stream, BIFF8 or not, damaged or not, is walked: the rules must survive all of them.
        TallyRecords(*stream, types);
        for (uint32_t size : {512u, 4096u, 32768u}) TallyContinuationBlocks(*stream, size, blocks[size]);
    }
    // Records of the stream's frame are nearly always within the rules' limits; cell records often are
    // not (rows beyond 0x3FFF, format indices beyond 1000), which the rules reject by design.
    for (uint16_t type : {0x0809, 0x000A, 0x003C, 0x0085, 0x00E0, 0x0031}) {
        ASSERT_GT(types[type].seen, 0u) << type;
        EXPECT_GE(double(types[type].plausible), 0.95 * double(types[type].seen)) << "type 0x" << std::hex << type;
    }
    for (uint32_t size : {512u, 4096u, 32768u}) {
        EXPECT_GT(blocks[size].blocks, 0u);
        EXPECT_GE(double(blocks[size].passed), 0.5 * double(blocks[size].blocks)) << size;
    }

    for (uint32_t size : {512u, 4096u, 32768u}) {
        EXPECT_EQ(TallyFillerBlocks(size, 0x00).passed, 0u) << size;
        EXPECT_EQ(TallyFillerBlocks(size, 0xFF).passed, 0u) << size;
        NoiseTally random = TallyRandomBlocks(size, size == 32768 ? 200 : 2000, 4, 97u + size);
        EXPECT_LE(random.passed * 2000, random.tried) << size << "-byte random blocks";
    }
}

}  // namespace
}  // namespace tabulon
