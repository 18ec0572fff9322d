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

struct ClusterEntry {
    uint32_t drawing, shapes;
};

// The group's table of shape-identifier clusters: its header (the entry count plus one in its second
// field) and the entries, as a record.
BiffBytes ClusterTable(const std::vector<ClusterEntry>& entries, uint32_t countField) {
    BiffBytes table = Header(0x0000, 0xF006, uint32_t(16 + 8 * entries.size()));
    table.U32(uint32_t(1024 * (entries.size() + 1))).U32(countField).U32(7).U32(2);
    for (const ClusterEntry& entry : entries) table.U32(entry.drawing).U32(entry.shapes);
    return table;
}

const std::vector<ClusterEntry> kSoundClusters = {{1, 3}, {2, 1024}, {0, 0}, {2, 4}};

// A drawing group as writers store it: the group's container with a cluster table and a store container
// of three picture entries, each an atom of 36 bytes of its own fields and a metafile picture's record
// (whose bytes no check follows), holding 17 bytes of identifier and header and `picture` bytes.
std::vector<uint8_t> DrawingGroup(uint32_t picture, uint16_t secondEntryType = 0xF007, uint32_t secondExtra = 0,
                                  const BiffBytes& atom = ClusterTable(kSoundClusters, 5)) {
    BiffBytes store;
    for (int i = 0; i < 3; ++i) {
        BiffBytes entry = Header(0x0062, i == 1 ? secondEntryType : 0xF007, 36 + 8 + 17 + picture + (i == 1 ? secondExtra : 0));
        entry.Zeros(36).Append(Header(0x3D40, 0xF01A, 17 + picture).Bytes()).Zeros(17);
        for (uint32_t k = 0; k < picture; ++k) entry.U8(uint8_t(k * 7 + i));
        store.Append(entry.Bytes());
    }
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
        {"a cluster table whose count disagrees with its length", DrawingGroup(300, 0xF007, 0, ClusterTable(kSoundClusters, 4)), false},
        {"a cluster with more shapes than identifiers", DrawingGroup(300, 0xF007, 0, ClusterTable({{1, 3}, {2, 1025}}, 3)), false},
        {"a cluster of a drawing past the sheet limit", DrawingGroup(300, 0xF007, 0, ClusterTable({{0x10000, 3}}, 2)), false},
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
    // The next header is checked once its 8 bytes are in.
    EXPECT_FALSE(walk.JudgesWithin(7));
    EXPECT_TRUE(walk.JudgesWithin(8));
    // Inside the cluster table its entries are checked, but a stretch of mostly zeros does not count
    // as judged; the header after it does.
    const size_t table = 8 + 8 + 16 + 8 * kSoundClusters.size();
    ASSERT_TRUE(walk.Feed(std::span(group).subspan(8, 8 + 20)));
    EXPECT_FALSE(walk.JudgesWithin(table - 36));
    EXPECT_FALSE(walk.JudgesWithin(table - 36 + 7));
    EXPECT_TRUE(walk.JudgesWithin(table - 36 + 8));
    // 100 bytes into the first entry's body: 39 bytes into its picture, 961 bytes before the next entry's
    // header.
    const size_t firstEntryBody = table + 8 + 8;
    ASSERT_TRUE(walk.Feed(std::span(group).subspan(36, firstEntryBody - 36 + 100)));
    EXPECT_FALSE(walk.JudgesWithin(500));
    EXPECT_FALSE(walk.JudgesWithin(968));
    EXPECT_TRUE(walk.JudgesWithin(969));
    // A CONTINUE record goes on with the group; any other record ends it.
    walk.StartRecord(0x003C);
    EXPECT_TRUE(walk.Active());
    walk.StartRecord(0x00EC);
    EXPECT_FALSE(walk.Active());
}

// Real drawing groups of some hundred kilobytes of JPEG pictures, read block by block as the walk reads
// the block next on disk with the row and cell order enforced: every header stands where the tree puts
// it, and every picture decodes. A block of the other workbook's stream in its place puts other bytes
// where a header is due, or bytes of another picture where the picture goes on, and is refused.
TEST(OfficeArtWalk, RealDrawingGroupsHoldTogether) {
    const std::string dir = test::CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    const char* names[] = {"poi__49423.xls", "poi__drawings.xls"};
    std::vector<uint8_t> streams[2];
    for (int k = 0; k < 2; ++k) {
        const auto file = test::ReadFileBytes(dir + "/" + names[k]);
        test::CompoundFileReader reader;
        ASSERT_TRUE(reader.Open(file)) << names[k];
        auto stream = reader.ReadWorkbookStream();
        ASSERT_TRUE(stream.has_value()) << names[k];
        streams[k] = std::move(*stream);
    }
    for (int k = 0; k < 2; ++k) {
        const char* name = names[k];
        const std::span<const uint8_t> bytes(streams[k]), other(streams[1 - k]);
        for (const size_t b : {2048u, 4096u}) {
            StreamCursor cursor;
            const size_t first = b - 512;
            ASSERT_NE(cursor.Feed(bytes.first(first), {false, nullptr}), StreamCursor::Result::Fails);
            size_t refused = 0, judged = 0;
            for (size_t at = first; at + b <= bytes.size(); at += b) {
                const auto block = bytes.subspan(at, b);
                if (cursor.JudgesBody(b) && !cursor.AtRecordStart() && cursor.BodyLeft() >= b) {
                    StreamCursor wrong = cursor;
                    ++judged;
                    const size_t from = (at / b * b) % (other.size() - b);
                    if (wrong.Feed(other.subspan(from, b), {true, nullptr}) == StreamCursor::Result::Fails) ++refused;
                }
                ASSERT_NE(cursor.Feed(block, {true, nullptr}), StreamCursor::Result::Fails) << name << " at " << at;
            }
            EXPECT_GT(judged, 0u) << name;
            if (b == 4096) {
                EXPECT_EQ(refused, judged) << name << ", " << b << "-byte blocks";
            } else {
                // Pictures coded with the same (standard) tables decode each other's bytes for a while:
                // a few 2 KiB blocks of picture bytes alone pass.
                EXPECT_GE(refused * 50, judged * 49) << name << ", " << b << "-byte blocks: " << refused << " of " << judged;
            }
        }
    }
}

}  // namespace
}  // namespace tabulon
