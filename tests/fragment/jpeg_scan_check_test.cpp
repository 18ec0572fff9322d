#include "fragment/jpeg_scan_check.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/biff_bytes.h"
#include "support/drawing_pictures.h"

namespace tabulon {
namespace {

std::vector<std::vector<uint8_t>> CorpusPictures() {
    return test::CorpusPictures({"poi__49423.xls", "poi__drawings.xls", "poi__46250.xls", "poi__59858.xls",
                                 "poi__external_image.xls", "poi__Basic_Expense_Template_2011.xls", "poi__28774.xls"},
                                {0xF01D, 0xF02A});
}

bool FeedInPieces(JpegScanCheck& check, std::span<const uint8_t> bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece)
        if (!check.Feed(bytes.subspan(at, std::min(piece, bytes.size() - at)))) return false;
    return true;
}

// Every real picture passes whole, however it is cut, and ends with its end marker.
TEST(JpegScanCheck, RealPicturesPassInAnyCuts) {
    const auto pictures = CorpusPictures();
    if (pictures.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    EXPECT_GE(pictures.size(), 100u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        for (const size_t piece : {size_t(1), size_t(509), size_t(4096)}) {
            JpegScanCheck check;
            EXPECT_TRUE(FeedInPieces(check, pictures[i], piece)) << "picture " << i << " in pieces of " << piece;
            EXPECT_TRUE(check.Ended()) << "picture " << i;
        }
    }
}

// A 4 KiB block of a picture's scan replaced by a block of another picture, or of another place of the
// same one, is refused by the end of the picture at the latest: the Huffman codes go out of step, the
// restart markers out of turn, or the picture holds another number of units than its size asks.
TEST(JpegScanCheck, ABlockOfAnotherPlaceIsRefused) {
    const auto pictures = CorpusPictures();
    if (pictures.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    constexpr size_t kBlock = 4096;
    size_t spliced = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const auto& picture = pictures[i];
        if (picture.size() < 4 * kBlock) continue;
        const auto& other = pictures[(i + 1) % pictures.size()];
        for (const bool samePicture : {true, false}) {
            const auto& source = samePicture ? picture : other;
            if (source.size() < 4 * kBlock) continue;
            std::vector<uint8_t> bytes = picture;
            std::copy_n(source.begin() + long(samePicture ? 2 * kBlock + 1000 : kBlock + 1000), kBlock, bytes.begin() + long(kBlock + 1000));
            JpegScanCheck check;
            EXPECT_FALSE(FeedInPieces(check, bytes, kBlock)) << "picture " << i << (samePicture ? ", its own later block" : ", another picture's block");
            ++spliced;
        }
    }
    EXPECT_GT(spliced, 20u);
}

// What the check refuses within a few bytes: anything but a picture's start, a marker segment of a
// length its kind does not have, and a 0xFF in a scan that stands before no marker a scan may hold.
TEST(JpegScanCheck, RefusesBrokenMarkersAndSegments) {
    using test::BiffBytes;
    const auto big = [](BiffBytes& bytes, uint16_t value) -> BiffBytes& { return bytes.U8(uint8_t(value >> 8)).U8(uint8_t(value)); };
    // Start of picture, a comment, a frame header of one component, a scan header without tables
    // defined (the scan is then followed by its markers only), then scan bytes.
    const auto picture = [&](uint16_t scanLength, std::vector<uint8_t> scan) {
        BiffBytes bytes;
        bytes.U8(0xFF).U8(0xD8).U8(0xFF).U8(0xFE);
        big(bytes, 6).Latin1("abcd");
        bytes.U8(0xFF).U8(0xC0);
        big(big(big(bytes, 11).U8(8), 16), 16).U8(1).U8(1).U8(0x11).U8(0);
        bytes.U8(0xFF).U8(0xDA);
        big(bytes, scanLength).U8(1).U8(1).U8(0x00).U8(0).U8(63).U8(0);
        for (const uint8_t b : scan) bytes.U8(b);
        return bytes.Bytes();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool sound;
    };
    const auto headers = picture(8, {});
    const Case cases[] = {
        {"scan bytes with stuffed zeros and an end", picture(8, {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD9}), true},
        {"a scan header of a length no scan has", picture(9, {0x12, 0x34}), false},
        {"a 0xFF before a byte no scan holds", picture(8, {0x12, 0xFF, 0x13, 0x34}), false},
        {"no start of picture", std::vector<uint8_t>(headers.begin() + 2, headers.end()), false},
    };
    for (const Case& c : cases) {
        JpegScanCheck check;
        EXPECT_EQ(check.Feed(c.bytes), c.sound) << c.what;
    }
    // Random bytes amid a scan put a 0xFF before some other byte soon.
    std::mt19937 random(7);
    std::vector<uint8_t> noise(4096);
    for (auto& b : noise) b = uint8_t(random());
    JpegScanCheck check;
    ASSERT_TRUE(check.Feed(headers));
    EXPECT_FALSE(check.Feed(noise));
}

}  // namespace
}  // namespace tabulon
