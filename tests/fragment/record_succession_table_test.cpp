#include "fragment/record_succession_table.h"

#include <gtest/gtest.h>

#include "resources/embedded_resources.h"

namespace tabulon {
namespace {

RecordSuccessionTable SmallTable() {
    RecordSuccessionTable table;
    table.Set({0x00FD, 10, {0x00FD, 0x0203, 0x027E, 0x00FD}});  // duplicates are dropped
    table.Set({0x000C, 2, {0x000D}});
    table.Set({0x000A, 0, {}});
    return table;
}

TEST(RecordSuccessionTable, MayFollowByCountOfSuccessors) {
    const RecordSuccessionTable table = SmallTable();
    EXPECT_EQ(table.SuccessorCount(0x00FD), 3);
    EXPECT_TRUE(table.MayFollow(0x00FD, 0x0203));
    EXPECT_TRUE(table.MayFollow(0x00FD, 0x00FD));
    EXPECT_FALSE(table.MayFollow(0x00FD, 0x0208));
    // One successor: only that one.
    EXPECT_TRUE(table.MayFollow(0x000C, 0x000D));
    EXPECT_FALSE(table.MayFollow(0x000C, 0x000C));
    // No successor, or no entry at all: nothing may follow.
    EXPECT_FALSE(table.MayFollow(0x000A, 0x0809));
    EXPECT_FALSE(table.MayFollow(0x1234, 0x00FD));
}

TEST(RecordSuccessionTable, LengthOfUsesTheAssumedLengthOnlyWhenTheFieldIsCutOff) {
    const RecordSuccessionTable table = SmallTable();
    EXPECT_EQ(table.LengthOf(0x00FD, 300, 4093, 4096), 300u);  // the field ends at byte 4096
    EXPECT_EQ(table.LengthOf(0x00FD, 300, 4094, 4096), 10u);
    EXPECT_EQ(table.LengthOf(0x00FD, 300, 4095, 4096), 10u);
    EXPECT_EQ(table.LengthOf(0x1234, 300, 4095, 4096), 0u);
}

TEST(RecordSuccessionTable, ScrambleRoundTripsEveryLength) {
    for (size_t size = 0; size < 11; ++size) {
        std::vector<uint8_t> plain(size);
        for (size_t i = 0; i < size; ++i) plain[i] = uint8_t(i * 37 + 1);
        const auto stored = RecordSuccessionTable::Scramble(plain, 0x12345678);
        ASSERT_EQ(stored.size(), size + 4);
        EXPECT_EQ(RecordSuccessionTable::Unscramble(stored), plain) << size;
        // Trailing bytes that do not fill a word are stored as they are.
        for (size_t i = size / 4 * 4; i < size; ++i) EXPECT_EQ(stored[4 + i], plain[i]);
    }
    EXPECT_TRUE(RecordSuccessionTable::Unscramble(std::vector<uint8_t>(3, 0xAB)).empty());
}

TEST(RecordSuccessionTable, ScrambledWordsDependOnTheirPlace) {
    const std::vector<uint8_t> plain(64, 0);
    const auto stored = RecordSuccessionTable::Scramble(plain, 1);
    for (size_t at = 8; at + 4 <= stored.size(); at += 4)
        EXPECT_NE(std::vector<uint8_t>(stored.begin() + 4, stored.begin() + 8),
                  std::vector<uint8_t>(stored.begin() + long(at), stored.begin() + long(at) + 4));
    EXPECT_NE(RecordSuccessionTable::Scramble(plain, 2), stored);
}

TEST(RecordSuccessionTable, SerializedTableParsesBackAndTruncationKeepsEarlierEntries) {
    const RecordSuccessionTable table = SmallTable();
    const auto plain = table.Serialize();
    RecordSuccessionTable parsed;
    ASSERT_EQ(parsed.Parse(plain), 3u);
    EXPECT_TRUE(parsed.MayFollow(0x00FD, 0x027E));
    EXPECT_EQ(parsed.AssumedLength(0x00FD), 10);
    EXPECT_EQ(parsed.AssumedLength(0x000C), 2);

    // Entries in type order: 0x000A (6 bytes), 0x000C (8 bytes), 0x00FD (12 bytes). Cutting into the last
    // one keeps the first two.
    const std::vector<uint8_t> cut(plain.begin(), plain.end() - 1);
    ASSERT_EQ(parsed.Parse(cut), 2u);
    EXPECT_TRUE(parsed.MayFollow(0x000C, 0x000D));
    EXPECT_FALSE(parsed.MayFollow(0x00FD, 0x027E));
    // An entry count larger than the data is no error either.
    std::vector<uint8_t> inflated = plain;
    inflated[0] = 0xFF;
    EXPECT_EQ(parsed.Parse(inflated), 3u);
}

TEST(RecordSuccessionTable, ATypeStoredTwiceKeepsItsLastEntry) {
    const std::vector<uint8_t> plain = {2, 0, /*type*/ 0x0C, 0, /*k*/ 1, 0, /*len*/ 2, 0, 0x0D, 0,
                                        /*type*/ 0x0C, 0, /*k*/ 1, 0, /*len*/ 4, 0, 0x0E, 0};
    RecordSuccessionTable table;
    ASSERT_EQ(table.Parse(plain), 1u);
    EXPECT_TRUE(table.MayFollow(0x000C, 0x000E));
    EXPECT_FALSE(table.MayFollow(0x000C, 0x000D));
    EXPECT_EQ(table.AssumedLength(0x000C), 4);
}

TEST(RecordSuccessionTable, LoadReportsEachResourceFailureAndKeepsTheTable) {
    RecordSuccessionTable table = SmallTable();
    EXPECT_EQ(table.Load(nullptr), SuccessionTableError::ResourceNotFound);
    const EmbeddedResource empty {"x", {}};
    EXPECT_EQ(table.Load(&empty), SuccessionTableError::ResourceNotLoaded);
    const std::vector<uint8_t> tooShort = {1, 2, 3};
    const EmbeddedResource shortResource {"x", tooShort};
    EXPECT_EQ(table.Load(&shortResource), SuccessionTableError::ResourceNotLocked);
    const auto noEntries = RecordSuccessionTable::Scramble(std::vector<uint8_t> {0, 0}, 99);
    const EmbeddedResource emptyTable {"x", noEntries};
    EXPECT_EQ(table.Load(&emptyTable), SuccessionTableError::ResourceNotLocked);
    EXPECT_TRUE(table.MayFollow(0x00FD, 0x0203));  // unchanged by the failures

    RecordSuccessionTable other;
    other.Set({0x0208, 16, {0x0208}});
    const auto stored = RecordSuccessionTable::Scramble(other.Serialize(), 0xCAFEF00D);
    const EmbeddedResource good {"x", stored};
    EXPECT_EQ(table.Load(&good), SuccessionTableError::None);
    EXPECT_TRUE(table.MayFollow(0x0208, 0x0208));
    EXPECT_FALSE(table.MayFollow(0x00FD, 0x0203));
}

// The shipped table was learnt from real workbooks: it must know the fixed orders and lengths of BIFF8.
TEST(RecordSuccessionTable, ShippedTableKnowsCommonSuccessionsAndLengths) {
    ASSERT_NE(FindEmbeddedResource(kSuccessionTableResourceName), nullptr);
    ASSERT_EQ(LoadProcessSuccessionTable(), SuccessionTableError::None);
    const RecordSuccessionTable& table = RecordSuccessionTable::Process();
    EXPECT_GT(table.EntryCount(), 50u);
    EXPECT_TRUE(table.MayFollow(0x000D, 0x000C));  // CALCMODE, CALCCOUNT
    EXPECT_FALSE(table.MayFollow(0x000C, 0x000D));
    EXPECT_TRUE(table.MayFollow(0x00FD, 0x00FD));  // LABELSST, LABELSST
    EXPECT_TRUE(table.MayFollow(0x0208, 0x0208));  // ROW, ROW
    EXPECT_TRUE(table.MayFollow(0x00FC, 0x003C));  // SST, CONTINUE
    EXPECT_EQ(table.AssumedLength(0x0208), 16);
    EXPECT_EQ(table.AssumedLength(0x00FD), 10);
    EXPECT_EQ(table.AssumedLength(0x0203), 14);
    EXPECT_EQ(table.AssumedLength(0x0809), 16);
}

}  // namespace
}  // namespace tabulon
