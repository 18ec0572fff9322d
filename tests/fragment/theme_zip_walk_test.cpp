#include "fragment/theme_zip_walk.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/little_endian.h"
#include "fragment/stream_cursor.h"
#include "support/biff_bytes.h"
#include "support/compound_file_reader.h"
#include "support/stream_survey.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::BiffBytes;

struct Part {
    std::string name;
    std::vector<uint8_t> data;
    uint16_t method = 8;
};

// A THEME record's body: its own header and version, then a zip package of `parts` as writers store
// it (local headers and data, the central directory, its end record).
std::vector<uint8_t> ThemeBody(const std::vector<Part>& parts) {
    BiffBytes body;
    body.U16(0x0896).U16(0).Zeros(8).U32(0);
    const size_t packageStart = body.Size();
    std::vector<uint32_t> offsets;
    for (const Part& part : parts) {
        offsets.push_back(uint32_t(body.Size() - packageStart));
        body.U32(0x04034B50).U16(20).U16(6).U16(part.method).U16(0).U16(0).U32(0);
        body.U32(uint32_t(part.data.size())).U32(uint32_t(part.data.size() * 3));
        body.U16(uint16_t(part.name.size())).U16(0).Latin1(part.name);
        for (const uint8_t b : part.data) body.U8(b);
    }
    const size_t directory = body.Size() - packageStart;
    for (size_t i = 0; i < parts.size(); ++i) {
        const Part& part = parts[i];
        body.U32(0x02014B50).U16(45).U16(20).U16(6).U16(part.method).U16(0).U16(0).U32(0);
        body.U32(uint32_t(part.data.size())).U32(uint32_t(part.data.size() * 3));
        body.U16(uint16_t(part.name.size())).U16(0).U16(0).U16(0).U16(0).U32(0).U32(offsets[i]).Latin1(part.name);
    }
    const size_t directoryBytes = body.Size() - packageStart - directory;
    body.U32(0x06054B50).U16(0).U16(0).U16(uint16_t(parts.size())).U16(uint16_t(parts.size()));
    body.U32(uint32_t(directoryBytes)).U32(uint32_t(directory)).U16(0);
    return body.Bytes();
}

std::vector<Part> ThemeParts() {
    std::vector<Part> parts;
    for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>> {
             {"[Content_Types].xml", 250}, {"_rels/.rels", 190}, {"theme/theme/theme1.xml", 1700}}) {
        Part part {name, std::vector<uint8_t>(size)};
        for (size_t k = 0; k < size; ++k) part.data[k] = uint8_t(k * 37 + name.size());
        parts.push_back(part);
    }
    return parts;
}

bool FeedInPieces(ThemeZipWalk& walk, const std::vector<uint8_t>& bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece)
        if (!walk.Feed(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)))) return false;
    return true;
}

TEST(ThemeZipWalk, FollowsThePackageInAnyCutsAndRefusesHeadersOutOfPlace) {
    auto parts = ThemeParts();
    const auto sound = ThemeBody(parts);
    for (const size_t piece : {size_t(1), size_t(7), size_t(512), sound.size()}) {
        ThemeZipWalk walk;
        walk.StartRecord(0x0896, uint16_t(sound.size()));
        EXPECT_TRUE(FeedInPieces(walk, sound, piece)) << piece;
        EXPECT_FALSE(walk.Active()) << piece << ": the package ends with its end record";
    }
    struct Case {
        const char* what;
        std::vector<uint8_t> body;
    };
    std::vector<Case> cases;
    auto longer = sound;  // the first part's compressed size four bytes too large
    longer[16 + 18] = uint8_t(longer[16 + 18] + 4);
    cases.push_back({"a size that passes the next header", longer});
    auto named = parts;
    named[1].name[2] = '\x07';
    cases.push_back({"a name with a control character", ThemeBody(named)});
    auto method = parts;
    method[2].method = 99;
    cases.push_back({"a compression method of no zip", ThemeBody(method)});
    for (const Case& c : cases) {
        ThemeZipWalk walk;
        walk.StartRecord(0x0896, uint16_t(c.body.size()));
        EXPECT_FALSE(FeedInPieces(walk, c.body, 100)) << c.what;
    }
    // A built-in theme holds nothing after its version: it is not followed. Bytes after it must be a package.
    ThemeZipWalk builtIn;
    builtIn.StartRecord(0x0896, 16);
    EXPECT_FALSE(builtIn.Active());
    ThemeZipWalk other;
    other.StartRecord(0x0896, 40);
    EXPECT_FALSE(other.Feed(BiffBytes().U16(0x0896).U16(0).Zeros(8).U32(124226).Zeros(24).Bytes()));
}

TEST(ThemeZipWalk, KnowsWhereTheNextHeaderIsDue) {
    const auto body = ThemeBody(ThemeParts());
    ThemeZipWalk walk;
    walk.StartRecord(0x0896, uint16_t(body.size()));
    // Into the third part's data: its header at 16 + 299 + 231 = 546, its data from 598 to 2298, where
    // the central directory's first signature stands.
    ASSERT_TRUE(walk.Feed(std::span(body).first(600)));
    EXPECT_FALSE(walk.JudgesWithin(1000));
    EXPECT_FALSE(walk.JudgesWithin(1700));  // three bytes of the signature only
    EXPECT_TRUE(walk.JudgesWithin(1702));
    // Any record but THEME ends the walk.
    walk.StartRecord(0x003C, 100);
    EXPECT_FALSE(walk.Active());
}

// Real themes: every package in the corpus holds together in any cuts. Read block by block where a file
// stands, a block of another place of the stream put where a block lies wholly inside the theme's
// package, with a header of it due, is refused.
TEST(ThemeZipWalk, RealThemesHoldTogether) {
    const auto files = test::CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    size_t packages = 0, judged = 0, refused = 0;
    for (const auto& path : files) {
        const auto file = test::ReadFileBytes(path);
        test::CompoundFileReader reader;
        if (!reader.Open(file)) continue;
        const auto stream = reader.ReadWorkbookStream();
        if (!stream) continue;
        const std::span<const uint8_t> bytes(*stream);
        for (const auto& record : test::WalkRecords(bytes)) {
            if (record.type != 0x0896 || record.length < 20 || LoadU32(&bytes[record.position + 20]) != 0x04034B50) continue;
            ++packages;
            const auto body = bytes.subspan(record.position + 4, record.length);
            for (const size_t piece : {size_t(1), size_t(100), size_t(512)}) {
                ThemeZipWalk walk;
                walk.StartRecord(0x0896, record.length);
                for (size_t at = 0; at < body.size(); at += piece)
                    ASSERT_TRUE(walk.Feed(body.subspan(at, std::min(piece, body.size() - at)))) << path << " in pieces of " << piece;
                EXPECT_FALSE(walk.Active()) << path << ": the package ends with its end record";
            }
            // The stream read in blocks of 512 bytes from each 64-byte phase: the blocks wholly inside.
            for (size_t first = 0; first < 512; first += 64) {
                StreamCursor cursor;
                if (cursor.Feed(bytes.first(std::min(first, bytes.size())), {false, nullptr}) == StreamCursor::Result::Fails) continue;
                for (size_t at = first; at + 512 <= bytes.size(); at += 512) {
                    if (at >= record.position + 4 + 16 && at + 512 <= record.position + 4 + record.length &&
                        cursor.JudgesBody(512)) {
                        StreamCursor wrong = cursor;
                        ++judged;
                        const size_t from = (at + 7 * 512) % (bytes.size() - 512);
                        if (wrong.Feed(bytes.subspan(from, 512), {true, nullptr}) == StreamCursor::Result::Fails) ++refused;
                    }
                    if (cursor.Feed(bytes.subspan(at, 512), {false, nullptr}) == StreamCursor::Result::Fails) break;
                }
            }
        }
    }
    EXPECT_GT(packages, 20u);
    EXPECT_GT(judged, 100u);
    EXPECT_EQ(refused, judged);
}

}  // namespace
}  // namespace tabulon
