#include "fragment/block_classification.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/biff_bytes.h"

namespace tabulon {
namespace {

using test::BiffBytes;
using test::Join;

constexpr uint16_t kUnknownType = 0x1001;  // named by nothing, not filler

BiffBytes LabelSst(uint16_t row, uint16_t column) {
    return BiffBytes().Record(0x00FD, BiffBytes().U16(row).U16(column).U16(15).U32(0));
}
BiffBytes Number(uint16_t row, uint16_t column) {
    return BiffBytes().Record(0x0203, BiffBytes().U16(row).U16(column).U16(15).Zeros(8));
}
BiffBytes Row(uint16_t row) { return BiffBytes().Record(0x0208, BiffBytes().U16(row).U16(0).U16(3).Zeros(10)); }
BiffBytes Unknown(uint16_t length) { return BiffBytes().Record(kUnknownType, length, BiffBytes().Zeros(length)); }
BiffBytes Bof() { return BiffBytes().Record(0x0809, BiffBytes().U16(0x0600).U16(0x10).Zeros(12)); }
BiffBytes Eof() { return BiffBytes().Record(0x000A, BiffBytes()); }
BiffBytes Sst() {
    return BiffBytes().Record(0x00FC, BiffBytes().U32(2).U32(2).LongString("a").LongString("b"));
}
BiffBytes Guts() { return BiffBytes().Record(0x0080, BiffBytes().Zeros(8)); }


struct Walk {
    bool passed = false;
    LastRecord last;
};

Walk Classify(const std::vector<uint8_t>& bytes, int32_t start, int32_t end, BlockProfile& profile) {
    Walk walk;
    walk.passed = ClassifyBlock(bytes, start, end, profile, walk.last);
    return walk;
}
Walk Classify(const BiffBytes& bytes, BlockProfile& profile) {
    return Classify(bytes.Bytes(), 0, int32_t(bytes.Size()), profile);
}
bool Passes(const BiffBytes& bytes) {
    BlockProfile profile;
    return Classify(bytes, profile).passed;
}

TEST(ClassifyBlock, NeedsAKnownRecord) {
    EXPECT_FALSE(Passes(BiffBytes().Zeros(512)));
    EXPECT_FALSE(Passes(BiffBytes().U32(0xFFFFFFFF).Zeros(508)));
    EXPECT_FALSE(Passes(Join({Unknown(6), Unknown(6)})));
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), BiffBytes().Zeros(100)})));  // filler ends the walk
    BlockProfile profile;
    LastRecord last;
    std::vector<uint8_t> bytes = Join({LabelSst(1, 1)}).Bytes();
    EXPECT_FALSE(ClassifyBlock(bytes, 5, 5, profile, last));   // empty range
    EXPECT_FALSE(ClassifyBlock(bytes, -1, 10, profile, last));  // negative start
}

TEST(ClassifyBlock, ImplausibleKnownRecordFailsTheBlock) {
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), LabelSst(1, 2)})));
    EXPECT_FALSE(Passes(Join({LabelSst(1, 1), LabelSst(1, 501)})));
}

TEST(ClassifyBlock, LastRecordRunningPastTheEndPasses) {
    const BiffBytes block = Join({LabelSst(1, 1), Number(1, 2), LabelSst(1, 3)});
    const int32_t end = int32_t(block.Size()) - 5;  // the last record's body is cut
    BlockProfile profile;
    Walk walk = Classify(block.Bytes(), 0, end, profile);
    EXPECT_TRUE(walk.passed);
    EXPECT_EQ(walk.last.position, 14 + 18);
    EXPECT_EQ(walk.last.type, 0x00FD);
    EXPECT_EQ(walk.last.length, 10);
    EXPECT_EQ(profile.cellCount, 3);
}

TEST(ClassifyBlock, UnknownRecordRuns) {
    EXPECT_FALSE(Passes(Join({LabelSst(1, 1), Unknown(6), Unknown(6), Unknown(6), Unknown(6)})));
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), Unknown(6), Unknown(6), Unknown(6)})));
    // Lengths 0 and 2 never count toward a run; a known record resets it.
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), Unknown(6), Unknown(0), Unknown(2), Unknown(6), Unknown(6)})));
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), Unknown(6), Unknown(6), Unknown(6), LabelSst(1, 2), Unknown(6),
                             Unknown(6), Unknown(6)})));
    EXPECT_FALSE(Passes(Join({LabelSst(1, 1), Unknown(1792)})));
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), Unknown(1791)})));
}

TEST(ClassifyBlock, NewerRecordsThatNameThemselvesCountAsKnown) {
    // Extended cell formats as newer writers emit them, one per format: the body repeats the type.
    auto named = [](uint16_t type, uint16_t bodyFirst) {
        return BiffBytes().Record(type, BiffBytes().U16(bodyFirst).Zeros(43));
    };
    const BiffBytes run = Join({named(0x087D, 0x087D), named(0x087D, 0x087D), named(0x087D, 0x087D),
                                named(0x087D, 0x087D), named(0x087D, 0x087D)});
    EXPECT_TRUE(Passes(run));  // a whole block of them has no other known record
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), run})));
    // The same records without their own type in the body are an ordinary unknown run; so are records
    // outside the newer range that happen to repeat their type.
    EXPECT_FALSE(Passes(Join({LabelSst(1, 1), named(0x087D, 0x0000), named(0x087D, 0x0000), named(0x087D, 0x0000),
                              named(0x087D, 0x0000)})));
    EXPECT_FALSE(Passes(Join({LabelSst(1, 1), named(0x1087, 0x1087), named(0x1087, 0x1087), named(0x1087, 0x1087),
                              named(0x1087, 0x1087)})));
}

TEST(ClassifyBlock, FirstUnknownRecordLongerThanTheBlockFails) {
    BiffBytes block = Join({Unknown(6), LabelSst(1, 1)});
    EXPECT_TRUE(Passes(block));
    // An unknown first record declaring 40 bytes, in a block of 38.
    BiffBytes longFirst = Join({BiffBytes().U16(kUnknownType).U16(40).Zeros(6), LabelSst(1, 1), LabelSst(1, 2)});
    ASSERT_EQ(longFirst.Size(), 38u);
    EXPECT_FALSE(Passes(longFirst));
    // The same record after a known one only ends the walk.
    EXPECT_TRUE(Passes(Join({LabelSst(1, 1), BiffBytes().U16(kUnknownType).U16(40).Zeros(6)})));
}

TEST(ClassifyBlock, KnownHeaderCutByTheBlockEnd) {
    // The header of a third known record starts in the last two bytes of the block.
    const BiffBytes twoBefore = Join({LabelSst(1, 1), LabelSst(1, 2), LabelSst(1, 3)});
    BlockProfile profile;
    Walk walk = Classify(twoBefore.Bytes(), 0, 28 + 2, profile);
    EXPECT_TRUE(walk.passed);
    EXPECT_EQ(walk.last.position, 28);
    EXPECT_EQ(walk.last.length, 10);  // read from the bytes that follow the block
    EXPECT_EQ(profile.cellCount, 3);

    const BiffBytes oneBefore = Join({LabelSst(1, 1), LabelSst(1, 2)});
    BlockProfile other;
    EXPECT_FALSE(Classify(oneBefore.Bytes(), 0, 14 + 1, other).passed);

    // Without bytes after the end the cut header reads as zero: the type's high byte missing.
    std::vector<uint8_t> cut = twoBefore.Bytes();
    cut.resize(29);
    BlockProfile third;
    walk = Classify(cut, 0, 29, third);
    EXPECT_TRUE(walk.passed);  // 0x00FD with its high byte missing is still LABELSST
    EXPECT_EQ(walk.last.length, 0);
}

TEST(ClassifyBlock, CountersAreWrittenBackOnlyOnSuccess) {
    BlockProfile profile;
    EXPECT_TRUE(Classify(Join({Bof(), Eof(), Sst(), LabelSst(0, 0), Number(0, 1), Eof()}), profile).passed);
    EXPECT_EQ(profile.bofCount, 1);
    EXPECT_EQ(profile.sstCount, 1);
    EXPECT_EQ(profile.eofAfterSstCount, 1);  // the EOF before the SST does not count
    EXPECT_EQ(profile.cellCount, 2);
    EXPECT_TRUE(IsComplete(profile));

    EXPECT_FALSE(Classify(Join({Bof(), LabelSst(3, 3), LabelSst(1, 501)}), profile).passed);
    EXPECT_EQ(profile.bofCount, 1);
    EXPECT_EQ(profile.cellCount, 2);
    // Keys inserted before the failure stay.
    EXPECT_TRUE(profile.cellKeys.Contains(CellKey {3, 3}.Packed()));
}

TEST(ClassifyBlock, KeysAndSheetStart) {
    BlockProfile profile;
    ASSERT_TRUE(Classify(Join({Row(4), LabelSst(4, 2), Number(4, 3)}), profile).passed);
    EXPECT_TRUE(profile.rowKeys.Contains((4u << 16) | 0));
    EXPECT_TRUE(profile.cellKeys.Contains((4u << 16) | 2));
    EXPECT_FALSE(profile.cellKeys.Contains((4u << 16) | 3));  // NUMBER carries no key
    EXPECT_FALSE(profile.sheetStarted);

    ASSERT_TRUE(Classify(Join({LabelSst(9, 9), Guts(), Row(7), LabelSst(7, 1)}), profile).passed);
    EXPECT_TRUE(profile.sheetStarted);
    EXPECT_EQ(profile.rowKeys.Size(), 1u);
    EXPECT_EQ(profile.cellKeys.Size(), 1u);
    EXPECT_TRUE(profile.cellKeys.Contains((7u << 16) | 1));
    EXPECT_FALSE(profile.cellKeys.Contains((9u << 16) | 9));  // emptied by GUTS

    BlockProfile scratch = profile.ScratchCopy();
    EXPECT_EQ(scratch.cellCount, profile.cellCount);
    EXPECT_TRUE(scratch.cellKeys.Empty());
    EXPECT_FALSE(scratch.sheetStarted);
}

TEST(ClassifyBlock, EntryOffsetAndEndClamping) {
    const BiffBytes block = Join({BiffBytes().Zeros(7), LabelSst(1, 1), Number(1, 2)});
    BlockProfile profile;
    Walk walk = Classify(block.Bytes(), 7, 1 << 20, profile);  // end beyond the buffer is reduced
    EXPECT_TRUE(walk.passed);
    EXPECT_EQ(walk.last.position, 7 + 14);
    EXPECT_FALSE(Classify(block.Bytes(), 8, int32_t(block.Size()), profile).passed);  // off the record grid
}

TEST(BlockProfile, CompletenessAndTypeCategories) {
    BlockProfile profile;
    profile.bofCount = 2;
    profile.sstCount = 1;
    profile.eofAfterSstCount = 1;
    profile.cellCount = 5;
    EXPECT_FALSE(IsComplete(profile));  // one sheet's EOF is missing
    profile.eofAfterSstCount = 2;
    EXPECT_TRUE(IsComplete(profile));
    profile.cellCount = 0;
    EXPECT_FALSE(IsComplete(profile));

    for (uint16_t type : {0x00BD, 0x00BE, 0x00FD, 0x0201, 0x0208, 0x027E}) EXPECT_TRUE(IsKeyedCellType(type)) << type;
    for (uint16_t type : {0x0203, 0x0006, 0x0080, 0x0000}) EXPECT_FALSE(IsKeyedCellType(type)) << type;
    EXPECT_TRUE(IsFiller(0x0000));
    EXPECT_TRUE(IsFiller(0xFFFF));
    EXPECT_FALSE(IsFiller(0x00FF));

    const std::vector<uint8_t> bytes = LabelSst(0x1234, 0x0056).Bytes();
    EXPECT_EQ(KeyOf(bytes, 0).row, 0x1234);
    EXPECT_EQ(KeyOf(bytes, 0).column, 0x0056);
    EXPECT_EQ(KeyOf(bytes, bytes.size() - 5).Packed(), 0u);  // beyond the buffer reads as zero
}

TEST(KeySet, InsertContainsClearAndMerge) {
    KeySet a, b;
    EXPECT_FALSE(a.Contains(0));
    for (uint32_t k = 0; k < 1000; ++k) EXPECT_TRUE(a.Insert(k * 65536 + k % 7));
    EXPECT_FALSE(a.Insert(65536 + 1));
    EXPECT_TRUE(a.Insert(0xFFFFFFFF));
    EXPECT_EQ(a.Size(), 1001u);
    EXPECT_TRUE(a.Contains(999u * 65536 + 999 % 7));
    EXPECT_FALSE(a.Contains(999u * 65536 + 1000 % 7 + 1));
    b.Insert(5);
    EXPECT_FALSE(a.Intersects(b));
    b.Insert(0xFFFFFFFF);
    EXPECT_TRUE(a.Intersects(b));
    b.InsertAll(a);
    EXPECT_EQ(b.Size(), 1002u);
    a.Clear();
    EXPECT_TRUE(a.Empty());
    EXPECT_FALSE(a.Contains(0xFFFFFFFF));
    EXPECT_FALSE(a.Contains(0));
}

}  // namespace
}  // namespace tabulon
