#include "fragment/biff_string_size.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/biff_bytes.h"

namespace tabulon {
namespace {

using test::BiffBytes;

std::optional<uint32_t> Short(const BiffBytes& b, uint32_t length) {
    return ShortStringSize(b.Bytes().data(), length, 0);
}
std::optional<uint32_t> Long(const BiffBytes& b) { return LongStringSize(b.Bytes().data(), uint32_t(b.Size()), 0); }
std::optional<uint32_t> Countless(const BiffBytes& b, uint32_t chars) {
    return CountlessStringSize(b.Bytes().data(), uint32_t(b.Size()), 0, chars);
}

TEST(BiffStringSize, ShortStrings) {
    EXPECT_EQ(Short(BiffBytes().U8(0).U8(0xFF), 2), 2u);         // no characters: option not examined
    EXPECT_EQ(Short(BiffBytes().U8(0), 1), 2u);                  // ... nor read
    EXPECT_EQ(Short(BiffBytes().U8(5).U8(0).Zeros(5), 7), 7u);   // 8-bit characters
    EXPECT_EQ(Short(BiffBytes().U8(5).U8(1).Zeros(10), 12), 12u);  // 16-bit characters
    EXPECT_EQ(Short(BiffBytes().U8(5).U8(0x02), 2), 0u);         // invalid option
    EXPECT_EQ(Short(BiffBytes().U8(5).U8(0x0D).Zeros(10), 12), 12u);  // runs and extension not counted
    EXPECT_EQ(Short(BiffBytes().U8(5).U8(0), 1), std::nullopt);  // option byte beyond the buffer
}

TEST(BiffStringSize, LongStrings) {
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(0)), 6u);
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(1)), 9u);
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(0x10)), 0u);
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(0x08).U16(2)), 5u + 3 + 8);             // rich text
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(0x04).U32(20)), 7u + 3 + 20);           // phonetic
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(0x0D).U16(1).U32(6)), 9u + 6 + 4 + 6);  // both, 16-bit
    EXPECT_EQ(Long(BiffBytes().U16(3)), std::nullopt);
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(0x08).U8(1)), std::nullopt);
    EXPECT_EQ(Long(BiffBytes().U16(3).U8(0x04).U16(1)), std::nullopt);
    EXPECT_EQ(Long(BiffBytes().U16(0xFFFF).U8(0x0D).U16(0xFFFF).U32(0xFFFFFFFF)), 0xFFFFFFFFu);  // saturates
}

TEST(BiffStringSize, CountlessStrings) {
    EXPECT_EQ(Countless(BiffBytes().U8(0), 4), 5u);
    EXPECT_EQ(Countless(BiffBytes().U8(1), 4), 9u);
    EXPECT_EQ(Countless(BiffBytes().U8(0x80), 4), 0u);
    EXPECT_EQ(Countless(BiffBytes().U8(0x08).U16(2), 4), 3u + 4 + 8);
    EXPECT_EQ(Countless(BiffBytes().U8(0x04).U32(10), 4), 1u + 4 + 10 + 4);  // extension size field counted once
    EXPECT_EQ(Countless(BiffBytes().U8(0x08).U8(2), 4), std::nullopt);
    EXPECT_EQ(Countless(BiffBytes(), 4), std::nullopt);
}

}  // namespace
}  // namespace tabulon
