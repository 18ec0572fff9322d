#include "fragment/fragment_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fragment/record_succession_table.h"
#include "fragment/search_context.h"
#include "fragment/workbook_stream_seed.h"
#include "support/memory_block_source.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::MemoryBlockSource;

// A document whose first piece holds its directory, and whose workbook stream lies in a later piece:
// another block nearer on disk holds a workbook-globals BOF at the stream's offset, but no stream that
// can be followed. The search walks from the document's own block in its place.
TEST(SearchFragments, AStreamStartThatLeadsNowhereGivesWayToTheNextThatMayHoldIt) {
    const std::string dir = test::CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    // Directory in the first 4 KiB; the workbook stream from sector 320, at offset 512 of cluster 40.
    const auto bytes = test::ReadFileBytes(dir + "/poi__excel_with_embeded.xls");
    ASSERT_GT(bytes.size(), 41 * 4096u);
    constexpr uint8_t kGlobalsBof[8] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00};
    ASSERT_TRUE(std::equal(kGlobalsBof, kGlobalsBof + 8, bytes.begin() + 40 * 4096 + 512));
    MemoryBlockSource source(4096, 2000);
    source.PutRun(10, std::span(bytes).first(4096));
    source.PutRun(1000, std::span(bytes).subspan(4096));  // clusters 1.. at 1000.., cluster 40 at 1039
    std::vector<uint8_t> decoy(4096, 0x33);
    std::copy(kGlobalsBof, kGlobalsBof + 8, decoy.begin() + 512);
    source.Put(100, decoy);

    ASSERT_EQ(LoadProcessSuccessionTable(), SuccessionTableError::None);
    WorkbookStreamSeed seed;
    ASSERT_TRUE(FindWorkbookStreamSeed(source, 10, 8, seed));
    ASSERT_EQ(seed.streamBlock, 100);
    SearchContext context(source, RecordSuccessionTable::Process());
    context.sizeLimit = bytes.size();
    SearchFragments(context, seed);
    ASSERT_FALSE(context.results.empty());
    const auto& found = context.results[0];
    ASSERT_GE(found.size(), 46u);
    for (size_t k = 40; k < 46; ++k) EXPECT_EQ(found[k], 999 + int32_t(k)) << "cluster " << k;
}

}  // namespace
}  // namespace tabulon
