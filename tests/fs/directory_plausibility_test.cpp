// Which clusters look like directory content.
#include <gtest/gtest.h>

#include "common/little_endian.h"
#include "fs/directory_plausibility.h"
#include "support/fat_image_builder.h"

namespace tabulon {
namespace {

using test::DirectorySlot;
using test::FatImageBuilder;

constexpr uint32_t kClusters = 100000;
constexpr uint64_t kDataBytes = 50ull << 20;

std::vector<uint8_t> Cluster(const std::vector<DirectorySlot>& slots, size_t slotCount = 16) {
    std::vector<uint8_t> bytes(slotCount * 32, 0);
    for (size_t i = 0; i < slots.size() && i < slotCount; ++i) std::copy(slots[i].begin(), slots[i].end(), bytes.begin() + i * 32);
    return bytes;
}

bool Plausible(const std::vector<uint8_t>& bytes, const AnalysisSettings& settings = AnalysisSettings {}) {
    return IsPlausibleDirectoryData(bytes.data(), bytes.size() / 32, kClusters, FatType::Fat32, kDataBytes, settings);
}

TEST(DirectoryPlausibility, OrdinaryDirectoryClustersPassAndDataFails) {
    const auto file = FatImageBuilder::ShortSlot("BUDGET  XLS", 0x20, 500, 20000);
    const auto folder = FatImageBuilder::ShortSlot("REPORTS    ", 0x10, 600, 0);
    const auto named = FatImageBuilder::NamedSlots(u"John's 报表 \\ 2026.xls", FatImageBuilder::ShortSlot("JOHNS_~1XLS", 0x20, 700, 10));
    std::vector<DirectorySlot> withLongName = {FatImageBuilder::DotSlot(false, 600), FatImageBuilder::DotSlot(true, 0)};
    withLongName.insert(withLongName.end(), named.begin(), named.end());

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool expected;
    };
    auto with = [&](DirectorySlot slot, size_t offset, uint8_t value) {
        slot[offset] = value;
        return Cluster({file, slot});
    };
    DirectorySlot badDates = file;
    for (int offset : {16, 18, 24}) StoreU16(badDates.data() + offset, 0);
    for (int offset : {14, 22}) StoreU16(badDates.data() + offset, 0xFFFF);
    DirectorySlot huge = file;
    StoreU32(huge.data() + 28, 0x80000000u);
    DirectorySlot farCluster = file;
    StoreU16(farCluster.data() + 20, 0x7FFF);
    DirectorySlot sized = folder;
    StoreU32(sized.data() + 28, 4096);
    DirectorySlot deletedSized = sized;
    deletedSized[0] = 0xE5;
    DirectorySlot same {};
    same.fill(0x41);
    std::vector<uint8_t> trailing = Cluster({file, folder});
    trailing[15 * 32 + 5] = 1;

    const std::vector<Case> cases = {
        {"files and folders", Cluster({file, folder}), true},
        {"long names with an apostrophe, CJK text and a backslash", Cluster(withLongName), true},
        {"a volume label with size 0 in slot 0", Cluster({FatImageBuilder::ShortSlot("LABEL      ", 0x08, 0, 0), file}), true},
        {"all zero", Cluster({}), false},
        {"attributes 0x40 or more", with(file, 11, 0x40), false},
        {"a forbidden byte in a short name", with(file, 3, '?'), false},
        {"times and dates all implausible", Cluster({file, badDates}), false},
        {"a file as large as the data area", Cluster({file, huge}), false},
        {"a first cluster past the volume", Cluster({file, farCluster}), false},
        {"a live folder with a size", Cluster({file, sized}), false},
        {"a deleted folder with a size", Cluster({file, deletedSized}), true},
        {"seventeen equal bytes", Cluster({same}), false},
        {"bytes after the end of the entries", trailing, false},
    };
    for (const auto& c : cases) EXPECT_EQ(Plausible(c.bytes), c.expected) << c.what;
}

TEST(DirectoryPlausibility, SwitchesChangeTheVerdict) {
    auto file = FatImageBuilder::ShortSlot("BUDGET  XLS", 0x20, 500, 20000);
    for (int offset : {16, 18, 24}) StoreU16(file.data() + offset, 0);
    for (int offset : {14, 22}) StoreU16(file.data() + offset, 0xFFFF);
    const auto undated = Cluster({file});
    AnalysisSettings settings;
    EXPECT_FALSE(Plausible(undated, settings));
    settings.timeChecks = false;
    settings.dateChecks = false;
    EXPECT_TRUE(Plausible(undated, settings));

    const auto dated = Cluster({FatImageBuilder::ShortSlot("OLD     XLS", 0x20, 500, 10, 0x6000, (10 << 9) | (1 << 5) | 1)});
    AnalysisSettings strict;
    strict.strictDates = true;
    strict.earliestYear = 2000;
    EXPECT_FALSE(Plausible(dated, strict));  // 1990 lies before the window
    strict.earliestYear = 1985;
    EXPECT_TRUE(Plausible(dated, strict));
}

}  // namespace
}  // namespace tabulon
