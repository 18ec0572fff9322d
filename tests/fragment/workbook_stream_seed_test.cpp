#include "fragment/workbook_stream_seed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "support/memory_block_source.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::MemoryBlockSource;

constexpr uint8_t kGlobalsBof[8] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00};

std::vector<uint8_t> CorpusFile(const std::string& name) {
    const std::string dir = test::CorpusDir();
    EXPECT_FALSE(dir.empty()) << "the workbook corpus is missing";
    const auto bytes = test::ReadFileBytes(dir + "/" + name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

// Corpus files whose workbook stream follows other streams; the offsets are the stream's start sector
// from the directory as python3-olefile reads it, (sector + 1) x 512.
struct StreamElsewhere {
    const char* name;
    int64_t streamOffset;
};
constexpr StreamElsewhere kStreamsElsewhere[] = {
    {"parseexcel__t_excel_files_pers-protected.xls", 2560}, {"poi__51670.xls", 5632}, {"poi__54500.xls", 7680},
    {"poi__61300.xls", 38400},
};

// The seed of a document laid out contiguously from block 10 in blocks of `b` bytes; its chain must be
// the blocks from 10 to the stream's block.
WorkbookStreamSeed SeedOfContiguousDocument(const std::vector<uint8_t>& bytes, int32_t b) {
    MemoryBlockSource source(b, int32_t(bytes.size() / size_t(b)) + 20);
    source.PutRun(10, bytes);
    WorkbookStreamSeed seed;
    EXPECT_TRUE(FindWorkbookStreamSeed(source, 10, b / 512, seed));
    EXPECT_EQ(seed.chain.blocks.size(), size_t(std::max(seed.streamBlock - 10 + 1, 0)));
    for (size_t i = 0; i < seed.chain.blocks.size(); ++i) EXPECT_EQ(seed.chain.blocks[i], int32_t(10 + i));
    return seed;
}

TEST(WorkbookStreamSeed, StreamAfterOtherStreamsIsFoundThroughTheDirectory) {
    for (const auto& file : kStreamsElsewhere) {
        const auto bytes = CorpusFile(file.name);
        ASSERT_GT(int64_t(bytes.size()), file.streamOffset) << file.name;
        ASSERT_TRUE(std::equal(kGlobalsBof, kGlobalsBof + 8, bytes.begin() + file.streamOffset)) << file.name;
        for (const int32_t b : {512, 2048, 4096}) {
            SCOPED_TRACE(std::string(file.name) + ", block " + std::to_string(b));
            const WorkbookStreamSeed seed = SeedOfContiguousDocument(bytes, b);
            const int32_t streamBlock = 10 + int32_t(file.streamOffset / b);
            const int32_t within = int32_t(file.streamOffset % b);
            EXPECT_EQ(seed.streamBlock, streamBlock);
            EXPECT_EQ(seed.length, b - within);
            ASSERT_GE(seed.data.size(), size_t(seed.length));
            EXPECT_TRUE(std::equal(seed.data.begin(), seed.data.begin() + seed.length, bytes.begin() + file.streamOffset));
        }
    }
}

TEST(WorkbookStreamSeed, StreamFirstIsStillTakenFromTheFixedPlace) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 200, 4));
    const auto bytes = test::ReadFileBytes(dir.File("book.xls"));
    MemoryBlockSource source(4096, 500);
    source.PutRun(20, bytes);
    WorkbookStreamSeed seed;
    ASSERT_TRUE(FindWorkbookStreamSeed(source, 20, 8, seed));
    EXPECT_EQ(seed.streamBlock, 20);
    EXPECT_EQ(seed.length, 4096 - 512);
}

// The directory is not where a contiguous first piece puts it: its block is missing or holds other
// bytes. A BOF at a sector boundary of the first block is then taken; beyond it nothing is guessed.
TEST(WorkbookStreamSeed, DirectoryNotInTheExpectedBlock) {
    const auto bytes = CorpusFile("parseexcel__t_excel_files_pers-protected.xls");  // directory at 1024, stream at 2560
    ASSERT_GT(bytes.size(), 4096u);

    {  // 4096-byte blocks: the directory's sector in block g holds other bytes, the stream is in block g too.
        SCOPED_TRACE("damaged directory, stream in the first block");
        std::vector<uint8_t> damaged = bytes;
        std::fill(damaged.begin() + 1024, damaged.begin() + 1536, uint8_t(0x5A));
        MemoryBlockSource source(4096, 100);
        source.PutRun(10, damaged);
        WorkbookStreamSeed seed;
        ASSERT_TRUE(FindWorkbookStreamSeed(source, 10, 8, seed));
        EXPECT_EQ(seed.streamBlock, 10);
        EXPECT_EQ(seed.length, 4096 - 2560);
        EXPECT_EQ(seed.chain.blocks, std::vector<int32_t>({10}));
    }
    {  // 512-byte blocks: the directory's block g+2 is not offered; the stream block holds a BOF but no
       // directory says it belongs to this document.
        SCOPED_TRACE("directory block missing");
        MemoryBlockSource source(512, 100);
        source.PutRun(10, bytes);
        source.Remove(12);
        WorkbookStreamSeed seed;
        EXPECT_FALSE(FindWorkbookStreamSeed(source, 10, 1, seed));
    }
    {  // 1024-byte blocks: the directory is found, but the stream's block (g+2) belongs to another file.
        SCOPED_TRACE("stream block replaced");
        MemoryBlockSource source(1024, 100);
        source.PutRun(10, bytes);
        source.Put(12, std::vector<uint8_t>(1024, 0x33));
        WorkbookStreamSeed seed;
        EXPECT_FALSE(FindWorkbookStreamSeed(source, 10, 2, seed));
    }
}

// The directory in the first block puts the stream's start in a later cluster, and the file breaks
// before it: the stream's block is the one that holds a workbook-globals BOF where the start sector puts
// it, wherever it lies, and the directory gives the stream's size. Another document's first block with
// its stream at that offset is no stream block.
TEST(WorkbookStreamSeed, StreamBlockAfterABreakIsFoundThroughTheFirstBlocksDirectory) {
    const auto bytes = CorpusFile("poi__bug55505.xls");  // directory at 1024, stream from sector 11 (6144)
    ASSERT_GT(bytes.size(), 8192u);
    ASSERT_TRUE(std::equal(kGlobalsBof, kGlobalsBof + 8, bytes.begin() + 6144));
    const uint32_t streamSize = uint32_t(bytes[1024 + 128 + 120]) | uint32_t(bytes[1024 + 128 + 121]) << 8 |
                                uint32_t(bytes[1024 + 128 + 122]) << 16 | uint32_t(bytes[1024 + 128 + 123]) << 24;
    MemoryBlockSource source(4096, 1000);
    source.PutRun(10, std::span(bytes).first(4096));
    source.Put(11, std::vector<uint8_t>(4096, 0x21));  // another file's block follows the first piece
    source.PutRun(700, std::span(bytes).subspan(4096));
    std::vector<uint8_t> otherFirst(bytes.begin(), bytes.begin() + 4096);
    std::copy(kGlobalsBof, kGlobalsBof + 8, otherFirst.begin() + 2048);
    source.Put(300, otherFirst);
    WorkbookStreamSeed seed;
    ASSERT_TRUE(FindWorkbookStreamSeed(source, 10, 8, seed));
    EXPECT_EQ(seed.streamBlock, 700);
    EXPECT_EQ(seed.chain.blocks, std::vector<int32_t>({10, 700}));
    EXPECT_EQ(seed.length, 4096 - 2048);
    EXPECT_EQ(seed.streamSize, streamSize);
    // Without that block anywhere, nothing is guessed.
    source.Remove(700);
    EXPECT_FALSE(FindWorkbookStreamSeed(source, 10, 8, seed));
}

// Where a block holds two sectors, the directory's first sector lies in the block after the header's,
// still in the first piece: it gives the stream's start and size as it does in the first block. A block
// there that is not a directory's opening gives nothing. What is found does not depend on how many bytes
// the source offers after each block (in memory a few, in direct mode the next sector): a BOF at the
// next block's start is not taken for one in the header's block.
TEST(WorkbookStreamSeed, TheDirectoryInTheFirstPiecesSecondBlockGivesTheStream) {
    const auto bytes = CorpusFile("poi__bug55505.xls");  // directory at 1024, stream from sector 11 (6144)
    ASSERT_GT(bytes.size(), 8192u);
    const uint32_t streamSize = uint32_t(bytes[1024 + 128 + 120]) | uint32_t(bytes[1024 + 128 + 121]) << 8 |
                                uint32_t(bytes[1024 + 128 + 122]) << 16 | uint32_t(bytes[1024 + 128 + 123]) << 24;
    for (const size_t bytesAfter : {size_t(8), size_t(512)}) {
        for (const bool directoryThere : {true, false}) {
            MemoryBlockSource source(1024, 1000, bytesAfter);
            source.PutRun(10, std::span(bytes).first(2048));
            if (!directoryThere) source.Put(11, std::vector<uint8_t>(bytes.begin() + 6144, bytes.begin() + 7168));
            source.Put(12, std::vector<uint8_t>(1024, 0x21));  // another file's block follows the first piece
            source.PutRun(700, std::span(bytes).subspan(2048));
            WorkbookStreamSeed seed;
            if (!directoryThere) {
                // Block 11 opens with the stream's BOF, as a small stream's next block could.
                EXPECT_FALSE(FindWorkbookStreamSeed(source, 10, 2, seed)) << bytesAfter;
                continue;
            }
            ASSERT_TRUE(FindWorkbookStreamSeed(source, 10, 2, seed)) << bytesAfter;
            EXPECT_EQ(seed.streamBlock, 704) << bytesAfter;
            EXPECT_EQ(seed.chain.blocks.back(), 704) << bytesAfter;
            EXPECT_EQ(seed.length, 1024) << bytesAfter;
            EXPECT_EQ(seed.streamSize, streamSize) << bytesAfter;
        }
    }
}

// Another document whose first pieces broke before its stream may have its stream's start at the same
// offset of a block nearer on disk: the seed takes the nearest, and keeps the others for the search to
// walk from in its place.
TEST(WorkbookStreamSeed, AStartFoundAnywhereKeepsTheOtherBlocksThatMayHoldIt) {
    const auto bytes = CorpusFile("poi__bug55505.xls");  // directory at 1024, stream from sector 11 (6144)
    ASSERT_GT(bytes.size(), 8192u);
    MemoryBlockSource source(4096, 1000);
    source.PutRun(10, std::span(bytes).first(4096));
    source.Put(11, std::vector<uint8_t>(4096, 0x21));
    source.PutRun(700, std::span(bytes).subspan(4096));
    std::vector<uint8_t> otherStart(4096, 0x33);
    std::copy(kGlobalsBof, kGlobalsBof + 8, otherStart.begin() + 2048);
    source.Put(50, otherStart);
    WorkbookStreamSeed seed;
    ASSERT_TRUE(FindWorkbookStreamSeed(source, 10, 8, seed));
    EXPECT_EQ(seed.streamBlock, 50);
    EXPECT_EQ(seed.otherStreamBlocks, std::vector<int32_t>({700}));
    WorkbookStreamSeed other;
    ASSERT_TRUE(ReseedAt(source, seed, 700, other));
    EXPECT_EQ(other.chain.blocks, std::vector<int32_t>({10, 700}));
    EXPECT_EQ(other.streamBlock, 700);
    EXPECT_EQ(other.length, 2048);
    EXPECT_EQ(other.streamSize, seed.streamSize);
    ASSERT_GE(other.data.size(), 2048u);
    EXPECT_TRUE(std::equal(other.data.begin(), other.data.begin() + 2048, bytes.begin() + 6144));
    EXPECT_FALSE(ReseedAt(source, seed, 900, other));  // a block not offered
}

// Corpus files whose workbook stream opens with sectors out of stream order (as python3-olefile follows
// the chain): the runs of sectors, in stream order, as far as the opening goes.
struct OutOfOrderOpening {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> runs;  // first and last sector of each run
};

// The stream's opening sectors lie in the first piece in another order than the stream's: the seed's
// bytes are the stream's own from its start, and the stream goes on at the start of the block after the
// seed's last one, as the search follows it.
TEST(WorkbookStreamSeed, OpeningOutOfStreamOrderIsReadInStreamOrder) {
    const OutOfOrderOpening files[] = {{"poi__53446.xls", {{7, 14}, {3, 6}, {15, 126}}},
                                       {"poi__bug55505.xls", {{11, 19}, {3, 10}, {20, 127}}}};
    for (const auto& file : files) {
        const auto bytes = CorpusFile(file.name);
        std::vector<uint8_t> stream;
        std::vector<uint64_t> sectorOffsets;  // file offset of each 512 bytes of the stream
        for (const auto& [first, last] : file.runs)
            for (uint32_t sector = first; sector <= last; ++sector) {
                const uint64_t offset = (uint64_t(sector) + 1) * 512;
                ASSERT_LE(offset + 512, bytes.size());
                stream.insert(stream.end(), bytes.begin() + long(offset), bytes.begin() + long(offset + 512));
                sectorOffsets.push_back(offset);
            }
        ASSERT_TRUE(std::equal(kGlobalsBof, kGlobalsBof + 8, stream.begin()));
        for (const int32_t b : {512, 2048, 4096}) {
            SCOPED_TRACE(std::string(file.name) + ", block " + std::to_string(b));
            const WorkbookStreamSeed seed = SeedOfContiguousDocument(bytes, b);
            ASSERT_GT(seed.length, 0);
            ASSERT_EQ(seed.length % 512, 0);
            ASSERT_LT(size_t(seed.length), stream.size());
            ASSERT_GE(seed.data.size(), size_t(seed.length));
            EXPECT_TRUE(std::equal(seed.data.begin(), seed.data.begin() + seed.length, stream.begin()));
            // Past the stretch that goes back: the opening holds every sector before the step forward.
            EXPECT_GE(size_t(seed.length), (file.runs[0].second - file.runs[0].first + 1 + file.runs[1].second -
                                            file.runs[1].first + 1) * 512u);
            EXPECT_EQ(sectorOffsets[size_t(seed.length) / 512], uint64_t(seed.streamBlock - 10 + 1) * uint64_t(b));
        }
    }
}

}  // namespace
}  // namespace tabulon
