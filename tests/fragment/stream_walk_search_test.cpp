#include "fragment/stream_walk_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "fragment/allocation_sector.h"
#include "fragment/record_succession_table.h"
#include "fragment/record_type_names.h"
#include "fragment/search_context.h"
#include "fragment/stream_cursor.h"
#include "fragment/workbook_stream_seed.h"
#include "support/biff_bytes.h"
#include "support/memory_block_source.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::BiffBytes;
using test::Join;
using test::MemoryBlockSource;

// python3-xlwt puts the workbook stream right after the compound document's header.
constexpr size_t kXlwtStreamOffset = 512;

const RecordSuccessionTable& ShippedTable() {
    EXPECT_EQ(LoadProcessSuccessionTable(), SuccessionTableError::None);
    return RecordSuccessionTable::Process();
}

StreamCursor::Result FeedInPieces(StreamCursor& cursor, std::span<const uint8_t> bytes, size_t piece,
                                  const StreamCursor::Judging& judging) {
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const auto result = cursor.Feed(bytes.subspan(at, std::min(piece, bytes.size() - at)), judging);
        if (result != StreamCursor::Result::Continues) return result;
    }
    return StreamCursor::Result::Continues;
}

// Wherever block ends cut the records, even inside a header or a string, the stream reads the same and
// ends at its last EOF.
TEST(StreamCursor, AWholeStreamReadsTheSameInAnyCuts) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 700, 6, 2, 5));
    const auto file = test::ReadFileBytes(dir.File("book.xls"));
    ASSERT_GT(file.size(), kXlwtStreamOffset + 4096);
    const std::span<const uint8_t> stream(file.data() + kXlwtStreamOffset, file.size() - kXlwtStreamOffset);

    StreamCursor whole;
    ASSERT_EQ(whole.Feed(stream, {true, nullptr}), StreamCursor::Result::Ends);
    const int64_t end = whole.Position();
    const uint8_t eof[] = {0x0A, 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(std::begin(eof), std::end(eof), stream.begin() + (end - 4)));
    for (size_t piece : {size_t(1), size_t(3), size_t(511), size_t(4096)}) {
        StreamCursor cursor;
        EXPECT_EQ(FeedInPieces(cursor, stream, piece, {true, nullptr}), StreamCursor::Result::Ends) << piece;
        EXPECT_EQ(cursor.Position(), end) << piece;
    }
}

BiffBytes Bof(uint16_t kind) { return BiffBytes().Record(0x0809, BiffBytes().U16(0x0600).U16(kind).Zeros(12)); }
BiffBytes Number(uint16_t row, uint16_t column) {
    return BiffBytes().Record(0x0203, BiffBytes().U16(row).U16(column).U16(15).Zeros(8));
}
BiffBytes Row(uint16_t row) { return BiffBytes().Record(0x0208, BiffBytes().U16(row).U16(0).U16(3).Zeros(10)); }

// A sheet begun, with cells up to row 10, column 3: what may follow.
TEST(StreamCursor, BytesThatCannotContinueTheSheetAreRefused) {
    BiffBytes start;
    start.Append(Bof(0x0005).Bytes()).Append(BiffBytes().Record(0x000A, BiffBytes()).Bytes());
    start.Append(Bof(0x0010).Bytes()).Append(Row(9).Bytes()).Append(Row(10).Bytes());
    start.Append(Number(10, 2).Bytes()).Append(Number(10, 3).Bytes());
    StreamCursor sheet;
    ASSERT_EQ(sheet.Feed(start.Bytes(), {false, nullptr}), StreamCursor::Result::Continues);

    struct Case {
        const char* what;
        BiffBytes next;
        bool strict;
        StreamCursor::Result expected;
    };
    const Case cases[] = {
        {"the next cell", Join({Number(10, 4), Number(11, 0)}), true, StreamCursor::Result::Continues},
        {"an earlier cell", Join({Number(5, 1), Number(5, 2)}), true, StreamCursor::Result::Fails},
        {"an earlier cell, order not enforced", Join({Number(5, 1), Number(5, 2)}), false, StreamCursor::Result::Continues},
        {"an earlier row", Join({Row(4), Number(10, 5)}), true, StreamCursor::Result::Fails},
        {"zero filler", BiffBytes().Zeros(16), false, StreamCursor::Result::Fails},
        {"a record longer than any", BiffBytes().U16(0x0203).U16(9000).Zeros(8), false, StreamCursor::Result::Fails},
        {"the sheet's EOF", Join({Number(10, 4), BiffBytes().Record(0x000A, BiffBytes())}), true, StreamCursor::Result::Ends},
    };
    for (const Case& c : cases) {
        StreamCursor cursor = sheet;
        EXPECT_EQ(cursor.Feed(c.next.Bytes(), {c.strict, nullptr}), c.expected) << c.what;
    }
}

BiffBytes Eof() { return BiffBytes().Record(0x000A, BiffBytes()); }
BiffBytes BoundSheet(uint32_t position) {
    return BiffBytes().Record(0x0085, BiffBytes().U32(position).U8(0).U8(0).U8(2).U8(0).Latin1("S1"));
}
BiffBytes Dimensions(uint32_t rowEnd, uint16_t columnEnd) {
    return BiffBytes().Record(0x0200, BiffBytes().U32(0).U32(rowEnd).U16(0).U16(columnEnd).U16(0));
}

// The globals hold no cells: a sheet's records read as their continuation belong to another block.
TEST(StreamCursor, TheGlobalsHoldNoCells) {
    StreamCursor globals;
    ASSERT_EQ(globals.Feed(Join({Bof(0x0005), BiffBytes().Record(0x00E0, BiffBytes().Zeros(20))}).Bytes(), {false, nullptr}),
              StreamCursor::Result::Continues);
    const BiffBytes cells = Join({Row(3), Number(3, 0), Number(3, 1)});
    for (const bool strict : {true, false}) {
        StreamCursor cursor = globals;
        EXPECT_EQ(cursor.Feed(cells.Bytes(), {strict, nullptr}),
                  strict ? StreamCursor::Result::Fails : StreamCursor::Result::Continues) << strict;
    }
    // After the globals' EOF, in a sheet, they continue.
    StreamCursor sheet = globals;
    ASSERT_EQ(sheet.Feed(Join({Eof(), Bof(0x0010)}).Bytes(), {true, nullptr}), StreamCursor::Result::Continues);
    EXPECT_EQ(sheet.Feed(cells.Bytes(), {true, nullptr}), StreamCursor::Result::Continues);
}

// A cell format names one of the fonts the globals listed before it: another file's formats, which name
// fonts of their own, do not continue these globals. Encrypted bodies say nothing.
TEST(StreamCursor, CellFormatsNameListedFonts) {
    const auto font = BiffBytes().Record(
        0x0031, BiffBytes().U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).Zeros(4).U8(5).U8(0).Latin1("Arial"));
    const auto xf = [](uint16_t index) { return BiffBytes().Record(0x00E0, BiffBytes().U16(index).Zeros(18)); };
    const auto filePass = BiffBytes().Record(0x002F, BiffBytes().U16(1).U16(1).U16(1).Zeros(48));
    struct Case {
        const char* what;
        bool encrypted;
        uint16_t font;
        StreamCursor::Result expected;
    };
    const Case cases[] = {
        {"a listed font", false, 3, StreamCursor::Result::Continues},
        {"the last font, index 4 being skipped", false, 5, StreamCursor::Result::Continues},
        {"a font past the list", false, 9, StreamCursor::Result::Fails},
        {"an encrypted body", true, 9, StreamCursor::Result::Continues},
    };
    for (const Case& c : cases) {
        BiffBytes fonts;
        for (int i = 0; i < 5; ++i) fonts.Append(font.Bytes());
        auto formats = Join({xf(0), xf(c.font), xf(1)}).Bytes();
        BiffBytes globals = Bof(0x0005);
        if (c.encrypted) {
            globals.Append(filePass.Bytes()).Append(test::EncryptBodies(fonts.Bytes(), 1));
            formats = test::EncryptBodies(formats, 2);
        } else {
            globals.Append(fonts.Bytes());
        }
        StreamCursor cursor;
        ASSERT_EQ(cursor.Feed(globals.Bytes(), {false, nullptr}), StreamCursor::Result::Continues) << c.what;
        EXPECT_EQ(cursor.Feed(formats, {true, nullptr}), c.expected) << c.what;
    }
}

// A sheet may hold a chart with a BOF and EOF of its own: the stream ends with the EOF of the last sheet
// the globals list, not with the one that closes as many BOF records as there are sheets.
TEST(StreamCursor, AChartInsideASheetDoesNotEndTheStream) {
    const size_t globals = Bof(0x0005).Size() + 2 * BoundSheet(0).Size() + Eof().Size();
    const BiffBytes first = Join({Bof(0x0010), Number(0, 0), Bof(0x0020), Eof(), Number(1, 0), Eof()});
    const BiffBytes stream = Join({Bof(0x0005), BoundSheet(uint32_t(globals)), BoundSheet(uint32_t(globals + first.Size())),
                                   Eof(), first, Bof(0x0010), Number(0, 0), Eof()});
    StreamCursor cursor;
    ASSERT_EQ(cursor.Feed(stream.Bytes(), {true, nullptr}), StreamCursor::Result::Ends);
    EXPECT_EQ(cursor.Position(), int64_t(stream.Size()));
}

// What real writers put in a sheet that a strict reading must let pass, and what it still refuses.
TEST(StreamCursor, SheetsAsRealWritersWriteThem) {
    const BiffBytes start = Join({Bof(0x0005), Eof(), Bof(0x0010), Dimensions(12, 5), Row(10), Number(10, 2)});
    StreamCursor sheet;
    ASSERT_EQ(sheet.Feed(start.Bytes(), {false, nullptr}), StreamCursor::Result::Continues);
    // Records of kinds the rules do not know: the strings of a query table come in long runs of one kind.
    const uint16_t unknown[] = {0x00CD, 0x00CE, 0x00CF, 0x01AD};
    for (uint16_t type : unknown) ASSERT_FALSE(RecordTypeNames::IsKnown(type)) << type;
    BiffBytes oneKind, fourKinds;
    for (int k = 0; k < 6; ++k) oneKind.Record(unknown[0], BiffBytes().Zeros(20));
    for (uint16_t type : unknown) fourKinds.Record(type, BiffBytes().Zeros(20));
    struct Case {
        const char* what;
        BiffBytes next;
        StreamCursor::Result expected;
    };
    const Case cases[] = {
        {"a formatted row beyond the cells' used range", Join({Row(0xFFF2), Row(0xFFF3)}), StreamCursor::Result::Continues},
        {"a cell beyond the used range", Number(12, 0), StreamCursor::Result::Fails},
        {"a run of one unknown kind", Join({oneKind, Number(11, 0)}), StreamCursor::Result::Continues},
        {"four unknown kinds in a row", Join({fourKinds, Number(11, 0)}), StreamCursor::Result::Fails},
    };
    for (const Case& c : cases) {
        StreamCursor cursor = sheet;
        // A known record first, so that the cases are judged past a block's aligning records.
        const BiffBytes bytes = Join({Number(10, 3), Number(10, 4), c.next});
        EXPECT_EQ(cursor.Feed(bytes.Bytes(), {true, nullptr}), c.expected) << c.what;
    }
}

// A record as long as a body may be goes on in CONTINUE records, whatever its type and whatever the
// learnt successions list: a block that begins with such a CONTINUE may follow it.
TEST(StreamCursor, AFullLengthRecordMayGoOnInAContinueRecord) {
    const RecordSuccessionTable& table = ShippedTable();
    ASSERT_FALSE(table.MayFollow(0x00EC, 0x003C)) << "the case needs a succession the table does not list";
    auto drawing = [](size_t length) {
        BiffBytes body;
        body.U16(0x000F).U16(0xF002);
        while (body.Size() < length) body.U8(0x5A);
        return BiffBytes().Record(0x00EC, body);
    };
    const BiffBytes next = Join({BiffBytes().Record(0x003C, BiffBytes().Zeros(100)), Number(3, 1), Number(3, 2)});
    // Writers stop a little short of the full length where the next unit would not fit (a picture's
    // record of 8,220 bytes).
    for (const size_t length : {size_t(8224), size_t(8220), size_t(238)}) {
        StreamCursor cursor;
        const BiffBytes start = Join({Bof(0x0005), Eof(), Bof(0x0010), Number(2, 0), drawing(length)});
        ASSERT_EQ(cursor.Feed(start.Bytes(), {false, nullptr}), StreamCursor::Result::Continues);
        const bool continues = length >= 8220;
        EXPECT_EQ(cursor.MayContinueWith(next.Bytes(), &table), continues) << length;
        EXPECT_EQ(cursor.Feed(next.Bytes(), {true, &table, true}),
                  continues ? StreamCursor::Result::Continues : StreamCursor::Result::Fails)
            << length;
    }
}

// Cuts each file into pieces of 1 to 6 blocks and lays all pieces out shuffled, with gaps, from block
// 10 on. Returns each file's first block and fills `truth` with each file's blocks in order.
std::vector<int32_t> LayOutShuffled(MemoryBlockSource& source, const std::vector<std::vector<uint8_t>>& files,
                                    uint32_t seed, std::vector<std::vector<int32_t>>& truth) {
    const size_t b = size_t(source.BlockBytes());
    std::mt19937 random(seed);
    struct Piece {
        size_t file, firstBlock, blocks;
    };
    std::vector<Piece> pieces;
    for (size_t f = 0; f < files.size(); ++f) {
        const size_t count = (files[f].size() + b - 1) / b;
        for (size_t at = 0; at < count;) {
            const size_t length = std::min<size_t>(count - at, 1 + random() % 6);
            pieces.push_back({f, at, length});
            at += length;
        }
    }
    std::shuffle(pieces.begin(), pieces.end(), random);
    truth.assign(files.size(), {});
    std::vector<std::vector<int32_t>> placed(files.size());
    int32_t next = 10;
    std::vector<std::vector<std::pair<size_t, int32_t>>> where(files.size());
    for (const Piece& piece : pieces) {
        for (size_t k = 0; k < piece.blocks; ++k) {
            const size_t from = (piece.firstBlock + k) * b;
            const auto& file = files[piece.file];
            source.Put(next, std::span(file).subspan(from, std::min(b, file.size() - from)));
            where[piece.file].push_back({piece.firstBlock + k, next++});
        }
        next += int32_t(random() % 3);  // a gap of never-written blocks
    }
    std::vector<int32_t> first;
    for (size_t f = 0; f < files.size(); ++f) {
        std::sort(where[f].begin(), where[f].end());
        for (const auto& [index, block] : where[f]) truth[f].push_back(block);
        first.push_back(truth[f].front());
    }
    return first;
}

// Workbooks of one writer cut among each other's pieces, also inside their shared-string tables, whose
// strings all look alike: each is rebuilt as the one candidate, exactly.
TEST(StreamWalkSearch, WorkbooksOfOneWriterCutAmongEachOtherAreRebuilt) {
    test::TempDir dir;
    std::vector<std::vector<uint8_t>> files;
    for (int k = 0; k < 3; ++k) {
        const std::string path = dir.File("book" + std::to_string(k) + ".xls");
        ASSERT_TRUE(test::MakeWorkbook(path, 900 + 200 * k, 5 + k, 1 + k % 2, 40 + k));
        files.push_back(test::ReadFileBytes(path));
    }
    MemoryBlockSource source(4096, 2000);
    std::vector<std::vector<int32_t>> truth;
    const auto first = LayOutShuffled(source, files, 7, truth);
    for (size_t f = 0; f < files.size(); ++f) {
        WorkbookStreamSeed seed;
        ASSERT_TRUE(FindWorkbookStreamSeed(source, first[f], 8, seed)) << f;
        SearchContext context(source, ShippedTable());
        context.sizeLimit = files[f].size();
        StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data.data(), size_t(seed.length)));
        ASSERT_EQ(context.results.size(), 1u) << "file " << f;
        // The stream's blocks, in order, then the two blocks after them on disk, where the tail usually
        // lies (the tail completion checks them).
        StreamCursor whole;
        ASSERT_EQ(whole.Feed(std::span(files[f]).subspan(kXlwtStreamOffset), {true, nullptr}), StreamCursor::Result::Ends);
        const size_t streamBlocks = size_t((int64_t(kXlwtStreamOffset) + whole.Position() + 4095) / 4096);
        const auto& found = context.results[0];
        ASSERT_EQ(found.size(), std::min(streamBlocks + 2, truth[f].size())) << "file " << f;
        EXPECT_TRUE(std::equal(found.begin(), found.begin() + long(streamBlocks), truth[f].begin())) << "file " << f;
        EXPECT_EQ(found[streamBlocks], found[streamBlocks - 1] + 1) << "file " << f;
    }
}

// A file in consecutive blocks is read through without a single pass over all blocks.
TEST(StreamWalkSearch, AConsecutiveFileNeedsNoScan) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 500, 4, 1, 3));
    const auto file = test::ReadFileBytes(dir.File("book.xls"));
    MemoryBlockSource source(4096, 400);
    const int32_t used = source.PutRun(20, file);
    WorkbookStreamSeed seed;
    ASSERT_TRUE(FindWorkbookStreamSeed(source, 20, 8, seed));
    SearchContext context(source, ShippedTable());
    StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data.data(), size_t(seed.length)));
    ASSERT_EQ(context.results.size(), 1u);
    EXPECT_EQ(context.steps, 0u);
    const auto& found = context.results[0];
    ASSERT_GE(found.size(), 3u);
    for (size_t k = 0; k < found.size(); ++k) EXPECT_EQ(found[k], 20 + int32_t(k));
    EXPECT_GE(int32_t(found.size()), used);
}

// A directory in the document's first block gives the stream's size: a stream that would run past it,
// or end more than a writer pads before it, is not the document's.
TEST(StreamWalkSearch, TheDirectorysStreamSizeBoundsTheStream) {
    const std::string corpus = test::CorpusDir();
    ASSERT_FALSE(corpus.empty());
    const auto file = test::ReadFileBytes(corpus + "/libxls__fuzz_corpus_dates-leap-year-1900-xls.xls");
    const uint32_t directory = LoadU32(file.data() + 48);
    ASSERT_LT((uint64_t(directory) + 2) * 512, 4096u) << "the directory lies in the first block";
    const uint64_t entry = (uint64_t(directory) + 1) * 512 + 128;  // the entry after the root's
    ASSERT_EQ(file[entry], 'W');
    const uint32_t streamSize = LoadU32(file.data() + entry + 120);

    MemoryBlockSource source(4096, 400);
    source.PutRun(20, file);
    WorkbookStreamSeed seed;
    ASSERT_TRUE(FindWorkbookStreamSeed(source, 20, 8, seed));
    EXPECT_EQ(seed.streamSize, streamSize);
    const struct {
        uint64_t size;
        bool found;
    } cases[] = {{streamSize, true}, {0, true}, {streamSize + 100, true}, {streamSize - 1, false}, {streamSize + 5000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("stream size " + std::to_string(c.size));
        SearchContext context(source, ShippedTable());
        context.streamSize = c.size;
        StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data.data(), size_t(seed.length)));
        EXPECT_EQ(context.results.size(), c.found ? 1u : 0u);
    }
}

std::vector<uint8_t> TableSector(std::initializer_list<std::pair<int, uint32_t>> runs) {
    std::vector<uint8_t> sector(kCompoundSectorBytes, 0xFF);
    int at = 0;
    for (const auto& [count, first] : runs)
        for (int k = 0; k < count && at < 128; ++k, ++at) StoreU32(sector.data() + 4 * at, first + uint32_t(k));
    return sector;
}

// Allocation-table sectors are told from the stream data around them by their entries.
TEST(AllocationSector, TableSectorsAndOtherData) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 300, 4, 1, 9));
    const auto book = test::ReadFileBytes(dir.File("book.xls"));
    std::vector<uint8_t> chainsEndingInMarks = TableSector({{127, 129}});
    StoreU32(chainsEndingInMarks.data() + 4 * 127, 0xFFFFFFFE);
    // The table's last sector in a small file: short chains, end marks, and the sector's own mark.
    auto entries = [](std::initializer_list<uint32_t> used) {
        std::vector<uint8_t> sector(kCompoundSectorBytes, 0xFF);
        int at = 0;
        for (uint32_t entry : used) StoreU32(sector.data() + 4 * at++, entry);
        return sector;
    };
    constexpr uint32_t kEnd = 0xFFFFFFFE, kTable = 0xFFFFFFFD;
    struct Case {
        const char* what;
        std::vector<uint8_t> sector;
        bool expected;
    };
    const Case cases[] = {
        {"a table sector inside a long stream", TableSector({{128, 1025}}), true},
        {"a table sector whose chains end in marks", chainsEndingInMarks, true},
        {"the table's last sector, free after its chains", TableSector({{40, 2049}}), true},
        {"the last sector of a small table", TableSector({{6, 2049}}), true},
        {"the last sector of a small file's table, marking itself",
         entries({kTable, 0x82, 0x83, 0x84, kEnd, kEnd, kEnd, 0x88, kEnd}), true},
        {"short chains without the table's own mark", entries({0x82, 0x83, 0x84, kEnd, kEnd, kEnd, 0x88, kEnd, 0x90}),
         false},
        {"all free", std::vector<uint8_t>(kCompoundSectorBytes, 0xFF), false},
        {"zeros", std::vector<uint8_t>(kCompoundSectorBytes, 0), false},
        {"sector numbers beyond any workbook", TableSector({{128, 0x01000000}}), false},
        {"workbook stream bytes", std::vector<uint8_t>(book.begin() + 512, book.begin() + 1024), false},
        {"too short", std::vector<uint8_t>(100, 0xFF), false},
    };
    for (const Case& c : cases) EXPECT_EQ(LooksLikeAllocationSector(c.sector), c.expected) << c.what;
}

// A workbook whose writer put allocation-table sectors inside the stream's run of sectors, cut into
// pieces: the stream is followed through them.
TEST(StreamWalkSearch, AStreamIsFollowedThroughTheTableSectorsInsideIt) {
    const std::string path = test::CorpusDir() + "/poi__FormulaEvalTestData.xls";
    const auto file = test::ReadFileBytes(path);
    if (file.empty()) GTEST_SKIP() << "corpus file missing: " << path;
    MemoryBlockSource source(4096, 400);
    std::vector<std::vector<int32_t>> truth;
    const auto first = LayOutShuffled(source, {file}, 3, truth);
    WorkbookStreamSeed seed;
    ASSERT_TRUE(FindWorkbookStreamSeed(source, first[0], 8, seed));
    SearchContext context(source, ShippedTable());
    context.sizeLimit = file.size();
    StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data.data(), size_t(seed.length)));
    ASSERT_EQ(context.results.size(), 1u);
    const auto& found = context.results[0];
    ASSERT_GE(found.size(), 3u);
    // Everything but the two blocks after the stream, which the tail completion checks.
    const auto [wrong, unused] = std::mismatch(found.begin(), found.end() - 2, truth[0].begin());
    EXPECT_EQ(wrong, found.end() - 2) << "block " << (wrong - found.begin()) << " of " << found.size() << ", file "
                                      << truth[0].size() << " blocks";
}

// In blocks of one sector, each table sector inside the stream's run (this file has them at sectors 98
// and 227, its header lists them) is a block of its own. The file keeps it in its place, whether the
// piece goes on through it or a new piece starts with it.
TEST(StreamWalkSearch, TableSectorsInsideTheStreamKeepTheirPlaceInBlocksOfOneSector) {
    const std::string path = test::CorpusDir() + "/poi__FormulaEvalTestData.xls";
    const auto file = test::ReadFileBytes(path);
    if (file.empty()) GTEST_SKIP() << "corpus file missing: " << path;
    const int32_t count = int32_t(file.size() / kCompoundSectorBytes);
    for (const bool broken : {false, true}) {
        // Pieces that begin with the table sectors' clusters (99 and 228), laid out last piece first.
        MemoryBlockSource source(int32_t(kCompoundSectorBytes), 2 * count + 100);
        const std::vector<int32_t> starts = broken ? std::vector<int32_t> {0, 99, 228} : std::vector<int32_t> {0};
        std::vector<int32_t> truth(static_cast<size_t>(count));
        int32_t next = 20;
        for (size_t p = starts.size(); p-- > 0;) {
            const int32_t from = starts[p], to = p + 1 < starts.size() ? starts[p + 1] : count;
            for (int32_t k = from; k < to; ++k) truth[size_t(k)] = next + (k - from);
            const auto piece = std::span(file).subspan(size_t(from) * kCompoundSectorBytes, size_t(to - from) * kCompoundSectorBytes);
            source.PutRun(next, piece);
            next += to - from + 7;
        }
        WorkbookStreamSeed seed;
        ASSERT_TRUE(FindWorkbookStreamSeed(source, truth[0], 1, seed));
        SearchContext context(source, ShippedTable());
        context.sizeLimit = file.size();
        StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data.data(), size_t(seed.length)));
        ASSERT_EQ(context.results.size(), 1u) << broken;
        const auto& found = context.results[0];
        ASSERT_GT(found.size(), 230u) << broken;
        const auto [wrong, unused] = std::mismatch(found.begin(), found.end() - 2, truth.begin());
        EXPECT_EQ(wrong, found.end() - 2) << (broken ? "broken at the table sectors" : "in one piece") << ": block "
                                          << (wrong - found.begin()) << " of " << found.size();
    }
}

// Length of the workbook stream of a python3-xlwt file, read through to its last EOF.
int64_t XlwtStreamLength(const std::vector<uint8_t>& file) {
    StreamCursor whole;
    EXPECT_EQ(whole.Feed(std::span(file).subspan(kXlwtStreamOffset), {true, nullptr}), StreamCursor::Result::Ends);
    return whole.Position();
}

// A sector of the compound document that is not the stream's (a directory or short-stream table sector)
// inside the stream's run of sectors, in a block next on disk, is stepped over; the stream is followed to
// its end through consecutive blocks.
TEST(StreamWalkSearch, ASectorOfAnotherKindInsideTheStreamIsSteppedOver) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 900, 6, 1, 11));
    const auto book = test::ReadFileBytes(dir.File("book.xls"));
    const int64_t streamLength = XlwtStreamLength(book);
    std::mt19937 random(5);
    for (const size_t at : {size_t(3 * 4096 + 1024), size_t(5 * 4096)}) {
        ASSERT_LT(at, kXlwtStreamOffset + size_t(streamLength) - 4096);
        std::vector<uint8_t> file(book.begin(), book.begin() + long(at));
        for (size_t k = 0; k < kCompoundSectorBytes; ++k) file.push_back(uint8_t(random()));
        file.insert(file.end(), book.begin() + long(at), book.end());
        MemoryBlockSource source(4096, 400);
        source.PutRun(20, file);
        WorkbookStreamSeed seed;
        ASSERT_TRUE(FindWorkbookStreamSeed(source, 20, 8, seed));
        SearchContext context(source, ShippedTable());
        context.sizeLimit = file.size();
        StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data.data(), size_t(seed.length)));
        ASSERT_EQ(context.results.size(), 1u) << at;
        const auto& found = context.results[0];
        const size_t streamBlocks = size_t((int64_t(kXlwtStreamOffset + kCompoundSectorBytes) + streamLength + 4095) / 4096);
        ASSERT_GE(found.size(), streamBlocks) << at;
        for (size_t k = 0; k < streamBlocks; ++k) EXPECT_EQ(found[k], 20 + int32_t(k)) << at << ", block " << k;
    }
}

// A later piece of the same stream next on disk may pass once a sector is stepped over, where cells come
// in the same regular records block after block: the piece that continues the stream as it is, wherever
// it lies, comes first.
TEST(StreamWalkSearch, ALaterPieceNextOnDiskDoesNotTakeTheNextPiecesPlace) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 3000, 6, 1, 13));
    const auto file = test::ReadFileBytes(dir.File("book.xls"));
    const size_t b = 4096;
    const size_t count = (file.size() + b - 1) / b;
    const size_t streamBlocks = size_t((int64_t(kXlwtStreamOffset) + XlwtStreamLength(file) + 4095) / 4096);
    ASSERT_GT(streamBlocks, 40u);
    // File blocks up to `cut` from block 20 on, those from cut + 3 right after them, the three between
    // far away. Where block cut + 3 continues the stream as it is, by chance, nothing tells it from the
    // true next block: such cuts are left out.
    int tried = 0;
    for (size_t cut = 4; cut + 8 < streamBlocks; cut += 3) {
        StreamCursor before;
        ASSERT_EQ(before.Feed(std::span(file).subspan(kXlwtStreamOffset, cut * b - kXlwtStreamOffset), {true, nullptr}),
                  StreamCursor::Result::Continues);
        if (before.Feed(std::span(file).subspan((cut + 3) * b, b), {true, nullptr}) != StreamCursor::Result::Fails) continue;
        ++tried;
        std::vector<int32_t> truth(count);
        for (size_t k = 0; k < count; ++k)
            truth[k] = int32_t(k < cut ? 20 + k : k < cut + 3 ? 300 + k : 20 + k - 3);
        MemoryBlockSource source(int32_t(b), 600);
        for (size_t k = 0; k < count; ++k)
            source.Put(truth[k], std::span(file).subspan(k * b, std::min(b, file.size() - k * b)));
        WorkbookStreamSeed seed;
        ASSERT_TRUE(FindWorkbookStreamSeed(source, 20, 8, seed));
        SearchContext context(source, ShippedTable());
        context.sizeLimit = file.size();
        StreamWalkSearch::Run(context, seed.chain.blocks, std::span(seed.data.data(), size_t(seed.length)));
        ASSERT_EQ(context.results.size(), 1u) << "cut " << cut;
        const auto& found = context.results[0];
        ASSERT_GE(found.size(), streamBlocks) << "cut " << cut;
        const auto [wrong, unused] = std::mismatch(found.begin(), found.begin() + long(streamBlocks), truth.begin());
        EXPECT_EQ(wrong, found.begin() + long(streamBlocks)) << "cut " << cut << ", block " << (wrong - found.begin());
    }
    EXPECT_GE(tried, 20);
}

// A workbook stream whose globals hold `drawing` (about 8,000 bytes) after 6,000 bytes of formats, and a
// sheet of 600 rows after them.
std::vector<uint8_t> StreamWithDrawing(const BiffBytes& drawing) {
    BiffBytes stream = Bof(0x0005);
    while (stream.Size() < 6000) stream.Record(0x00E0, BiffBytes().Zeros(20));
    stream.Record(0x008C, BiffBytes().U16(1).U16(1)).Record(0x00EB, drawing);
    stream.Append(Eof().Bytes()).Append(Bof(0x0010).Bytes());
    for (uint16_t row = 0; row < 600; ++row) stream.Append(Join({Number(row, 0), Number(row, 1)}).Bytes());
    stream.Append(Eof().Bytes());
    return stream.Bytes();
}

// The walk's results for a stream that begins with block `block` (whose whole bytes are the stream's), in
// a file of `sizeLimit` bytes (0: unknown).
std::vector<std::vector<int32_t>> WalkFromStreamBlock(MemoryBlockSource& source, int32_t block, uint64_t sizeLimit = 0) {
    SearchContext context(source, ShippedTable());
    context.sizeLimit = sizeLimit;
    const auto first = source.GetBlock(block);
    const std::vector<uint8_t> streamBytes(first.begin(), first.begin() + source.BlockBytes());
    StreamWalkSearch::Run(context, {block}, streamBytes);
    return context.results;
}

// Lays a stream's blocks out in two pieces: its first `head` blocks from `headAt` on, the rest from
// `restAt` on. Returns where each block lies.
std::vector<int32_t> PutInTwoPieces(MemoryBlockSource& source, const std::vector<uint8_t>& bytes, size_t head,
                                    int32_t headAt, int32_t restAt) {
    const size_t b = size_t(source.BlockBytes());
    std::vector<int32_t> blocks;
    for (size_t k = 0; k * b < bytes.size(); ++k) {
        blocks.push_back(int32_t(k < head ? headAt + int32_t(k) : restAt + int32_t(k - head)));
        source.Put(blocks.back(), std::span(bytes).subspan(k * b, std::min(b, bytes.size() - k * b)));
    }
    return blocks;
}

// One result, which begins with the stream's blocks.
void ExpectTheStream(const std::vector<std::vector<int32_t>>& results, const std::vector<int32_t>& truth) {
    ASSERT_EQ(results.size(), 1u);
    const auto& found = results[0];
    ASSERT_GE(found.size(), truth.size());
    EXPECT_TRUE(std::equal(truth.begin(), truth.end(), found.begin()));
}

// A piece that begins inside a long record whose body cannot be judged (a drawing) is known by the
// records where the body ends, in the block after it on disk.
TEST(StreamWalkSearch, APieceBeginningInsideALongRecordIsKnownByTheRecordsAfterIt) {
    std::mt19937 random(21);
    BiffBytes drawing;
    drawing.U16(0x000F).U16(0xF000);
    while (drawing.Size() < 8000) drawing.U8(uint8_t(random()));
    const std::vector<uint8_t> bytes = StreamWithDrawing(drawing);
    ASSERT_GT(bytes.size(), 6 * 4096u);
    // Blocks 0 and 1 at 20, the rest from 200 on: block 2 lies wholly inside the drawing's body.
    MemoryBlockSource source(4096, 600);
    const auto truth = PutInTwoPieces(source, bytes, 2, 20, 200);
    // Other workbooks' blocks around them.
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("other.xls"), 1500, 5, 2, 17));
    source.PutRun(300, test::ReadFileBytes(dir.File("other.xls")));

    ExpectTheStream(WalkFromStreamBlock(source, 20), truth);
}

// A long record may hold a whole block of zeros, which a block source does not offer: the stream runs
// through it where the record's body covers all of it.
TEST(StreamWalkSearch, AStreamRunsThroughAZeroBlockInsideALongRecord) {
    BiffBytes drawing;
    drawing.U16(0x000F).U16(0xF000).Zeros(8000 - 4);
    const std::vector<uint8_t> bytes = StreamWithDrawing(drawing);
    const size_t b = 4096;
    const size_t count = (bytes.size() + b - 1) / b;
    ASSERT_TRUE(std::all_of(bytes.begin() + 2 * b, bytes.begin() + 3 * b, [](uint8_t v) { return v == 0; }));
    MemoryBlockSource source(int32_t(b), 600);
    source.PutRun(20, bytes);
    source.PutFiller(22, 0x00);
    // A zero block elsewhere is no piece of the stream.
    source.PutFiller(90, 0x00);

    const auto results = WalkFromStreamBlock(source, 20);
    ASSERT_EQ(results.size(), 1u);
    const auto& found = results[0];
    ASSERT_GE(found.size(), count);
    for (size_t k = 0; k < count; ++k) EXPECT_EQ(found[k], 20 + int32_t(k)) << k;
}

// A sheet's ROW records may fill whole blocks before its cells. Where the stream breaks among them, the
// piece whose ROW records go on from the last one comes before an equally sound piece further on in the
// rows: a file of the same form elsewhere on disk.
TEST(StreamWalkSearch, APieceAmongRowRecordsGoesOnFromTheLastRow) {
    const auto sheetFrom = [](uint16_t firstRow) {
        BiffBytes stream = Join({Bof(0x0005), Eof(), Bof(0x0010)});
        for (uint16_t row = 0; row < 900; ++row) stream.Append(Row(uint16_t(firstRow + row)).Bytes());
        for (uint16_t row = 0; row < 100; ++row) stream.Append(Number(uint16_t(firstRow + row), 0).Bytes());
        return stream.Append(Eof().Bytes()).Bytes();
    };
    const std::vector<uint8_t> bytes = sheetFrom(0), alike = sheetFrom(300);
    ASSERT_EQ(bytes.size(), alike.size());
    ASSERT_GE(bytes.size(), 4 * 4096u);
    // The stream's first two blocks at 200, the rest at 20; the other file's blocks from 300 on, where
    // allocation would go on forward.
    MemoryBlockSource source(4096, 600);
    const auto truth = PutInTwoPieces(source, bytes, 2, 200, 20);
    source.PutRun(300, alike);

    ExpectTheStream(WalkFromStreamBlock(source, 200), truth);
}

// Where the stream repeats itself (a run of like records: cell formats, cached values), a block further
// on in the next piece fits as well as the piece's first, and taking it would leave the blocks before it
// out of a stream that still reads soundly. The piece is entered at the first block of the run.
TEST(StreamWalkSearch, ARunOfLikeRecordsIsEnteredAtItsFirstBlock) {
    BiffBytes stream = Join({Bof(0x0005)});
    for (int i = 0; i < 400; ++i) stream.Record(0x00E0, BiffBytes().Zeros(20));  // 24 bytes: 64 fill 3 blocks
    stream.Append(Join({Eof(), Bof(0x0010), Row(0), Number(0, 0), Number(0, 1), Eof()}).Bytes());
    const std::vector<uint8_t>& bytes = stream.Bytes();
    // The first two blocks at 200, the rest at 20: blocks 23, 26, ... open with the same bytes as 20.
    MemoryBlockSource source(512, 600);
    const auto truth = PutInTwoPieces(source, bytes, 2, 200, 20);
    ASSERT_TRUE(std::equal(bytes.begin() + 2 * 512, bytes.begin() + 3 * 512, bytes.begin() + 5 * 512));

    ExpectTheStream(WalkFromStreamBlock(source, 200), truth);
}

// A shared-string table of `strings`: an SST record of the first `inFirst` strings, and CONTINUE records,
// each cut between two strings.
BiffBytes SharedStrings(const std::vector<std::string>& strings, size_t inFirst) {
    std::vector<BiffBytes> bodies(1);
    bodies[0].U32(uint32_t(strings.size())).U32(uint32_t(strings.size()));
    for (size_t i = 0; i < strings.size(); ++i) {
        if (i == inFirst || bodies.back().Size() + 3 + strings[i].size() > 8224) bodies.emplace_back();
        bodies.back().LongString(strings[i]);
    }
    BiffBytes records;
    for (size_t i = 0; i < bodies.size(); ++i) records.Record(i == 0 ? 0x00FC : 0x003C, bodies[i]);
    return records;
}

// Two string tables alike in their first strings part where the stream breaks: this file's next strings
// are as long as its first ones (40 characters), the other file's shorter (24), which the string checks
// alone let through. The block whose strings come at the rate the table showed so far is taken, though
// the other lies nearer.
TEST(StreamWalkSearch, AStringTableGoesOnAtItsOwnRate) {
    std::mt19937 random(5);
    const auto text = [&](size_t length) {
        std::string word;
        for (size_t i = 0; i < length; ++i) word += char('a' + random() % 26);
        return word;
    };
    std::vector<std::string> strings, alike;
    for (int i = 0; i < 600; ++i) strings.push_back(text(40));
    alike.assign(strings.begin(), strings.begin() + 190);  // some 8,000 bytes: past the break
    while (alike.size() < strings.size()) alike.push_back(text(24));
    const auto streamOf = [](const std::vector<std::string>& table) {
        BiffBytes stream = Join({Bof(0x0005), SharedStrings(table, 190), Eof(), Bof(0x0010)});
        for (uint16_t row = 0; row < 50; ++row) stream.Append(Number(row, 0).Bytes());
        return stream.Append(Eof().Bytes()).Bytes();
    };
    const std::vector<uint8_t> bytes = streamOf(strings), other = streamOf(alike);
    const size_t b = 4096;
    ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + 2 * b, other.begin()));
    ASSERT_FALSE(std::equal(bytes.begin(), bytes.begin() + 3 * b, other.begin()));
    // This file: blocks 0 and 1 at 200, block 2 alone at 50, the rest from 300 on. The other file's
    // block 2 alone at 100, its rest from 400 on.
    MemoryBlockSource source(int32_t(b), 600);
    std::vector<int32_t> truth = {200, 201, 50};
    source.Put(200, std::span(bytes).first(b));
    source.Put(201, std::span(bytes).subspan(b, b));
    source.Put(50, std::span(bytes).subspan(2 * b, b));
    for (size_t k = 3; k * b < bytes.size(); ++k) {
        truth.push_back(300 + int32_t(k) - 3);
        source.Put(truth.back(), std::span(bytes).subspan(k * b, std::min(b, bytes.size() - k * b)));
    }
    source.Put(100, std::span(other).subspan(2 * b, b));
    source.PutRun(400, std::span(other).subspan(3 * b));

    ExpectTheStream(WalkFromStreamBlock(source, 200), truth);
}

// Files of one form fit each other's blocks: the block next on disk after a piece's last may be another
// file's whose rows happen to go on from this file's. When the stream then goes on only with its order
// broken (the other file's next block reaches past this sheet's used range), that block is doubted
// before the break is taken, and the piece that really follows is found.
TEST(StreamWalkSearch, ABlockThatFitsByChanceIsDoubtedBeforeTheOrderIsBroken) {
    const auto sheetFrom = [](uint16_t firstRow) {
        BiffBytes stream = Join({Bof(0x0005), Eof(), Bof(0x0010), Dimensions(1000, 2)});
        for (uint16_t row = 0; row < 1000; ++row) stream.Append(Number(uint16_t(firstRow + row), 0).Bytes());
        return stream.Append(Eof().Bytes()).Bytes();
    };
    const std::vector<uint8_t> bytes = sheetFrom(0), other = sheetFrom(100);
    const size_t b = 4096;
    ASSERT_EQ(bytes.size(), other.size());
    ASSERT_GE(bytes.size(), 3 * b + 1000);
    // This file's first two blocks at 200, the rest from 20 on; the other file's from its third block on
    // right after them, at 202.
    MemoryBlockSource source(int32_t(b), 600);
    const auto truth = PutInTwoPieces(source, bytes, 2, 200, 20);
    source.PutRun(202, std::span(other).subspan(2 * b));

    ExpectTheStream(WalkFromStreamBlock(source, 200), truth);
}

// Workbooks made from one template share their first records. Where the other file's block lists a sheet
// further on than this file's recorded size reaches, it is not this file's.
TEST(StreamWalkSearch, AListedSheetPastTheFilesEndShowsAnotherFile) {
    const auto workbook = [](size_t globalsBytes) {
        BiffBytes globals = Bof(0x0005);
        while (globals.Size() < 6000) globals.Record(0x00E0, BiffBytes().Zeros(20));
        const size_t listAt = globals.Size();
        globals.Append(BoundSheet(0).Bytes());
        while (globals.Size() < globalsBytes) globals.Record(0x00E0, BiffBytes().U16(1).Zeros(18));
        globals.Append(Eof().Bytes());
        std::vector<uint8_t> bytes = globals.Bytes();
        StoreU32(bytes.data() + listAt + 4, uint32_t(bytes.size()));  // the sheet's BOF follows the globals
        BiffBytes sheet = Bof(0x0010);
        for (uint16_t row = 0; row < 300; ++row) sheet.Append(Number(row, 0).Bytes());
        sheet.Append(Eof().Bytes());
        bytes.insert(bytes.end(), sheet.Bytes().begin(), sheet.Bytes().end());
        return bytes;
    };
    const std::vector<uint8_t> bytes = workbook(9000), longer = workbook(60000);
    const size_t b = 4096;
    ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + b, longer.begin()));
    // The file's first block at 200, the rest at 20; the longer file's blocks from 300 on, where
    // allocation would go on forward.
    MemoryBlockSource source(int32_t(b), 600);
    const auto truth = PutInTwoPieces(source, bytes, 1, 200, 20);
    source.PutRun(300, std::span(longer).subspan(b));

    ExpectTheStream(WalkFromStreamBlock(source, 200, bytes.size()), truth);
}

}  // namespace
}  // namespace tabulon
