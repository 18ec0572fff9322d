#include "fragment/stream_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "support/biff_bytes.h"
#include "support/compound_file_reader.h"
#include "support/stream_survey.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::CompoundFileReader;

constexpr StreamCursor::Judging kLoose {false, nullptr};
constexpr StreamCursor::Judging kStrict {true, nullptr};

// Corpus files whose workbook streams do not read as sound streams: damaged ones (a record longer than
// any body may be, records of type 0 amid the globals, a string table that does not hold together) and
// a report writer's that puts empty records of type 0 amid its sheets, which read as zero filler.
const std::vector<std::string> kNotSound = {"poi__61300.xls", "libxls__fuzz_corpus_xls2csv_ole_read_MSAT_772.xls",
                                            "poi__clusterfuzz-testcase-minimized-POIHSSFFuzzer-5816431116615680.xls",
                                            "poi__BOOK_in_capitals.xls"};

// Feeds `stream` as a file keeps it from offset 512 of its first block on: the first block's part, then
// block after block, each judged as the walk judges the block next on disk. The position where a block
// fails, or -1.
int64_t FirstFailingBlock(std::span<const uint8_t> stream, size_t blockBytes, const StreamCursor::Judging& judging) {
    StreamCursor cursor;
    const size_t first = std::min(stream.size(), blockBytes - 512);
    if (cursor.Feed(stream.first(first), kLoose) == StreamCursor::Result::Fails) return 0;
    for (size_t at = first; at < stream.size(); at += blockBytes) {
        const auto result = cursor.Feed(stream.subspan(at, std::min(blockBytes, stream.size() - at)), judging);
        if (result == StreamCursor::Result::Fails) return int64_t(at);
        if (result == StreamCursor::Result::Ends) break;
    }
    return -1;
}

// A workbook stream read where it stands, block after block, always continues: the record rules are
// heuristics that real writers step outside of (fonts with odd family bytes, formats past a thousand,
// protection records of later versions), and where a block lies next on disk its records need not show
// their alignment. Every sound corpus stream passes at every cluster size, the encrypted ones too (their
// records are judged by their headers).
TEST(StreamCursor, EveryCorpusStreamContinuesBlockByBlockWhereItStands) {
    const auto files = test::CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    size_t judged = 0;
    for (const auto& path : files) {
        const std::string name = path.substr(path.find_last_of('/') + 1);
        if (std::find(kNotSound.begin(), kNotSound.end(), name) != kNotSound.end()) continue;
        const auto file = test::ReadFileBytes(path);
        CompoundFileReader reader;
        if (!reader.Open(file)) continue;
        const auto stream = reader.ReadWorkbookStream();
        // BIFF8 streams only: a BIFF8 BOF opens with version 0x0600.
        if (!stream || stream->size() < 6 || LoadU16(stream->data()) != 0x0809 || LoadU16(stream->data() + 4) != 0x0600)
            continue;
        ++judged;
        for (const size_t b : {512u, 2048u, 4096u})
            EXPECT_EQ(FirstFailingBlock(*stream, b, kLoose), -1) << name << ", " << b << "-byte blocks";
    }
    EXPECT_GT(judged, 200u);
}

// A cell format index past the thousand the record rules take for a workbook of a modest size passes
// where the globals listed that many formats, and fails where they did not: another file's cells.
TEST(StreamCursor, CellFormatsPastAThousandPassWhereTheGlobalsListThem) {
    using test::BiffBytes;
    const auto bof = [](uint16_t kind) { return BiffBytes().U16(0x0600).U16(kind).Zeros(12); };
    for (const int formats : {1100, 900}) {
        BiffBytes globals;
        globals.Record(0x0809, bof(0x0005));
        for (int i = 0; i < formats; ++i) globals.Record(0x00E0, BiffBytes().Zeros(20));
        globals.Record(0x000A, BiffBytes()).Record(0x0809, bof(0x0010));
        StreamCursor cursor;
        ASSERT_EQ(cursor.Feed(globals.Bytes(), kLoose), StreamCursor::Result::Continues);
        // The next block opens with a NUMBER cell in row 3, column 2, with format 1050.
        BiffBytes next;
        next.Record(0x0203, BiffBytes().U16(3).U16(2).U16(1050).Zeros(6).U16(0x3FF0));
        const auto result = cursor.Feed(next.Bytes(), kStrict);
        EXPECT_EQ(result == StreamCursor::Result::Fails, formats < 1050) << formats << " formats listed";
    }
}

// The record rules take cell rows up to 0x3FFF. A sheet whose used range reaches further (BIFF8 sheets
// hold up to 65536 rows) has its cells down there, and a block of them passes as any other; past the used
// range, or in a sheet whose range ends sooner, it does not.
TEST(StreamCursor, CellRowsPast0x3FFFPassWithinTheSheetsUsedRange) {
    using test::BiffBytes;
    const auto bof = [](uint16_t kind) { return BiffBytes().U16(0x0600).U16(kind).Zeros(12); };
    struct Case {
        uint32_t rowEnd;  // the sheet's used range: rows below
        uint16_t row;     // the next block's first cell
        bool passes;
    };
    for (const Case& c : {Case {30000, 20000, true}, Case {30000, 30001, false}, Case {0x4000, 20000, false}}) {
        BiffBytes sheet;
        sheet.Record(0x0809, bof(0x0005)).Record(0x000A, BiffBytes()).Record(0x0809, bof(0x0010));
        sheet.Record(0x0200, BiffBytes().U32(0).U32(c.rowEnd).U16(0).U16(4).U16(0));
        sheet.Record(0x0203, BiffBytes().U16(100).U16(0).U16(15).Zeros(8));
        StreamCursor cursor;
        ASSERT_EQ(cursor.Feed(sheet.Bytes(), kLoose), StreamCursor::Result::Continues);
        BiffBytes next;
        next.Record(0x0203, BiffBytes().U16(c.row).U16(0).U16(15).Zeros(8));
        next.Record(0x0203, BiffBytes().U16(c.row).U16(1).U16(15).Zeros(8));
        EXPECT_EQ(cursor.Feed(next.Bytes(), kStrict) != StreamCursor::Result::Fails, c.passes)
            << "row " << c.row << " in a sheet of " << c.rowEnd << " rows";
    }
}

// Chart records (0x10xx) stand in charts; the globals hold only the charts' palette among them. A block
// that continues the globals with a chart's records is another file's, or another part of this one.
TEST(StreamCursor, ChartRecordsDoNotContinueTheGlobals) {
    using test::BiffBytes;
    const auto bof = [](uint16_t kind) { return BiffBytes().U16(0x0600).U16(kind).Zeros(12); };
    struct Case {
        uint16_t type;
        bool inChart;
        bool passes;
    };
    for (const Case& c : {Case {0x1002, false, false}, Case {0x105C, false, true}, Case {0x1002, true, true}}) {
        BiffBytes before;
        before.Record(0x0809, bof(0x0005)).Record(0x0042, BiffBytes().U16(1252));
        if (c.inChart) before.Record(0x000A, BiffBytes()).Record(0x0809, bof(0x0020));
        StreamCursor cursor;
        ASSERT_EQ(cursor.Feed(before.Bytes(), kLoose), StreamCursor::Result::Continues);
        BiffBytes next;
        next.Record(0x0042, BiffBytes().U16(1252)).Record(c.type, BiffBytes().Zeros(16)).Record(0x0042, BiffBytes().U16(1252));
        const auto result = cursor.Feed(next.Bytes(), kStrict);
        EXPECT_EQ(result != StreamCursor::Result::Fails, c.passes) << std::hex << c.type << (c.inChart ? " in a chart" : "");
    }
}

// After a FILEPASS record the bodies are encrypted: a record is judged by its header, and the bodies by
// how rarely their bytes are zero. Encrypted fonts, whose bodies the font rules refuse, pass there; plain
// ones (another file's records, full of zeros) do not. Without FILEPASS the rules hold as ever.
TEST(StreamCursor, EncryptedBodiesAreJudgedByTheirHeadersAndHowRarelyTheyAreZero) {
    using test::BiffBytes;
    const auto font = BiffBytes().Record(
        0x0031, BiffBytes().U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).Zeros(4).U8(5).U8(0).Latin1("Arial"));
    BiffBytes plain;
    for (int i = 0; i < 8; ++i) plain.Append(font.Bytes());
    plain.Record(0x0892, BiffBytes().U16(0x0892).Zeros(38));  // a later record type: taken on its type where encrypted
    struct Case {
        bool filePass;
        bool encrypted;
        bool passes;
    };
    for (const Case& c : {Case {true, true, true}, Case {true, false, false}, Case {false, true, false}}) {
        BiffBytes globals;
        globals.Record(0x0809, BiffBytes().U16(0x0600).U16(0x0005).Zeros(12));
        if (c.filePass) globals.Record(0x002F, BiffBytes().U16(1).U16(1).U16(1).Zeros(48));
        StreamCursor cursor;
        ASSERT_EQ(cursor.Feed(globals.Bytes(), kLoose), StreamCursor::Result::Continues);
        const auto block = c.encrypted ? test::EncryptBodies(plain.Bytes(), 7) : plain.Bytes();
        const auto result = cursor.Feed(block, {true, nullptr, true});
        EXPECT_EQ(result != StreamCursor::Result::Fails, c.passes)
            << (c.filePass ? "after FILEPASS" : "without FILEPASS") << (c.encrypted ? ", encrypted bodies" : ", plain bodies");
    }
}

// A block taken from anywhere may hold only a few records that their rules find odd: bytes of another
// place read at a wrong alignment make many. A run of one type counts once (a writer fills all its
// column records alike), and a large cluster may hold a few for each 4 KiB.
TEST(StreamCursor, OddRecordsInABlockFromAnywhereCountByRunAndBySpan) {
    using test::BiffBytes;
    constexpr StreamCursor::Judging kAnywhere {true, nullptr, true};
    const auto bof = [](uint16_t kind) { return BiffBytes().U16(0x0600).U16(kind).Zeros(12); };
    const auto oddColumns = BiffBytes().Record(0x007D, BiffBytes().U16(0).U16(600).U16(2000).U16(15).U16(0).U16(0));
    const auto oddGrid = BiffBytes().Record(0x0082, BiffBytes().U16(2));
    const auto oddCentre = BiffBytes().Record(0x0083, BiffBytes().U16(2));
    const auto oddHeight = BiffBytes().Record(0x0225, BiffBytes().U16(16).U16(255));
    uint16_t row = 0;
    const auto cells = [&row](size_t bytes) {
        BiffBytes run;
        while (run.Size() < bytes) run.Record(0x0201, BiffBytes().U16(row++).U16(0).U16(15));
        return run;
    };
    struct Case {
        const char* what;
        size_t spread;  // cell bytes between the odd records
        bool sameType;
        bool passes;
    };
    for (const Case& c : {Case {"three odd types close together", 40, false, false},
                          Case {"a run of one odd type", 40, true, true},
                          Case {"three odd types 4 KiB apart", 4200, false, true}}) {
        row = 0;
        BiffBytes sheet;
        sheet.Record(0x0809, bof(0x0005)).Record(0x000A, BiffBytes()).Record(0x0809, bof(0x0010));
        StreamCursor cursor;
        ASSERT_EQ(cursor.Feed(sheet.Bytes(), kLoose), StreamCursor::Result::Continues);
        BiffBytes next = cells(40);
        for (const BiffBytes* odd : {&oddGrid, &oddCentre, &oddHeight})
            next.Append((c.sameType ? oddColumns : *odd).Bytes()).Append(cells(c.spread).Bytes());
        EXPECT_EQ(cursor.Feed(next.Bytes(), kAnywhere) != StreamCursor::Result::Fails, c.passes) << c.what;
    }
}

}  // namespace
}  // namespace tabulon
