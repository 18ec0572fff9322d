#include "fragment/shared_string_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "support/biff_bytes.h"

namespace tabulon {
namespace {

using test::BiffBytes;

// The body bytes of a table of `count` strings "text-0", "text-1", ..., the last ones 16-bit.
std::vector<uint8_t> TableBody(int count) {
    BiffBytes body;
    body.U32(uint32_t(count)).U32(uint32_t(count));
    for (int i = 0; i < count; ++i) {
        const std::string text = "text-" + std::to_string(i);
        if (i < count - 2) {
            body.LongString(text);
        } else {
            body.U16(uint16_t(text.size())).U8(1);
            for (char c : text) body.U16(uint16_t(c));
        }
    }
    return body.Bytes();
}

// Feeds `body` as an SST record cut into records at `cuts` (offsets into the body), each later piece a
// CONTINUE record; `continuationOptions` is the byte written where a cut falls inside characters.
bool Walk(const std::vector<uint8_t>& body, const std::vector<size_t>& cuts, const std::vector<size_t>& insideCharacters,
          uint8_t continuationOptions = 0) {
    SharedStringWalk walk;
    walk.StartRecord(0x00FC);
    size_t from = 0;
    for (size_t k = 0; k <= cuts.size(); ++k) {
        const size_t to = k < cuts.size() ? cuts[k] : body.size();
        if (!walk.Feed(std::span(body).subspan(from, to - from))) return false;
        if (k == cuts.size()) break;
        walk.StartRecord(0x003C);
        if (std::find(insideCharacters.begin(), insideCharacters.end(), to) != insideCharacters.end()) {
            const uint8_t options[] = {continuationOptions};
            if (!walk.Feed(options)) return false;
        }
        from = to;
    }
    return true;
}

TEST(SharedStringWalk, FollowsStringsAcrossContinueRecords) {
    const std::vector<uint8_t> body = TableBody(40);
    EXPECT_TRUE(Walk(body, {}, {}));
    // 8 (counts) + 3 (header) + 2: inside the characters of "text-0"; 8 + 9: between two strings.
    EXPECT_TRUE(Walk(body, {13, 8 + 9}, {13}));
    // A record cut inside characters continues with an option byte; one with unused bits set is no string
    // data, and neither is a cut that leaves the option byte out.
    EXPECT_FALSE(Walk(body, {13}, {13}, 0x40));
    EXPECT_FALSE(Walk(body, {13}, {}));
}

TEST(SharedStringWalk, RejectsBytesOutOfPhaseAndEndsWithTheTable) {
    const std::vector<uint8_t> body = TableBody(40);
    // Entering the strings two bytes late reads text where an option byte must stand.
    SharedStringWalk late;
    late.StartRecord(0x00FC);
    ASSERT_TRUE(late.Feed(std::span(body).first(8)));
    EXPECT_FALSE(late.Feed(std::span(body).subspan(10)));
    // After the last string the walk is over; the table's records end there, so more body bytes in them
    // (the rest of a longer table, read with this one's count) fail, in the same record or a CONTINUE.
    // The record after them is judged by its own rules.
    const std::vector<uint8_t> text(64, 'x');
    for (const bool continued : {false, true}) {
        SharedStringWalk whole;
        whole.StartRecord(0x00FC);
        ASSERT_TRUE(whole.Feed(body));
        EXPECT_FALSE(whole.Active());
        EXPECT_TRUE(whole.Ended());
        if (continued) whole.StartRecord(0x003C);
        EXPECT_FALSE(whole.Feed(text)) << continued;
        whole.StartRecord(0x0809);
        EXPECT_FALSE(whole.Ended());
        EXPECT_TRUE(whole.Feed(text));
    }
    SharedStringWalk longer;
    longer.StartRecord(0x00FC);
    std::vector<uint8_t> fewer = body;
    StoreU32(fewer.data() + 4, 39);
    EXPECT_FALSE(longer.Feed(fewer));
    // Any other record than CONTINUE ends it as well.
    SharedStringWalk ended;
    ended.StartRecord(0x00FC);
    ASSERT_TRUE(ended.Feed(std::span(body).first(20)));
    ended.StartRecord(0x00FF);
    EXPECT_FALSE(ended.Active());
}

// The table's index gives where every eighth string began. Bytes of the table's own kind that hold the
// same number of strings in the same room, cut differently, pass the strings' checks; the index shows
// them. Writers that leave entries zero, or shift every position alike, are not held to it.
TEST(SharedStringWalk, ChecksTheIndexAgainstWhereItsStringsBegan) {
    constexpr int64_t kBody = 104;  // the SST record's body in the stream
    const auto table = [](int seventh, int eighth, std::vector<int64_t>& starts) {
        BiffBytes body;
        body.U32(20).U32(20);
        for (int i = 0; i < 20; ++i) {
            starts.push_back(kBody + int64_t(body.Size()));
            body.LongString(std::string(i == 7 ? seventh : i == 8 ? eighth : 5, char('a' + i)));
        }
        return body.Bytes();
    };
    std::vector<int64_t> starts, fakeStarts;
    const auto real = table(3, 9, starts), fake = table(9, 3, fakeStarts);
    ASSERT_EQ(real.size(), fake.size());
    const auto index = [&](int64_t shift, bool zeros) {
        BiffBytes body;
        body.U16(8);
        for (size_t i = 0; i < starts.size(); i += 8) body.U32(zeros ? 0 : uint32_t(starts[i] + shift)).U16(0).U16(0);
        return body.Bytes();
    };
    const auto walk = [&](const std::vector<uint8_t>& body, const std::vector<uint8_t>& extsst, int64_t position) {
        SharedStringWalk w;
        w.StartRecord(0x00FC);
        if (!w.Feed(body, position)) return false;
        w.StartRecord(0x00FF);
        EXPECT_TRUE(w.ChecksIndex() == (position >= 0));
        return w.Feed(extsst, position < 0 ? -1 : position + int64_t(body.size()) + 4);
    };
    EXPECT_TRUE(walk(real, index(0, false), kBody));
    EXPECT_FALSE(walk(fake, index(0, false), kBody));
    EXPECT_TRUE(walk(fake, index(0, true), kBody));
    EXPECT_TRUE(walk(real, index(-2, false), kBody));
    EXPECT_FALSE(walk(fake, index(-2, false), kBody));
    EXPECT_TRUE(walk(fake, index(0, false), -1));  // positions not known
}

// Cell records read as the characters of a string show control characters that cell text does not
// have; a tab or a line end is text, and so is one stray control character.
TEST(SharedStringWalk, RefusesRecordBytesReadAsText) {
    const auto walkOf = [](const std::u16string& text, bool wide) {
        BiffBytes body;
        body.U32(1).U32(1).U16(uint16_t(text.size())).U8(wide ? 1 : 0);
        for (const char16_t c : text) wide ? body.U16(uint16_t(c)) : body.U8(uint8_t(c));
        SharedStringWalk walk;
        walk.StartRecord(0x00FC);
        return walk.Feed(body.Bytes());
    };
    const std::u16string records(u"\x7e\x02\x0a\x00\x11\x00\x3e\x81\x03\x02\x0e\x00", 12);
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "16-bit" : "8-bit");
        EXPECT_TRUE(walkOf(u"Total\tsum\r\nnext line", wide));
        EXPECT_TRUE(walkOf(u"one\x01stray", wide));
        EXPECT_FALSE(walkOf(records, wide));
    }
    // A 16-bit character cut in two by the feed's end is judged whole.
    BiffBytes body;
    body.U32(1).U32(1).U16(3).U8(1).U16(0x0041).U16(0x0002).U16(0x0003);
    const auto bytes = body.Bytes();
    SharedStringWalk walk;
    walk.StartRecord(0x00FC);
    ASSERT_TRUE(walk.Feed(std::span(bytes).first(14)));
    EXPECT_FALSE(walk.Feed(std::span(bytes).subspan(14)));
}

}  // namespace
}  // namespace tabulon
