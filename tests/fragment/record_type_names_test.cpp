#include "fragment/record_type_names.h"

#include <gtest/gtest.h>

namespace tabulon {
namespace {

TEST(RecordTypeNames, KnowsExactlyTheNamedTypes) {
    int known = 0;
    for (uint32_t type = 0; type <= 0xFFFF; ++type) {
        bool isKnown = RecordTypeNames::IsKnown(uint16_t(type));
        EXPECT_EQ(isKnown, !RecordTypeNames::NameOf(uint16_t(type)).empty()) << type;
        known += isKnown ? 1 : 0;
    }
    EXPECT_EQ(known, RecordTypeNames::kCount);
    EXPECT_EQ(RecordTypeNames::kCount, 106);
}

TEST(RecordTypeNames, NamesAreQuotedExactly) {
    EXPECT_EQ(RecordTypeNames::NameOf(0x0809), u"BOF **************");
    EXPECT_EQ(RecordTypeNames::NameOf(0x0021), u"ARRAY");
    EXPECT_EQ(RecordTypeNames::NameOf(0x0221), u"ARRAY");
    EXPECT_EQ(RecordTypeNames::NameOf(0x005D), u"Unknown55555");
    EXPECT_EQ(RecordTypeNames::NameOf(0x007F), u"Unknown3333");
    EXPECT_EQ(RecordTypeNames::NameOf(0x00EB), u"Unknown111");
    EXPECT_EQ(RecordTypeNames::NameOf(0x00EC), u"Unknown666");
    EXPECT_EQ(RecordTypeNames::NameOf(0x00FD), u"LABELSST");
    EXPECT_EQ(RecordTypeNames::NameOf(0x0868), u"RANGEPROTECTION");
    for (uint16_t unnamed : {0x0000, 0x0001, 0x0016, 0x0809 + 1, 0xFFFF}) {
        EXPECT_FALSE(RecordTypeNames::IsKnown(unnamed)) << unnamed;
        EXPECT_TRUE(RecordTypeNames::NameOf(unnamed).empty()) << unnamed;
    }
}

}  // namespace
}  // namespace tabulon
