#include "fragment/fragment_assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>

#include "fragment/record_succession_table.h"
#include "fragment/workbook_stream_seed.h"
#include "support/biff_bytes.h"
#include "support/memory_block_source.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::BiffBytes;
using test::Join;
using test::MemoryBlockSource;

constexpr uint16_t kUnknownType = 0x1001;

BiffBytes Bof() { return BiffBytes().Record(0x0809, BiffBytes().U16(0x0600).U16(0x10).Zeros(12)); }
BiffBytes Eof() { return BiffBytes().Record(0x000A, BiffBytes()); }
BiffBytes Sst() { return BiffBytes().Record(0x00FC, BiffBytes().U32(2).U32(2).LongString("a").LongString("b")); }
BiffBytes Guts() { return BiffBytes().Record(0x0080, BiffBytes().Zeros(8)); }
BiffBytes Row(uint16_t row) { return BiffBytes().Record(0x0208, BiffBytes().U16(row).U16(0).U16(3).Zeros(10)); }
BiffBytes LabelSst(uint16_t row, uint16_t column) {
    return BiffBytes().Record(0x00FD, BiffBytes().U16(row).U16(column).U16(15).U32(0));
}

// A table in which the record types of these tests may follow each other in any order.
RecordSuccessionTable PermissiveTable() {
    const std::vector<uint16_t> types = {0x0809, 0x000A, 0x00FC, 0x0080, 0x0208, 0x00FD, kUnknownType};
    RecordSuccessionTable table;
    for (uint16_t type : types) table.Set({type, 4, types});
    return table;
}

const RecordSuccessionTable& ShippedTable() {
    EXPECT_EQ(LoadProcessSuccessionTable(), SuccessionTableError::None);
    return RecordSuccessionTable::Process();
}

// Seeds a search with `seed` as the stream's first block (index `first`), its stream starting at byte 0.
std::vector<std::vector<int32_t>> Search(MemoryBlockSource& source, const RecordSuccessionTable& table,
                                         const std::vector<uint8_t>& seed, int32_t first,
                                         const std::atomic<uint32_t>* stop = nullptr) {
    SearchContext context(source, table);
    context.stopRequested = stop;
    ChainNode chain;
    chain.Append(first);
    std::vector<uint8_t> data = seed;
    data.resize(size_t(source.BlockBytes()) + 8, 0);
    FragmentAssembler::Seed(context, std::move(chain), data, source.BlockBytes(), first);
    return context.results;
}

// Fills a whole block: `records`, then zero filler.
std::vector<uint8_t> Block(const BiffBytes& records, int32_t blockBytes) {
    std::vector<uint8_t> block = records.Bytes();
    block.resize(size_t(blockBytes), 0);
    return block;
}

// A record of `total` bytes (header included) of an unknown type: walks pass over it unjudged.
BiffBytes Pad(size_t total) { return BiffBytes().Record(kUnknownType, BiffBytes().Zeros(total - 4)); }

// The bytes of a candidate: its blocks in order, a block not offered read as zeros.
std::vector<uint8_t> Reassemble(MemoryBlockSource& source, const std::vector<int32_t>& chain) {
    std::vector<uint8_t> bytes;
    for (int32_t block : chain) {
        auto data = source.GetBlock(block);
        std::vector<uint8_t> whole(data.begin(), data.begin() + std::min<size_t>(data.size(), size_t(source.BlockBytes())));
        whole.resize(size_t(source.BlockBytes()), 0);
        bytes.insert(bytes.end(), whole.begin(), whole.end());
    }
    return bytes;
}

bool FoundFile(MemoryBlockSource& source, const std::vector<std::vector<int32_t>>& results,
               const std::vector<uint8_t>& file) {
    for (const auto& chain : results) {
        const auto bytes = Reassemble(source, chain);
        if (bytes.size() >= file.size() && std::equal(file.begin(), file.end(), bytes.begin())) return true;
    }
    return false;
}

std::vector<std::vector<int32_t>> SearchFile(MemoryBlockSource& source, int32_t firstBlock) {
    WorkbookStreamSeed seed;
    if (!FindWorkbookStreamSeed(source, firstBlock, source.BlockBytes() / 512, seed)) return {};
    SearchContext context(source, ShippedTable());
    context.maxSteps = 20000;
    FragmentAssembler::Seed(context, std::move(seed.chain), seed.data, seed.length, seed.streamBlock);
    return context.results;
}

TEST(FragmentAssembler, ConsecutiveWorkbookIsFoundByNaturalContinuationAlone) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 900, 6, 3, 11));
    const auto file = test::ReadFileBytes(dir.File("book.xls"));
    MemoryBlockSource source(4096, 2000);
    const int32_t used = source.PutRun(10, file);
    // A block far away that would be read by any scan of all blocks.
    source.Put(1500, Join({LabelSst(1, 1), LabelSst(1, 2)}).Bytes());

    const auto results = SearchFile(source, 10);
    ASSERT_EQ(results.size(), 1u);
    // The blocks up to the stream's end and the two after it, which hold the container's tail.
    ASSERT_GE(results[0].size(), size_t(used));
    ASSERT_LE(results[0].size(), size_t(used) + 2);
    for (size_t i = 0; i < results[0].size(); ++i) EXPECT_EQ(results[0][i], int32_t(10 + i));
    EXPECT_TRUE(FoundFile(source, results, file));
    const auto& requests = source.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), 1500), 0) << "a scan of all blocks was made";
}

// Cuts each file into runs of blocks at `cutsPerFile` random block boundaries at or after its block
// `firstCut[f]`, and lays all runs out shuffled from block 2 on, each followed by a block of random bytes.
// Returns each file's first block.
std::vector<int32_t> LayOutShuffled(MemoryBlockSource& source, const std::vector<std::vector<uint8_t>>& files,
                                    size_t cutsPerFile, const std::vector<size_t>& firstCut, uint32_t seed) {
    const int32_t b = source.BlockBytes();
    std::mt19937 random(seed);
    struct Run { size_t file; size_t begin, end; };
    std::vector<Run> runs;
    for (size_t f = 0; f < files.size(); ++f) {
        const size_t count = (files[f].size() + size_t(b) - 1) / size_t(b);
        std::set<size_t> cuts;
        while (cuts.size() < cutsPerFile) cuts.insert(firstCut[f] + random() % (count - firstCut[f]));
        size_t begin = 0;
        for (size_t cut : cuts) {
            runs.push_back({f, begin, cut});
            begin = cut;
        }
        runs.push_back({f, begin, count});
    }
    std::shuffle(runs.begin(), runs.end(), random);
    std::vector<int32_t> firstBlock(files.size());
    int32_t next = 2;
    for (const Run& run : runs) {
        if (run.begin == 0) firstBlock[run.file] = next;
        for (size_t k = run.begin; k < run.end; ++k) {
            const auto& file = files[run.file];
            source.Put(next++, std::span(file).subspan(k * size_t(b), std::min<size_t>(size_t(b), file.size() - k * size_t(b))));
        }
        std::vector<uint8_t> noise(static_cast<size_t>(b));
        for (auto& byte : noise) byte = uint8_t(random());
        source.Put(next++, noise);
    }
    return firstBlock;
}

// The block where the first worksheet begins: its BOF record (version 0x0600, kind 0x0010).
size_t FirstSheetBlock(const std::vector<uint8_t>& file, int32_t b) {
    const uint8_t bof[] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x10, 0x00};
    const auto at = std::search(file.begin(), file.end(), std::begin(bof), std::end(bof));
    return size_t(at - file.begin()) / size_t(b);
}

// Two python3-xlwt workbooks, one with two sheets; empty when they cannot be written.
std::vector<std::vector<uint8_t>> TwoWorkbooksOfOneWriter() {
    test::TempDir dir;
    if (!test::MakeWorkbook(dir.File("a.xls"), 1200, 7, 2, 21) || !test::MakeWorkbook(dir.File("b.xls"), 1500, 5, 1, 22))
        return {};
    return {test::ReadFileBytes(dir.File("a.xls")), test::ReadFileBytes(dir.File("b.xls"))};
}

// Workbooks of one writer whose sheets are cut among each other's: their blocks continue each other's
// records as well as their own, and NUMBER cells carry no key. Where a block continues the chain's sheet
// at the right stream position, rows and row-block ends tell the right one apart.
TEST(FragmentAssembler, SheetsCutAmongAnotherWorkbookOfTheSameWriterAreRebuilt) {
    const auto files = TwoWorkbooksOfOneWriter();
    ASSERT_EQ(files.size(), 2u);
    const int32_t b = 4096;
    MemoryBlockSource source(b, 4000);
    const auto firstBlock =
        LayOutShuffled(source, files, 5, {FirstSheetBlock(files[0], b) + 1, FirstSheetBlock(files[1], b) + 1}, 5);
    for (size_t f = 0; f < files.size(); ++f) {
        const auto results = SearchFile(source, firstBlock[f]);
        EXPECT_TRUE(FoundFile(source, results, files[f])) << "file " << f << ", " << results.size() << " candidates";
        // Wrong candidates remain (140 and 28 today: python3-xlwt writes no row-block index, so blocks of
        // later rows of the other workbook still fit), but the search no longer runs away.
        EXPECT_LE(results.size(), 200u) << "file " << f;
    }
}

// The same workbooks cut anywhere, also inside the shared-string table, whose records are longer than a
// block: the blocks such a record covers are judged by the strings they hold, and where the blocks after
// the chain on disk do not continue them, the rest of the record is sought before the block where it ends.
TEST(FragmentAssembler, FragmentedWorkbooksAmongEachOtherAreRebuilt) {
    const auto files = TwoWorkbooksOfOneWriter();
    ASSERT_EQ(files.size(), 2u);
    MemoryBlockSource source(4096, 4000);
    const auto firstBlock = LayOutShuffled(source, files, 5, {1, 1}, 5);
    for (size_t f = 0; f < files.size(); ++f) {
        const auto results = SearchFile(source, firstBlock[f]);
        EXPECT_TRUE(FoundFile(source, results, files[f])) << "file " << f << ", " << results.size() << " candidates";
        // Wrong candidates remain (49 and 179 today), but the search no longer runs away.
        EXPECT_LE(results.size(), 250u) << "file " << f;
    }
}

TEST(FragmentAssembler, RepeatedRowsDropACandidateUnlessANewSheetBegins) {
    const int32_t b = 512;
    const RecordSuccessionTable table = PermissiveTable();
    // The seed block ends inside a LABELSST whose body continues in the next block.
    BiffBytes seed = Join({Bof(), Sst(), Eof(), Bof(), Row(1), Row(2), Row(3)});
    seed.Append(Pad(size_t(b) - seed.Size() - 8).Bytes());
    const std::vector<uint8_t> cut = LabelSst(3, 1).Bytes();
    seed.Append(std::vector<uint8_t>(cut.begin(), cut.begin() + 8));
    const std::vector<uint8_t> tail(cut.begin() + 8, cut.end());
    // Each candidate block continues the record, holds `records` and is filled up to its end; its
    // physically next block ends the stream.
    auto continuation = [&](const BiffBytes& records) {
        BiffBytes block;
        block.Append(tail).Append(records.Bytes());
        block.Append(Pad(size_t(b) - block.Size()).Bytes());
        return block.Bytes();
    };
    const auto ending = Block(Join({LabelSst(9, 1), Eof(), Eof()}), b);
    MemoryBlockSource source(b, 100);
    source.Put(10, std::vector<uint8_t>(seed.Bytes()));
    source.Put(40, continuation(Join({Row(3), LabelSst(4, 1)})));                 // repeats row 3
    source.Put(60, continuation(Join({Eof(), Bof(), Guts(), Row(3), LabelSst(3, 2)})));  // a new sheet
    source.Put(80, continuation(Join({Row(4), LabelSst(4, 1)})));                 // new rows
    for (int32_t i : {41, 61, 81}) source.Put(i, ending);

    const auto results = Search(source, table, seed.Bytes(), 10);
    std::set<int32_t> continued;
    for (const auto& chain : results) {
        ASSERT_GE(chain.size(), 2u);
        continued.insert(chain[1]);
    }
    EXPECT_EQ(continued, (std::set<int32_t> {60, 80}));
    for (const auto& chain : results) EXPECT_EQ(chain.size(), 5u);  // seed, block, ending, two after
}

TEST(FragmentAssembler, TheNextCellIsTriedBeforeTheNextRow) {
    const int32_t b = 512;
    // An EOF may not follow a cell directly here, so that the blocks ending the stream are reached only
    // through the candidates.
    RecordSuccessionTable table = PermissiveTable();
    table.Set({0x00FD, 10, {0x00FD, kUnknownType}});
    BiffBytes seed = Join({Bof(), Sst(), Eof(), Bof(), LabelSst(9, 0)});
    seed.Append(Pad(size_t(b) - seed.Size() - 14).Bytes());
    seed.Append(LabelSst(10, 3).Bytes());  // ends exactly at the block end
    ASSERT_EQ(seed.Size(), size_t(b));
    MemoryBlockSource source(b, 100);
    source.Put(10, seed.Bytes());
    // Two candidates whose stream ends in their physically next block; the one with the lower index
    // would be followed first if the candidates were not ordered.
    auto candidate = [&](uint16_t row, uint16_t column) {
        BiffBytes block = LabelSst(row, column);
        block.Append(Pad(size_t(b) - block.Size()).Bytes());
        return block.Bytes();
    };
    source.Put(30, candidate(11, 0));  // the start of the next row: score 2
    source.Put(50, candidate(10, 4));  // the next cell: score 3
    source.Put(31, Block(Eof(), b));
    source.Put(51, Block(Eof(), b));

    const auto results = Search(source, table, seed.Bytes(), 10);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], (std::vector<int32_t> {10, 50, 51, 52, 53}));  // with the two blocks after the last
    EXPECT_EQ(results[1], (std::vector<int32_t> {10, 30, 31, 32, 33}));
}

TEST(FragmentAssembler, ARecordSpanningMoreThanFiftyBlocksEndsTheBranch) {
    const int32_t b = 512;
    const RecordSuccessionTable table = PermissiveTable();
    for (int32_t blocksSpanned : {50, 51}) {
        // The last record, a shared-string table, starts at 508 and its body covers `blocksSpanned`
        // whole blocks after this one, ending 10 bytes into the next.
        BiffBytes seed = Join({Bof(), Sst(), Eof(), Bof()});
        seed.Append(Pad(508 - seed.Size()).Bytes());
        seed.U16(0x00FC).U16(uint16_t(blocksSpanned * b + 10));
        MemoryBlockSource source(b, 200);
        source.Put(10, seed.Bytes());
        Search(source, table, seed.Bytes(), 10);
        const auto& requests = source.Requests();
        const bool continued = std::count(requests.begin(), requests.end(), 10 + blocksSpanned + 1) > 0;
        EXPECT_EQ(continued, blocksSpanned == 50) << blocksSpanned;
    }
}

TEST(FragmentAssembler, ALongRecordIsSkippedToTheBlockWhereItEnds) {
    const int32_t b = 512;
    const RecordSuccessionTable table = PermissiveTable();
    BiffBytes seed = Join({Bof(), Sst(), Eof(), Bof()});
    seed.Append(Pad(size_t(b) - seed.Size() - 14).Bytes());
    seed.Append(LabelSst(1, 1).Bytes());
    // Block 40 begins a record too long to be judged (an unknown type of 1900 bytes); it runs through
    // blocks 41-43 and ends 100 bytes into block 44, where the records go on to the stream's end.
    BiffBytes start = Join({LabelSst(1, 2)});
    start.U16(kUnknownType).U16(uint16_t(3 * b + 100 + (b - 14 - 4)));
    MemoryBlockSource source(b, 100);
    source.Put(10, seed.Bytes());
    source.Put(40, Block(start, b));
    for (int32_t i = 41; i <= 43; ++i) source.Put(i, std::vector<uint8_t>(size_t(b), 0x55));
    BiffBytes end;
    end.Append(std::vector<uint8_t>(100, 0x55)).Append(Join({LabelSst(2, 1), Eof()}).Bytes());
    source.Put(44, Block(end, b));

    const auto results = Search(source, table, seed.Bytes(), 10);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (std::vector<int32_t> {10, 40, 41, 42, 43, 44, 45, 46}));
}

TEST(FragmentAssembler, DepthLimitAndStopEndTheSearch) {
    const int32_t b = 512;
    const RecordSuccessionTable table = PermissiveTable();
    MemoryBlockSource source(b, 100);
    source.Put(11, Block(Join({LabelSst(1, 1), Eof()}), b));
    for (int32_t depth : {5000, 5001}) {
        SearchContext context(source, table);
        ChainNode node;
        node.Append(10);
        node.depth = depth;
        node.lastType = 0x00FD;
        node.nextBlock = 11;
        source.ClearRequests();
        FragmentAssembler::Extend(context, std::move(node), true);
        EXPECT_EQ(source.Requests().empty(), depth == 5001) << depth;
    }

    // A stop request ends the scan of all blocks before it reads any.
    std::atomic<uint32_t> stop {1};
    source.Remove(11);
    BiffBytes seed = Join({Bof(), Sst(), Eof(), Bof()});
    seed.Append(Pad(size_t(b) - seed.Size() - 14).Bytes()).Append(LabelSst(1, 1).Bytes());
    source.ClearRequests();
    EXPECT_TRUE(Search(source, table, seed.Bytes(), 10, &stop).empty());
    EXPECT_LE(source.Requests().size(), 1u);  // only the natural continuation was tried
}

}  // namespace
}  // namespace tabulon
