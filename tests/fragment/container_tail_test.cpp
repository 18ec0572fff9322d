#include "fragment/container_tail.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "common/little_endian.h"
#include "support/memory_block_source.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::MemoryBlockSource;

// Every offered block and every filler counts as free; the disk neighbours are the nearest of them.
FreeNeighbours Offered(MemoryBlockSource& source) {
    const auto free = [&source](int32_t block) { return !source.GetBlock(block).empty() || source.FillerByte(block) >= 0; };
    return {[&source, free](int32_t block) {
                for (int32_t next = block + 1; next < source.BlockCount(); ++next)
                    if (free(next)) return next;
                return -1;
            },
            [&source, free](int32_t block) {
                for (int32_t previous = std::min(block, source.BlockCount()) - 1; previous >= 2; --previous)
                    if (free(previous)) return previous;
                return -1;
            }};
}

// The document's allocation table, read from the sectors its header names (512-byte sectors).
std::vector<uint32_t> AllocationTable(const std::vector<uint8_t>& file) {
    std::vector<uint32_t> fat;
    const uint32_t count = LoadU32(file.data() + 44);
    for (uint32_t i = 0; i < count && i < 109; ++i) {
        const uint64_t at = (uint64_t(LoadU32(file.data() + 76 + 4 * i)) + 1) * 512;
        for (uint32_t j = 0; j < 128 && at + 4 * j + 4 <= file.size(); ++j) fat.push_back(LoadU32(file.data() + at + 4 * j));
    }
    return fat;
}

std::vector<uint8_t> RandomBlock(int32_t b, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> block(static_cast<size_t>(b));
    for (auto& byte : block) byte = uint8_t(random());
    return block;
}

// A file of the sample corpus; empty when the corpus or the file is missing.
std::vector<uint8_t> CorpusFile(const std::string& name) {
    const std::string corpus = test::CorpusDir();
    return corpus.empty() ? std::vector<uint8_t> {} : test::ReadFileBytes(corpus + "/" + name);
}

// The file as a list of blocks gives it, cut to `size` bytes.
std::vector<uint8_t> Rebuilt(MemoryBlockSource& source, const std::vector<int32_t>& blocks, size_t size) {
    std::vector<uint8_t> bytes;
    for (const int32_t block : blocks) {
        const auto data = source.GetBlock(block);
        bytes.insert(bytes.end(), data.begin(), data.begin() + std::min<long>(source.BlockBytes(), long(data.size())));
    }
    if (bytes.size() > size) bytes.resize(size);
    return bytes;
}

// Completes `found` to `size` bytes through the document whose header opens block `first`, as a search's
// result is completed; false when the completion does not take the header.
bool Complete(MemoryBlockSource& source, int32_t first, std::vector<int32_t>& found, size_t size) {
    const auto header = source.GetBlock(first);
    const std::vector<uint8_t> headerCopy(header.begin(), header.begin() + 512);
    return CompleteContainerTail(source, Offered(source), headerCopy, size, found);
}

std::vector<int32_t> BlockRun(int32_t first, int32_t count) {
    std::vector<int32_t> run(static_cast<size_t>(count));
    std::iota(run.begin(), run.end(), first);
    return run;
}

// An xlwt workbook keeps its allocation table and directory after the stream. The file breaks right
// before the table: the search's result ends with two blocks of another workbook that follow the first
// piece on disk, and the second piece lies far away.
TEST(ContainerTail, TailCutIntoTwoPiecesIsPutBack) {
    test::TempDir dir;
    ASSERT_TRUE(test::MakeWorkbook(dir.File("book.xls"), 400, 6, 1, 3));
    ASSERT_TRUE(test::MakeWorkbook(dir.File("other.xls"), 380, 6, 1, 4));
    const auto file = test::ReadFileBytes(dir.File("book.xls"));
    const auto other = test::ReadFileBytes(dir.File("other.xls"));
    for (const int32_t b : {512, 2048}) {
        SCOPED_TRACE("block " + std::to_string(b));
        const int32_t clusters = int32_t((file.size() + size_t(b) - 1) / size_t(b));
        const uint32_t fatSector = LoadU32(file.data() + 76);
        const int32_t cut = int32_t((uint64_t(fatSector) + 1) * 512 / uint64_t(b));  // the table's cluster
        ASSERT_GT(cut, 3);
        ASSERT_LT(cut, clusters);

        MemoryBlockSource source(b, 4000);
        source.PutRun(10, std::span(file).first(size_t(cut) * size_t(b)));
        // The other workbook's tail follows the first piece on disk, with table and directory sectors of
        // its own at other positions.
        const size_t otherCut = other.size() / size_t(b) * size_t(b) - size_t(clusters - cut) * size_t(b);
        source.PutRun(10 + cut, std::span(other).subspan(otherCut));
        source.PutRun(3000, std::span(file).subspan(size_t(cut) * size_t(b)));

        std::vector<int32_t> found = BlockRun(10, cut + 2);  // the stream, then two blocks in disk order
        ASSERT_TRUE(Complete(source, 10, found, file.size()));

        EXPECT_EQ(Rebuilt(source, found, file.size()), file);
    }
}

// An Excel-written file keeps its table and first directory sector before the stream; after it come
// other streams, whose bytes nothing predicts (here a thumbnail), and a last directory sector. The
// directory sector is found among the free blocks, and the blocks between it and the stream are split
// between those after the first piece and those before the directory where the bytes meet best.
TEST(ContainerTail, UnpredictableTailIsSplitWhereItsBytesMeet) {
    const auto file = CorpusFile("libxls__fuzz_corpus_dates-leap-year-1900-xls.xls");
    ASSERT_FALSE(file.empty());
    ASSERT_GT(file.size(), 40000u);
    const auto fat = AllocationTable(file);
    uint32_t lastDirectory = LoadU32(file.data() + 48);
    while (lastDirectory < fat.size() && fat[lastDirectory] < 0xFFFFFFF0u) lastDirectory = fat[lastDirectory];
    const int32_t b = 512;
    const int32_t clusters = int32_t(file.size() / size_t(b));
    const int32_t directoryCluster = int32_t(lastDirectory) + 1;
    ASSERT_GT(directoryCluster, 60) << "the directory's last sector lies after the other streams";
    const int32_t cut = 50;  // among the other streams' bytes

    MemoryBlockSource source(b, 4000);
    source.PutRun(10, std::span(file).first(size_t(cut) * size_t(b)));
    for (int32_t i = 0; i < clusters; ++i) source.Put(10 + cut + i, RandomBlock(b, uint32_t(i)));
    source.PutRun(2000, std::span(file).subspan(size_t(cut) * size_t(b)));

    std::vector<int32_t> found = BlockRun(10, 40);  // the stream and two blocks after it
    ASSERT_TRUE(Complete(source, 10, found, file.size()));
    ASSERT_EQ(found.size(), size_t(clusters));

    EXPECT_EQ(Rebuilt(source, found, file.size()), file);
}

// A file whose summary streams (property sets padded with zeros to a whole sector run) lie between the
// stream and the table, each of its last clusters a piece of its own. An empty block (a filler the source
// does not offer) and a random one follow the stream on disk; the property set's opening and its padding
// find the right blocks.
TEST(ContainerTail, PaddedPropertySetsFindTheirPieces) {
    const auto file = CorpusFile("poi__46250.xls");
    ASSERT_FALSE(file.empty());
    const int32_t b = 4096;
    const int32_t clusters = int32_t((file.size() + size_t(b) - 1) / size_t(b));
    ASSERT_EQ(clusters, 24) << "the stream ends in cluster 21, the summary streams and tables follow";

    MemoryBlockSource source(b, 4000);
    source.PutRun(10, std::span(file).first(22 * size_t(b)));
    source.PutFiller(32, 0x00);
    source.Put(33, RandomBlock(b, 7));
    source.PutRun(3000, std::span(file).subspan(22 * size_t(b), size_t(b)));
    source.PutRun(1500, std::span(file).subspan(23 * size_t(b)));

    std::vector<int32_t> found = BlockRun(10, 24);  // the stream and two blocks after it
    ASSERT_TRUE(Complete(source, 10, found, file.size()));
    EXPECT_EQ(Rebuilt(source, found, file.size()), file);
}

// Two POI workbooks keep document summary sets that differ only in what nothing predicts. With the other
// file's block first on disk, the completion takes it and tells where it had a choice; kept away from
// that block, the completion rebuilds the file.
TEST(ContainerTail, ATieInTheTailIsToldAndTheOtherBlockTried) {
    const auto file = CorpusFile("poi__46250.xls");
    const auto other = CorpusFile("poi__54686_fraction_formats.xls");
    ASSERT_FALSE(file.empty());
    ASSERT_FALSE(other.empty());
    const int32_t b = 4096;
    MemoryBlockSource source(b, 4000);
    source.PutRun(10, std::span(file).first(22 * size_t(b)));
    source.PutFiller(32, 0x00);
    source.Put(33, RandomBlock(b, 7));
    source.PutRun(2000, std::span(other).subspan(42 * size_t(b), size_t(b)));
    source.PutRun(3000, std::span(file).subspan(22 * size_t(b), size_t(b)));
    source.PutRun(1500, std::span(file).subspan(23 * size_t(b)));

    const auto header = source.GetBlock(10);
    const std::vector<uint8_t> headerCopy(header.begin(), header.begin() + 512);
    std::vector<int32_t> first = BlockRun(10, 24);
    std::optional<TailTie> tie;
    ASSERT_TRUE(CompleteContainerTail(source, Offered(source), headerCopy, file.size(), first, &tie));
    ASSERT_TRUE(tie.has_value());
    EXPECT_EQ(tie->cluster, 22u);
    EXPECT_EQ(tie->block, 2000);
    EXPECT_NE(Rebuilt(source, first, file.size()), file);

    std::vector<int32_t> second = BlockRun(10, 24);
    ASSERT_TRUE(CompleteContainerTail(source, Offered(source), headerCopy, file.size(), second, nullptr, &*tie));
    EXPECT_EQ(Rebuilt(source, second, file.size()), file);
}

// A stream longer than the table's first sector describes has the table's second sector inside its run;
// the stream's chain steps over it. The search found the stream's last cluster (which holds that table
// sector) in a piece of its own; other files' blocks lie around each piece, and the directory lies far
// away. Once the directory tells the stream's size, the stream's chain must still agree with its table.
TEST(ContainerTail, AStreamRunThroughATableSectorKeepsItsLastCluster) {
    const auto file = CorpusFile("poi__stress.xls");
    ASSERT_FALSE(file.empty());
    const int32_t b = 4096;
    const int32_t clusters = int32_t((file.size() + size_t(b) - 1) / size_t(b));
    ASSERT_EQ(clusters, 18) << "the table's second sector and the stream's end lie in cluster 16, the directory in 17";
    ASSERT_EQ(LoadU32(file.data() + 80), 128u);

    MemoryBlockSource source(b, 4000);
    source.PutRun(10, std::span(file).first(16 * size_t(b)));
    source.PutRun(3000, std::span(file).subspan(16 * size_t(b), size_t(b)));
    source.PutRun(1500, std::span(file).subspan(17 * size_t(b)));
    // Other files' blocks around each piece.
    for (const int32_t other : {26, 2999, 3001, 1499, 1501}) source.Put(other, RandomBlock(b, uint32_t(other)));

    // The search's result: the first piece, the stream's last cluster and the block after it on disk.
    std::vector<int32_t> found = BlockRun(10, 16);
    found.push_back(3000);
    found.push_back(3001);
    ASSERT_TRUE(Complete(source, 10, found, file.size()));
    EXPECT_EQ(Rebuilt(source, found, file.size()), file);
}

// A large file's last allocation-table sector (here the eleventh, describing sectors 1280 on) is a piece
// of its own, and the rest of the file follows it. A block that merely agrees with it is not taken for it:
// another file's table, whose chains do not run on sector by sector, and a sector of 0xFF bytes, which
// would mark every sector it describes free.
TEST(ContainerTail, ATableSectorIsToldFromBlocksThatMerelyAgree) {
    const auto file = CorpusFile("poi__15228.xls");
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(file.size(), 692224u);
    const auto fat = AllocationTable(file);
    const int32_t b = 512;
    const int32_t tableCluster = 1278;  // sector 1277, after the header
    ASSERT_EQ(fat[1277], 0xFFFFFFFDu) << "sector 1277 holds a table sector";
    const auto table = std::span(file).subspan(size_t(tableCluster) * 512, 512);

    // The entries for the file's sectors (1280 to 1350) in another order: every value still names a sector
    // of the file or marks one, and those past the file's end stay free.
    std::vector<uint8_t> shuffled(table.begin(), table.end());
    std::mt19937 random(3);
    for (size_t i = 70; i > 0; --i) {
        const size_t j = random() % (i + 1);
        std::swap_ranges(shuffled.begin() + long(4 * i), shuffled.begin() + long(4 * i + 4), shuffled.begin() + long(4 * j));
    }
    const std::vector<uint8_t> ones(512, 0xFF);
    struct Case {
        const char* what;
        const std::vector<uint8_t>* decoy;
        int32_t at;
    };
    const Case cases[] = {{"another table", &shuffled, 1291}, {"0xFF bytes next on disk", &ones, 1288}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryBlockSource source(b, 8000);
        source.PutRun(10, std::span(file).first(size_t(tableCluster) * 512));
        for (int32_t other = 1288; other <= 1291; ++other) source.Put(other, RandomBlock(b, uint32_t(other)));
        source.Put(c.at, *c.decoy);
        source.PutRun(5000, std::span(file).subspan(size_t(tableCluster) * 512));

        std::vector<int32_t> found = BlockRun(10, tableCluster);  // the stream, then two blocks in disk order
        found.push_back(1288);
        found.push_back(1289);
        ASSERT_TRUE(Complete(source, 10, found, file.size()));
        EXPECT_EQ(Rebuilt(source, found, file.size()), file);
    }
}

// Some writers leave the allocation table's own sectors unmarked (here chained to each other). The
// file's last cluster, its second table sector, is a piece of its own far away.
TEST(ContainerTail, ATableThatLeavesItsOwnSectorsUnmarkedIsPlaced) {
    const auto file = CorpusFile("poi__45322.xls");
    ASSERT_FALSE(file.empty());
    const int32_t b = 4096;
    const int32_t clusters = int32_t((file.size() + size_t(b) - 1) / size_t(b));
    ASSERT_EQ(clusters, 22);
    const auto fat = AllocationTable(file);
    ASSERT_EQ(LoadU32(file.data() + 80), 167u) << "the second table sector is the file's last sector";
    ASSERT_NE(fat[167], 0xFFFFFFFDu) << "and the table does not mark it as its own";

    MemoryBlockSource source(b, 4000);
    source.PutRun(10, std::span(file).first(21 * size_t(b)));
    source.Put(31, RandomBlock(b, 9));
    source.PutRun(3000, std::span(file).subspan(21 * size_t(b)));

    std::vector<int32_t> found = BlockRun(10, 22);  // the stream, then a block in disk order
    ASSERT_TRUE(Complete(source, 10, found, file.size()));
    EXPECT_EQ(Rebuilt(source, found, file.size()), file);
}

// A file whose workbook stream follows a directory, a mini stream, other documents' streams and summary
// streams, and whose first piece breaks among them: the search's result takes the blocks after the first
// piece in disk order up to the stream's block, which lies elsewhere. The clusters between are placed by
// what the first cluster's table and directory predict and filled from both sides.
TEST(ContainerTail, HeadBeforeAStreamThatLiesElsewhereIsPutBack) {
    const auto file = CorpusFile("poi__ole2-embedding.xls");
    ASSERT_FALSE(file.empty());
    const int32_t b = 2048;
    const int32_t clusters = int32_t((file.size() + size_t(b) - 1) / size_t(b));
    const int32_t streamCluster = 13;  // the stream starts at sector 51, 26624 bytes into the file
    ASSERT_EQ(clusters, 21);
    ASSERT_EQ(LoadU32(file.data() + 48), 1u) << "the directory starts in the first cluster";

    for (const int32_t cut : {2, 5, 9}) {
        SCOPED_TRACE("first piece of " + std::to_string(cut) + " clusters");
        MemoryBlockSource source(b, 4000);
        source.PutRun(10, std::span(file).first(size_t(cut) * size_t(b)));
        for (int32_t i = 10 + cut; i < 40; ++i) source.Put(i, RandomBlock(b, uint32_t(i)));
        const auto rest = std::span(file).subspan(size_t(cut) * size_t(b));
        source.PutRun(1500, rest.first(size_t(streamCluster - cut) * size_t(b)));
        source.PutRun(3000, rest.subspan(size_t(streamCluster - cut) * size_t(b)));

        std::vector<int32_t> found = BlockRun(10, streamCluster);  // disk order up to the stream's block
        const auto stream = BlockRun(3000, clusters - streamCluster);
        found.insert(found.end(), stream.begin(), stream.end());
        ASSERT_TRUE(Complete(source, 10, found, file.size()));
        EXPECT_EQ(Rebuilt(source, found, file.size()), file);
    }
}

// A workbook with other documents embedded, each with a stream called "Workbook" of its own whose entry
// lies in a later directory sector; its own stream comes last. The first piece ends after such a
// directory sector: that sector is this document's though the entry names another start.
TEST(ContainerTail, EmbeddedWorkbookEntriesDoNotRefuseTheirDirectorySector) {
    const auto file = CorpusFile("poi__excel_with_embeded.xls");
    ASSERT_FALSE(file.empty());
    const int32_t b = 4096;
    const int32_t clusters = int32_t((file.size() + size_t(b) - 1) / size_t(b));
    const int32_t streamCluster = 40;  // the stream starts at sector 320; an embedded one's entry is in sector 160
    ASSERT_EQ(clusters, 46);
    const int32_t cut = 25;

    MemoryBlockSource source(b, 4000);
    source.PutRun(10, std::span(file).first(size_t(cut) * size_t(b)));
    for (int32_t i = 10 + cut; i < 10 + streamCluster + 2; ++i) source.Put(i, RandomBlock(b, uint32_t(i)));
    source.PutRun(2000, std::span(file).subspan(size_t(cut) * size_t(b)));

    std::vector<int32_t> found = BlockRun(10, streamCluster);
    const auto stream = BlockRun(2000 + streamCluster - cut, clusters - streamCluster);
    found.insert(found.end(), stream.begin(), stream.end());
    ASSERT_TRUE(Complete(source, 10, found, file.size()));
    EXPECT_EQ(Rebuilt(source, found, file.size()), file);
}

// A large summary stream (its thumbnail's compressed bytes) ends in the file's last cluster, whose
// rest is its zero padding and the directory. The file breaks before the cluster ahead of it. The last
// cluster's bytes are predicted, so they say nothing about which block meets it: the thumbnail's bytes
// that run on from the first piece decide.
TEST(ContainerTail, PaddingAfterAStreamsEndDoesNotDecideWhereItsBytesMeet) {
    const auto file = CorpusFile("poi__43902.xls");
    ASSERT_FALSE(file.empty());
    const int32_t b = 4096;
    const int32_t clusters = int32_t((file.size() + size_t(b) - 1) / size_t(b));
    ASSERT_EQ(clusters, 21) << "the summary stream ends 12 bytes into cluster 20, the directory follows";

    // On disk the first piece is followed by another workbook's last cluster, mostly zeros.
    const auto other = CorpusFile("poi__34775.xls");
    ASSERT_GT(other.size(), 22 * size_t(b));
    std::vector<uint8_t> otherLast(other.begin() + 22 * b, other.end());
    otherLast.resize(size_t(b), 0x00);

    MemoryBlockSource source(b, 4000);
    source.PutRun(10, std::span(file).first(19 * size_t(b)));
    source.Put(29, otherLast);
    source.Put(30, RandomBlock(b, 5));
    source.PutRun(2500, std::span(file).subspan(19 * size_t(b)));

    std::vector<int32_t> found = BlockRun(10, 19);
    ASSERT_TRUE(Complete(source, 10, found, file.size()));
    EXPECT_EQ(Rebuilt(source, found, file.size()), file);
}

TEST(ContainerTail, WithoutACompoundHeaderTheListIsLeftAlone) {
    MemoryBlockSource source(512, 100);
    for (int32_t i = 10; i < 20; ++i) source.Put(i, RandomBlock(512, uint32_t(i)));
    std::vector<int32_t> found = {10, 11};
    const std::vector<uint8_t> header = RandomBlock(512, 99);
    EXPECT_FALSE(CompleteContainerTail(source, Offered(source), header, 5000, found));
    EXPECT_EQ(found, std::vector<int32_t>({10, 11}));
}

}  // namespace
}  // namespace tabulon
