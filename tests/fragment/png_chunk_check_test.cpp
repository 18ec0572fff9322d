#include "fragment/png_chunk_check.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/drawing_pictures.h"

namespace tabulon {
namespace {

bool FeedInPieces(PngChunkCheck& check, std::span<const uint8_t> bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece)
        if (!check.Feed(bytes.subspan(at, std::min(piece, bytes.size() - at)))) return false;
    return true;
}

// Every sound PNG picture of the corpus passes whole, however it is cut, and ends with its end chunk.
// One byte changed inside a chunk's data, where nothing but the CRC tells, is refused at the chunk's
// end; so are a chunk type that is no word of letters and a picture that does not open with the
// signature. (poi__28774 holds a picture whose last data chunk disagrees with its CRC: it is left out.)
TEST(PngChunkCheck, RealPicturesPassAndChangedBytesAreRefused) {
    const auto pictures = test::CorpusPictures({"poi__angelo.edu_content_files_19555-nsse-2011-multiyear-benchmark.xls",
                                                "poi__49423.xls", "poi__external_image.xls", "poi__57231_MixedGasReport.xls"},
                                               {0xF01E});
    if (pictures.empty()) GTEST_SKIP() << "the workbook corpus (../shared/corpus/xls) is absent";
    EXPECT_GE(pictures.size(), 5u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        const auto& picture = pictures[i];
        for (const size_t piece : {size_t(1), size_t(509), size_t(4096)}) {
            PngChunkCheck check;
            EXPECT_TRUE(FeedInPieces(check, picture, piece)) << "picture " << i << " in pieces of " << piece;
            EXPECT_TRUE(check.Ended()) << "picture " << i;
        }
        // The first chunk (the header) holds 13 bytes of data from offset 16.
        auto changed = picture;
        changed[20] ^= 0x10;
        PngChunkCheck data;
        EXPECT_FALSE(data.Feed(changed)) << "picture " << i << " with a data byte changed";
        changed = picture;
        changed[13] = '1';
        PngChunkCheck type;
        EXPECT_FALSE(type.Feed(std::span(changed).first(16))) << "picture " << i << " with a chunk type of a digit";
        PngChunkCheck signature;
        EXPECT_FALSE(signature.Feed(std::span(picture).subspan(1, 8))) << "picture " << i << " without its signature";
    }
}

TEST(PngChunkCheck, KnowsWhereItJudges) {
    PngChunkCheck check;
    EXPECT_FALSE(check.JudgesWithin(7));
    EXPECT_TRUE(check.JudgesWithin(8));  // the signature
    const uint8_t start[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0x10, 0, 'I', 'D', 'A', 'T'};
    ASSERT_TRUE(check.Feed(start));
    // 4096 bytes of data, then the CRC: judged only where the CRC is in.
    EXPECT_FALSE(check.JudgesWithin(4099));
    EXPECT_TRUE(check.JudgesWithin(4100));
}

}  // namespace
}  // namespace tabulon
