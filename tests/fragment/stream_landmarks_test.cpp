#include "fragment/stream_landmarks.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/biff_bytes.h"

namespace tabulon {
namespace {

using test::BiffBytes;
using test::Join;

BiffBytes Bof(uint16_t kind) { return BiffBytes().Record(0x0809, BiffBytes().U16(0x0600).U16(kind).Zeros(12)); }
BiffBytes BoundSheet(uint32_t position) {
    return BiffBytes().Record(0x0085, BiffBytes().U32(position).U8(0).U8(0).U8(1).U8(0).Latin1("S"));
}
BiffBytes Index(std::initializer_list<uint32_t> rowBlockEnds) {
    BiffBytes body;
    body.U32(0).U32(0).U32(100).U32(0);
    for (uint32_t end : rowBlockEnds) body.U32(end);
    return BiffBytes().Record(0x020B, body);
}
BiffBytes DbCell() { return BiffBytes().Record(0x00D7, BiffBytes().U32(40).U16(0)); }
BiffBytes Row(uint16_t row) { return BiffBytes().Record(0x0208, BiffBytes().U16(row).U16(0).U16(3).Zeros(10)); }
BiffBytes Number(uint16_t row, uint16_t column) {
    return BiffBytes().Record(0x0203, BiffBytes().U16(row).U16(column).U16(15).Zeros(8));
}
BiffBytes Filler(size_t bytes) { return BiffBytes().Record(0x1001, BiffBytes().Zeros(bytes - 4)); }

// Follows `block` as the stream bytes from `streamPosition` on.
bool Follow(StreamLandmarks& landmarks, const BiffBytes& block, int64_t streamPosition) {
    return landmarks.Follow(block.Bytes(), 0, int32_t(block.Size()), streamPosition);
}

// A chain that has read the globals (listing one sheet at 200) and the sheet's start up to 260, whose
// index lists row blocks ending at 300 and 400, and which has confirmed both lists.
StreamLandmarks ChainInASheet() {
    StreamLandmarks landmarks;
    const BiffBytes globals = Join({Bof(0x0005), BoundSheet(200)});  // 20 + 15 bytes
    EXPECT_TRUE(Follow(landmarks, Join({globals, Filler(200 - globals.Size())}), 0));
    const BiffBytes sheet = Join({Bof(0x0010), Index({300, 400})});  // 20 + 28 bytes
    EXPECT_TRUE(Follow(landmarks, Join({sheet, Row(5), Number(5, 2), Filler(300 - 200 - sheet.Size() - 20 - 18)}), 200));
    EXPECT_TRUE(Follow(landmarks, Join({DbCell(), Number(6, 0)}), 300));  // confirms the index
    return landmarks;
}

TEST(StreamLandmarks, BlocksThatContradictTheChainAreRejected) {
    struct Case {
        const char* what;
        BiffBytes block;
        bool follows;
    };
    // Each block continues the chain at stream position 328 (after the DBCELL and cell at 300).
    const std::vector<Case> cases = {
        {"cells of the next rows, then the listed row-block end", Join({Number(6, 1), Number(7, 0), Filler(400 - 328 - 36),
                                                                         DbCell()}), true},
        {"a cell of an earlier row", Join({Number(4, 3)}), false},
        {"a ROW record that goes back", Join({Row(5)}), false},
        {"a row-block end where the index lists none", Join({Number(6, 1), DbCell()}), false},
        {"a record jumping over a listed row-block end", Join({Number(6, 1), Filler(100)}), false},
        {"a sheet start that the globals do not list", Join({Number(6, 1), BiffBytes().Record(0x000A, BiffBytes()),
                                                             Bof(0x0010)}), false},
        {"a second workbook globals section", Join({Number(6, 1), BiffBytes().Record(0x000A, BiffBytes()), Bof(0x0005)}),
         false},
    };
    for (const Case& c : cases) {
        StreamLandmarks landmarks = ChainInASheet();
        EXPECT_EQ(Follow(landmarks, c.block, 328), c.follows) << c.what;
    }
}

TEST(StreamLandmarks, ListsAreEnforcedOnlyOnceConfirmed) {
    // A writer that lists wrong sheet positions: the first sheet begins at 200, the list says 180. The
    // chain's own blocks are kept, and the list is ignored from then on.
    StreamLandmarks landmarks;
    const BiffBytes globals = Join({Bof(0x0005), BoundSheet(180), BoundSheet(500)});
    ASSERT_TRUE(Follow(landmarks, Join({globals, Filler(200 - globals.Size())}), 0));
    EXPECT_TRUE(Follow(landmarks, Join({Bof(0x0010), Row(1), Number(1, 1)}), 200));
    EXPECT_TRUE(Follow(landmarks, Join({Number(2, 1), BiffBytes().Record(0x000A, BiffBytes()), Bof(0x0010)}), 300));

    // Confirmed by the first sheet, a list rejects a sheet start elsewhere.
    StreamLandmarks confirmed;
    const BiffBytes listed = Join({Bof(0x0005), BoundSheet(200), BoundSheet(500)});
    ASSERT_TRUE(Follow(confirmed, Join({listed, Filler(200 - listed.Size())}), 0));
    ASSERT_TRUE(Follow(confirmed, Join({Bof(0x0010), Row(1), Number(1, 1)}), 200));
    StreamLandmarks copy = confirmed;
    EXPECT_FALSE(Follow(copy, Join({Number(2, 1), BiffBytes().Record(0x000A, BiffBytes()), Bof(0x0010)}), 300));
    EXPECT_TRUE(Follow(confirmed, Join({Number(2, 1), BiffBytes().Record(0x000A, BiffBytes()), Filler(500 - 300 - 18 - 4),
                                        Bof(0x0010)}),
                       300));
}

TEST(StreamLandmarks, ChartsAndNewSheetsRestartTheOrder) {
    StreamLandmarks landmarks = ChainInASheet();
    // An embedded chart's cached values count their own rows from 0.
    EXPECT_TRUE(Follow(landmarks, Join({Number(6, 1), Filler(400 - 328 - 18), DbCell(), Bof(0x0020), Number(0, 0),
                                        Number(1, 0)}),
                       328));
    EXPECT_EQ(landmarks.LastCellRow(), 1);
    EXPECT_EQ(landmarks.BlockFirstCellRow(), 6);
    EXPECT_EQ(landmarks.BlockFirstCellColumn(), 1);
}

TEST(StreamLandmarks, CellsLieInsideTheSheetsUsedRange) {
    // A sheet whose used range is rows 0-9 and columns 0-2.
    const BiffBytes start = Join({Bof(0x0010), BiffBytes().Record(0x0200, BiffBytes().U32(0).U32(10).U16(0).U16(3).U16(0)),
                                  Row(1), Number(1, 0)});
    struct Case {
        const char* what;
        BiffBytes block;
        bool follows;
    };
    const std::vector<Case> cases = {
        {"the last cell of the range", Join({Number(9, 2)}), true},
        {"a column beyond it", Join({Number(2, 0), Number(2, 3)}), false},
        {"a row beyond it", Join({Number(10, 0)}), false},
        {"a ROW record beyond it", Join({Row(10)}), false},
        {"a chart's cached values", Join({Number(2, 0), Bof(0x0020), Number(40, 7)}), true},
    };
    for (const Case& c : cases) {
        StreamLandmarks landmarks;
        ASSERT_TRUE(Follow(landmarks, start, 0));
        EXPECT_EQ(Follow(landmarks, c.block, int64_t(start.Size())), c.follows) << c.what;
    }
    // An empty range judges nothing.
    StreamLandmarks empty;
    ASSERT_TRUE(Follow(empty, Join({Bof(0x0010), BiffBytes().Record(0x0200, BiffBytes().Zeros(14))}), 0));
    EXPECT_TRUE(Follow(empty, Join({Number(400, 90)}), 38));
}

TEST(StreamLandmarks, OddBytesNeverReadOutside) {
    // An index whose length runs far beyond the block, a cut header, empty and reversed ranges. A fresh
    // chain has nothing to contradict; one in a sheet sees the long record jump over its listed row-block
    // end.
    const std::vector<uint8_t> bytes = {0x0B, 0x02, 0xFF, 0xFF, 0x01};
    StreamLandmarks fresh;
    EXPECT_TRUE(fresh.Follow(bytes, 0, 5, 328));
    EXPECT_TRUE(fresh.Follow(bytes, 4, 2, 328));
    EXPECT_TRUE(fresh.Follow(bytes, 3, 100, 328));
    EXPECT_TRUE(fresh.Follow({}, 0, 10, 0));
    StreamLandmarks inSheet = ChainInASheet();
    EXPECT_FALSE(inSheet.Follow(bytes, 0, 100, 328));
}

}  // namespace
}  // namespace tabulon
