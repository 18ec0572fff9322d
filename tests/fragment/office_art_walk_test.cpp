#include "fragment/office_art_walk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "fragment/stream_cursor.h"
#include "support/biff_bytes.h"
#include "support/compound_file_reader.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::BiffBytes;

BiffBytes Header(uint16_t versionAndInstance, uint16_t type, uint32_t length) {
    return BiffBytes().U16(versionAndInstance).U16(type).U32(length);
}

// A drawing group as writers store it: the group's container with a group atom and a store container
// of three picture entries, each an atom whose body holds a picture of `picture` bytes.
std::vector<uint8_t> DrawingGroup(uint32_t picture, uint16_t secondEntryType = 0xF007, uint32_t secondExtra = 0) {
    BiffBytes store;
    for (int i = 0; i < 3; ++i) {
        BiffBytes entry = Header(0x0062, i == 1 ? secondEntryType : 0xF007, 36 + picture + (i == 1 ? secondExtra : 0));
        entry.Zeros(36);
        for (uint32_t k = 0; k < picture; ++k) entry.U8(uint8_t(k * 7 + i));
        store.Append(entry.Bytes());
    }
    BiffBytes atom = Header(0x0000, 0xF006, 16).Zeros(16);
    BiffBytes group = Header(0x000F, 0xF000, uint32_t(atom.Size() + 8 + store.Size()));
    group.Append(atom.Bytes()).Append(Header(0x003F, 0xF001, uint32_t(store.Size())).Bytes()).Append(store.Bytes());
    return group.Bytes();
}

bool FeedInPieces(OfficeArtWalk& walk, const std::vector<uint8_t>& bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece)
        if (!walk.Feed(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)))) return false;
    return true;
}

TEST(OfficeArtWalk, FollowsTheRecordTreeInAnyCuts) {
    const auto group = DrawingGroup(500);
    for (const size_t piece : {size_t(1), size_t(7), size_t(512), group.size()}) {
        OfficeArtWalk walk;
        walk.StartRecord(0x00EB);
        EXPECT_TRUE(FeedInPieces(walk, group, piece)) << piece;
        EXPECT_FALSE(walk.Active()) << piece << ": the group's container ends with its last byte";
    }
}

TEST(OfficeArtWalk, AHeaderOutOfPlaceIsRefused) {
    struct Case {
        const char* what;
        std::vector<uint8_t> group;
        bool sound;
    };
    const Case cases[] = {
        {"sound", DrawingGroup(300), true},
        {"a type that is no drawing record's", DrawingGroup(300, 0x1234), false},
        {"a length past its container's end", DrawingGroup(300, 0xF007, 100000), false},
    };
    for (const Case& c : cases) {
        OfficeArtWalk walk;
        walk.StartRecord(0x00EB);
        EXPECT_EQ(FeedInPieces(walk, c.group, 100), c.sound) << c.what;
    }
    // A group that does not open with the group's container is not followed, nor refused.
    OfficeArtWalk other;
    other.StartRecord(0x00EB);
    EXPECT_TRUE(other.Feed(Header(0x0002, 0x1234, 5).Zeros(40).Bytes()));
    EXPECT_FALSE(other.Active());
}

TEST(OfficeArtWalk, KnowsWhereTheNextHeaderIsDue) {
    const auto group = DrawingGroup(1000);
    OfficeArtWalk walk;
    walk.StartRecord(0x00EB);
    ASSERT_TRUE(walk.Feed(std::span(group).first(8)));  // the group's container header
    EXPECT_TRUE(walk.HeaderWithin(1));
    // Into the first entry's body: its 1036 bytes, then the next entry's header.
    const size_t firstEntryBody = 8 + 24 + 8 + 8;
    ASSERT_TRUE(walk.Feed(std::span(group).subspan(8, firstEntryBody - 8 + 100)));
    EXPECT_FALSE(walk.HeaderWithin(500));
    EXPECT_TRUE(walk.HeaderWithin(1000));
    // A CONTINUE record goes on with the group; any other record ends it.
    walk.StartRecord(0x003C);
    EXPECT_TRUE(walk.Active());
    walk.StartRecord(0x00EC);
    EXPECT_FALSE(walk.Active());
}

// Real drawing groups of some hundred kilobytes of pictures, read block by block as the walk reads the
// block next on disk with the row and cell order enforced: every header stands where the tree puts it.
// A block of another place of the group, where a header is due, is refused.
TEST(OfficeArtWalk, RealDrawingGroupsHoldTogether) {
    const std::string dir = test::CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    for (const char* name : {"poi__49423.xls", "poi__drawings.xls"}) {
        const auto file = test::ReadFileBytes(dir + "/" + name);
        test::CompoundFileReader reader;
        ASSERT_TRUE(reader.Open(file)) << name;
        const auto stream = reader.ReadWorkbookStream();
        ASSERT_TRUE(stream.has_value()) << name;
        const std::span<const uint8_t> bytes(*stream);
        for (const size_t b : {2048u, 4096u}) {
            StreamCursor cursor;
            const size_t first = b - 512;
            ASSERT_NE(cursor.Feed(bytes.first(first), {false, nullptr}), StreamCursor::Result::Fails);
            size_t refused = 0, judged = 0;
            for (size_t at = first; at + b <= bytes.size(); at += b) {
                const auto block = bytes.subspan(at, b);
                if (cursor.JudgesBody(b) && !cursor.AtRecordStart() && cursor.BodyLeft() >= b && at + 2 * b <= bytes.size()) {
                    // The block after this one, in its place, puts other bytes where a header is due.
                    StreamCursor wrong = cursor;
                    ++judged;
                    if (wrong.Feed(bytes.subspan(at + b, b), {true, nullptr}) == StreamCursor::Result::Fails) ++refused;
                }
                ASSERT_NE(cursor.Feed(block, {true, nullptr}), StreamCursor::Result::Fails) << name << " at " << at;
            }
            EXPECT_GT(judged, 0u) << name;
            EXPECT_EQ(refused, judged) << name << ", " << b << "-byte blocks";
        }
    }
}

}  // namespace
}  // namespace tabulon
