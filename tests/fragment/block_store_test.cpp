#include "fragment/block_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"
#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::MtoolsImage;
using test::PatternBytes;
using Bytes = std::vector<uint8_t>;

// The volume facts a load records, computed here from the boot sector on its own.
BlockStoreLayout LayoutOfImage(const MtoolsImage& image, bool inMemory) {
    BlockStoreLayout layout;
    layout.sourceName = image.Path();
    layout.fatFound = true;
    const Bytes boot = image.ReadAt(0, 512);
    std::copy_n(boot.begin(), layout.bootCopy.size(), layout.bootCopy.begin());
    const uint32_t reserved = LoadU16(boot.data() + 14);
    const uint32_t fats = boot[16];
    const uint32_t rootEntries = LoadU16(boot.data() + 17);
    const uint32_t perFat = LoadU16(boot.data() + 22) != 0 ? LoadU16(boot.data() + 22) : LoadU32(boot.data() + 36);
    layout.dataStartSector = reserved + fats * perFat + (rootEntries * 32 + 511) / 512;
    layout.inMemory = inMemory;
    return layout;
}

// The block holding `chunk` (found on the image at a block boundary); -1 when absent.
int32_t BlockHolding(const Bytes& imageBytes, const BlockStore& store, const Bytes& chunk) {
    const size_t b = size_t(store.BlockBytes());
    for (size_t at = size_t(store.FirstSector()) * 512; at + chunk.size() <= imageBytes.size(); at += b)
        if (std::equal(chunk.begin(), chunk.end(), imageBytes.begin() + ptrdiff_t(at)))
            return int32_t((at / 512 - store.FirstSector()) / uint32_t(store.SectorsPerBlock()) + 2);
    return -1;
}

struct FatCase {
    const char* name;
    int fatBits;
    uint32_t sizeKiB;
    int sectorsPerCluster;
};

class BlockStoreOnFat : public ::testing::TestWithParam<FatCase> {
protected:
    void SetUp() override {
        if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "mkfs.fat and mtools are not installed";
    }
    test::TempDir temp;
};

// A live file, a deleted file and a deleted file of 0xFF bytes: only the deleted file's blocks are
// offered, in both modes, and its bytes come back unchanged.
TEST_P(BlockStoreOnFat, OffersOnlyTheBlocksOfDeletedFilesThatHoldData) {
    const FatCase& c = GetParam();
    MtoolsImage image(temp.File("volume.img"));
    ASSERT_TRUE(image.Create(MtoolsImage::Format::Of(c.fatBits, c.sizeKiB, c.sectorsPerCluster))) << image.LastOutput();
    const size_t b = size_t(c.sectorsPerCluster) * 512;
    const Bytes live = PatternBytes(b * 3, 1);
    const Bytes gone = PatternBytes(b * 4, 2);
    const Bytes ones(b * 2, 0xFF);
    ASSERT_TRUE(image.WriteFile("/live.bin", live));
    ASSERT_TRUE(image.WriteFile("/gone.bin", gone));
    ASSERT_TRUE(image.WriteFile("/ones.bin", ones));
    ASSERT_TRUE(image.DeleteFile("/gone.bin"));
    ASSERT_TRUE(image.DeleteFile("/ones.bin"));
    const Bytes imageBytes = test::ReadFileBytes(image.Path());

    BlockStore direct, memory;
    ASSERT_EQ(direct.Prepare(LayoutOfImage(image, false), nullptr), BlockStore::PrepareResult::Ready);
    ASSERT_EQ(memory.Prepare(LayoutOfImage(image, true), nullptr), BlockStore::PrepareResult::Ready);
    ASSERT_EQ(direct.BlockBytes(), int32_t(b));
    ASSERT_EQ(direct.BlockCount(), memory.BlockCount());

    for (size_t k = 0; k < 3; ++k) {
        const int32_t block = BlockHolding(imageBytes, direct, Bytes(live.begin() + ptrdiff_t(k * b), live.begin() + ptrdiff_t((k + 1) * b)));
        ASSERT_GE(block, 2);
        EXPECT_TRUE(direct.IsAllocated(block));
        EXPECT_TRUE(direct.GetBlock(block).empty());
        EXPECT_TRUE(memory.GetBlock(block).empty());
        EXPECT_EQ(direct.FillerByte(block), -1);
        EXPECT_EQ(memory.FillerByte(block), -1);
    }
    for (size_t k = 0; k < 4; ++k) {
        const Bytes chunk(gone.begin() + ptrdiff_t(k * b), gone.begin() + ptrdiff_t((k + 1) * b));
        const int32_t block = BlockHolding(imageBytes, direct, chunk);
        ASSERT_GE(block, 2);
        for (BlockStore* store : {&direct, &memory}) {
            const auto data = store->GetBlock(block);
            ASSERT_GE(data.size(), b) << "block " << block;
            EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), data.begin()));
            EXPECT_EQ(store->FillerByte(block), -1);
        }
    }

    // Every block offered in one mode is offered in the other, with the same bytes; in memory mode
    // each kept block ends with the first bytes of the next kept one.
    int32_t offered = 0;
    Bytes previous;
    for (int32_t i = 2; i < direct.BlockCount(); ++i) {
        const auto inMemory = memory.GetBlock(i);
        const auto read = direct.GetBlock(i);
        const Bytes fromDisk(read.begin(), read.end());
        ASSERT_EQ(inMemory.empty(), fromDisk.empty()) << "block " << i;
        if (inMemory.empty()) continue;
        ++offered;
        EXPECT_TRUE(std::equal(inMemory.begin(), inMemory.begin() + ptrdiff_t(b), fromDisk.begin()));
        if (!previous.empty()) {
            EXPECT_TRUE(std::equal(previous.begin() + ptrdiff_t(b), previous.end(), inMemory.begin()));
        }
        previous.assign(inMemory.begin(), inMemory.end());
    }
    EXPECT_GE(offered, 4);  // the deleted file, and whatever formatting left that is not filler
    const int32_t onesBlock = BlockHolding(imageBytes, direct, Bytes(b, 0xFF));
    ASSERT_GE(onesBlock, 2);
    EXPECT_TRUE(memory.GetBlock(onesBlock).empty());
    const uint64_t reads = direct.BlockReads();
    EXPECT_TRUE(direct.GetBlock(onesBlock).empty());
    EXPECT_EQ(direct.BlockReads(), reads) << "a filler block is read only once";
    // Filler blocks are not offered, but which byte fills them is told, for a stream that runs through
    // one inside a long record; a fresh direct store reads the block to tell.
    EXPECT_EQ(memory.FillerByte(onesBlock), 0xFF);
    EXPECT_EQ(direct.FillerByte(onesBlock), 0xFF);
    BlockStore fresh;
    ASSERT_EQ(fresh.Prepare(LayoutOfImage(image, false), nullptr), BlockStore::PrepareResult::Ready);
    EXPECT_EQ(fresh.FillerByte(onesBlock), 0xFF);
    const int32_t zerosBlock = BlockHolding(imageBytes, direct, Bytes(b, 0x00));
    ASSERT_GE(zerosBlock, 2);
    const int expected = direct.IsAllocated(zerosBlock) ? -1 : 0x00;
    EXPECT_EQ(memory.FillerByte(zerosBlock), expected);
    EXPECT_EQ(fresh.FillerByte(zerosBlock), expected);
    EXPECT_EQ(fresh.FillerByte(fresh.BlockCount()), -1);
}

INSTANTIATE_TEST_SUITE_P(Formats, BlockStoreOnFat,
                         ::testing::Values(FatCase {"fat12", 12, 1440, 1}, FatCase {"fat12_2k", 12, 4096, 4},
                                           FatCase {"fat16", 16, 16384, 4}, FatCase {"fat32", 32, 40960, 1}),
                         [](const ::testing::TestParamInfo<FatCase>& param) { return std::string(param.param.name); });

// Which allocation-table values give a cluster away: written into a live file's entry on real images.
TEST(BlockStore, AllocationValuesFollowTheTableWidth) {
    if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "mkfs.fat and mtools are not installed";
    struct Case {
        int fatBits;
        uint32_t value;
        bool allocated;
    };
    const Case cases[] = {
        {16, 0xFFFF, true},      {16, 0xFFF8, false},     {16, 0xFFF7, false},     {16, 0x0003, true},
        {16, 0x0001, false},     {32, 0x0FFFFFFF, true},  {32, 0x0FFFFFF8, false}, {32, 0x00000003, true},
        {32, 0xF0000003, true},  {32, 0x00000000, false}, {12, 0xFFF, true},       {12, 0xFF8, false},
        {12, 0x003, true},       {12, 0x000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "FAT" << c.fatBits << " value " << std::hex << c.value);
        test::TempDir temp;
        MtoolsImage image(temp.File("v.img"));
        const uint32_t size = c.fatBits == 12 ? 1440 : c.fatBits == 16 ? 16384 : 65536;
        ASSERT_TRUE(image.Create(MtoolsImage::Format::Of(c.fatBits, size, c.fatBits == 32 ? 1 : 4)));
        BlockStore store;
        BlockStoreLayout layout = LayoutOfImage(image, false);
        const uint32_t fatOffset = uint32_t(LoadU16(layout.bootCopy.data() + 14)) * 512;
        // Cluster 5's entry; the volume is empty, so only this entry decides.
        const int32_t cluster = 5;
        if (c.fatBits == 12) {
            Bytes pair = image.ReadAt(fatOffset + 7, 2);  // cluster 5 is odd: the high 12 bits of bytes 7-8
            uint16_t word = uint16_t(LoadU16(pair.data()) & 0x000F) | uint16_t(c.value << 4);
            StoreU16(pair.data(), word);
            ASSERT_TRUE(image.Patch(fatOffset + 7, pair));
        } else if (c.fatBits == 16) {
            Bytes entry(2);
            StoreU16(entry.data(), uint16_t(c.value));
            ASSERT_TRUE(image.Patch(fatOffset + 10, entry));
        } else {
            Bytes entry(4);
            StoreU32(entry.data(), c.value);
            ASSERT_TRUE(image.Patch(fatOffset + 20, entry));
        }
        ASSERT_EQ(store.Prepare(layout, nullptr), BlockStore::PrepareResult::Ready);
        EXPECT_EQ(store.IsAllocated(cluster), c.allocated);
        EXPECT_FALSE(store.IsAllocated(cluster + 1));
        EXPECT_FALSE(store.IsAllocated(cluster - 1));
    }
}

TEST(BlockStore, WithoutAFileSystemTheGridFollowsTheWorkbooksFoundByContent) {
    test::TempDir temp;
    const std::string path = temp.File("raw.img");
    Bytes bytes(512 * 400, 0);
    for (size_t s = 20; s < 60; ++s) bytes[s * 512 + 3] = uint8_t(s);  // data, so the blocks are kept
    ASSERT_TRUE(test::WriteFileBytes(path, bytes));

    BlockStoreLayout layout;
    layout.sourceName = path;
    layout.blockSectors = 8;
    layout.contentStarts = {21, 5, 29, 37, 6};  // remainder 5 twice first, then 5 three times
    for (bool inMemory : {false, true}) {
        layout.inMemory = inMemory;
        BlockStore store;
        ASSERT_EQ(store.Prepare(layout, nullptr), BlockStore::PrepareResult::Ready);
        EXPECT_EQ(store.FirstSector(), 5u);
        EXPECT_EQ(store.BlockAtSector(21), 4);
        EXPECT_EQ(store.BlockAtSector(22), -1);
        EXPECT_EQ(store.BlockAtSector(4), -1);
        EXPECT_EQ(store.BlockCount(), int32_t((400 - 5) / 8 + 2));
        const auto block = store.GetBlock(4);
        ASSERT_GE(block.size(), 8u * 512);
        EXPECT_EQ(block[3], 21);
        EXPECT_TRUE(store.GetBlock(2).empty());  // zeros
        EXPECT_TRUE(store.GetBlock(store.BlockCount() - 1).empty());
        EXPECT_TRUE(store.GetBlock(store.BlockCount()).empty());
    }

    BlockStore store;
    layout.blockSectors = 0;
    EXPECT_EQ(store.Prepare(layout, nullptr), BlockStore::PrepareResult::NoBlockSize);
    layout.blockSectors = 129;
    EXPECT_EQ(store.Prepare(layout, nullptr), BlockStore::PrepareResult::BadLayout);
    layout.blockSectors = 8;
    layout.sourceName = temp.File("missing.img");
    EXPECT_EQ(store.Prepare(layout, nullptr), BlockStore::PrepareResult::Unreadable);
    EXPECT_TRUE(store.Empty());
}

// Direct mode reads ahead while requests go forward. Whatever the order of requests (a scan in disk
// order, backward steps, jumps, a scan that runs into the source's end), each block comes back as the
// source holds it, with the sector after it, or zeros after the source's last block; and a scan in
// order takes far fewer reads than it has blocks.
TEST(BlockStore, DirectReadsGiveTheSourceBytesInAnyOrder) {
    test::TempDir temp;
    const std::string path = temp.File("raw.img");
    const Bytes bytes = PatternBytes(512 * 2000, 7);  // the last block ends the source
    ASSERT_TRUE(test::WriteFileBytes(path, bytes));
    BlockStoreLayout layout;
    layout.sourceName = path;
    layout.blockSectors = 4;
    BlockStore store;
    ASSERT_EQ(store.Prepare(layout, nullptr), BlockStore::PrepareResult::Ready);
    const size_t b = 4 * 512;
    const int32_t last = store.BlockCount() - 1;
    ASSERT_EQ(last, 2 + 2000 / 4 - 1);
    const auto expectBlock = [&](int32_t index) {
        const auto data = store.GetBlock(index);
        ASSERT_EQ(data.size(), b + 512) << "block " << index;
        const size_t at = size_t(store.SectorOfBlock(index)) * 512;
        for (size_t i = 0; i < b + 512; ++i) {
            const uint8_t expected = at + i < bytes.size() ? bytes[at + i] : 0;
            ASSERT_EQ(data[i], expected) << "block " << index << " byte " << i;
        }
    };
    const uint64_t before = store.BlockReads();
    for (int32_t i = 2; i <= last; ++i) expectBlock(i);
    const uint64_t scanReads = store.BlockReads() - before;
    EXPECT_LT(scanReads, uint64_t(last - 1) / 8) << "a scan in order reads ahead";
    std::vector<int32_t> order;
    for (int32_t i = last; i >= 2; i -= 37) order.push_back(i);  // backward
    for (int32_t i : {5, 6, 7, 300, 9, 301, 302, 303, 304, 400, 401, 402, 403, 200, 2}) order.push_back(i);
    for (int32_t i = last - 20; i <= last; i += 3) order.push_back(i);  // forward with gaps, to the end
    for (int32_t i = 2; i <= last; i += 60) order.push_back(i);        // gaps too wide to read ahead
    for (const int32_t i : order) expectBlock(i);
}

TEST(BlockStore, AStopDuringPreparationLeavesNoBlocks) {
    test::TempDir temp;
    const std::string path = temp.File("raw.img");
    ASSERT_TRUE(test::WriteFileBytes(path, PatternBytes(512 * 64, 3)));
    BlockStoreLayout layout;
    layout.sourceName = path;
    layout.blockSectors = 1;
    layout.inMemory = true;
    ScanProgress progress;
    progress.stopRequested = 1;
    BlockStore store;
    EXPECT_EQ(store.Prepare(layout, &progress), BlockStore::PrepareResult::Stopped);
    EXPECT_TRUE(store.Empty());
    EXPECT_TRUE(store.GetBlock(3).empty());
}

}  // namespace
}  // namespace tabulon
