// The raw analyser's data operations: every entry is sector runs relative to the partition start.

#include <gtest/gtest.h>

#include "fs/read_success_flag.h"
#include "raw_scan_support.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

// Every byte of device sector s is (s * 7 + offset) & 0xFF: any misplaced sector shows.
uint8_t ByteAt(uint64_t sector, size_t offset) { return static_cast<uint8_t>(sector * 7 + offset * 3); }

class RawVolumeData : public ::testing::Test {
protected:
    static constexpr uint32_t kPartitionStart = 10;
    static constexpr uint64_t kSectors = 300;

    void SetUp() override {
        std::vector<uint8_t> image(kSectors * 512);
        for (uint64_t s = 0; s < kSectors; ++s)
            for (size_t i = 0; i < 512; ++i) image[s * 512 + i] = ByteAt(s, i);
        ASSERT_TRUE(test::WriteFileBytes(dir_.File("d.img"), image));
        disk_.Device().SetPath(dir_.File("d.img"));
        ASSERT_TRUE(disk_.Device().Open());
        raw_.SetOwner(&disk_);
        raw_.SetPartitionStart(kPartitionStart);
    }

    // The bytes of the file whose data lies in these volume-relative sectors, from `offset`.
    static std::vector<uint8_t> Expected(const std::vector<uint32_t>& sectors, uint64_t offset, size_t count) {
        std::vector<uint8_t> out;
        for (uint64_t at = offset; at < offset + count; ++at)
            out.push_back(ByteAt(kPartitionStart + sectors[at / 512], at % 512));
        return out;
    }

    test::TempDir dir_;
    SourceDisk disk_;
    RawVolume raw_;
};

TEST_F(RawVolumeData, EntryWithoutRunsIsOneRunAtItsStart) {
    FileEntry entry;
    entry.start = 5;
    entry.size = 1300;  // three sectors
    ClusterChain chain;
    uint64_t allocated = 0, size = 0;
    ASSERT_TRUE(raw_.GetSizes(entry, chain, allocated, size));
    EXPECT_EQ(size, 1300u);
    EXPECT_EQ(allocated, 1536u);
    ASSERT_EQ(chain.Count(), 1);
    EXPECT_EQ(chain.At(0), (ClusterRun {5, 3}));

    std::vector<uint8_t> buffer(500);
    ASSERT_TRUE(raw_.ReadFileData(entry, buffer.data(), buffer.size(), 700, 500, chain));
    EXPECT_EQ(buffer, Expected({5, 6, 7}, 700, 500));
    // More than the runs hold is refused.
    std::vector<uint8_t> big(2000);
    EXPECT_FALSE(raw_.ReadFileData(entry, big.data(), big.size(), 0, 1537, chain));
    // A buffer smaller than the count is refused.
    EXPECT_FALSE(raw_.ReadFileData(entry, buffer.data(), 100, 0, 200, chain));

    std::vector<uint8_t> whole;
    ASSERT_TRUE(raw_.ReadWholeFile(entry, whole, allocated, size));
    EXPECT_EQ(whole, Expected({5, 6, 7}, 0, 1536));

    uint32_t startSector = 0;
    ASSERT_TRUE(raw_.GetExtent(entry, allocated, startSector));
    EXPECT_EQ(allocated, 1536u);
    EXPECT_EQ(startSector, 5u);
}

TEST_F(RawVolumeData, ContentFoundEntryReadsItsOwnRunsInOrder) {
    FileEntry entry;
    entry.flags = FileEntryFlags::ContentFound;
    entry.start = 20;
    entry.size = 1400;
    entry.runs = std::make_unique<ClusterChain>();
    entry.runs->Append(20, 2);
    entry.runs->Append(200, 1);
    ClusterChain chain;
    ASSERT_TRUE(raw_.BuildChain(entry, chain, nullptr));
    EXPECT_EQ(chain.Runs(), entry.runs->Runs());
    std::vector<uint8_t> buffer(600);
    ASSERT_TRUE(raw_.ReadFileData(entry, buffer.data(), buffer.size(), 1000, 400, chain));
    buffer.resize(400);
    EXPECT_EQ(buffer, Expected({20, 21, 200}, 1000, 400));

    // A run past the end of the device fails the read and clears the read-success flag.
    FileEntry beyond;
    beyond.start = static_cast<uint32_t>(kSectors);
    beyond.size = 512;
    ReadSuccessFlag().store(true);
    ClusterChain none;
    std::vector<uint8_t> sector(512);
    EXPECT_FALSE(raw_.ReadFileData(beyond, sector.data(), sector.size(), 0, 512, none));
    EXPECT_FALSE(ReadSuccessFlag().load());
    ReadSuccessFlag().store(true);
}

TEST_F(RawVolumeData, RootsAndGeometry) {
    EXPECT_EQ(raw_.RootEntry()->Name(), u"ROOT");
    EXPECT_TRUE(raw_.RootEntry()->IsDirectory());
    EXPECT_EQ(raw_.LostEntry()->Name(), u"");
    EXPECT_TRUE(raw_.LostEntry()->IsDirectory());
    uint64_t allocated = 0;
    uint32_t start = 99;
    ASSERT_TRUE(raw_.GetExtent(*raw_.RootEntry(), allocated, start));
    EXPECT_EQ(allocated, 512u);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(raw_.GetFatType(), FatType::None);
    EXPECT_EQ(raw_.DataStartSector(), kPartitionStart);
    EXPECT_EQ(raw_.SectorsPerCluster(), 0u);
    EXPECT_EQ(raw_.ClusterToSector(7), 0u);
    ClusterChain chain;
    EXPECT_TRUE(raw_.RootDirectoryRuns(chain));
    EXPECT_TRUE(chain.Empty());

    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(raw_.ReadSectors(sector.data(), 512, 3, true));
    EXPECT_EQ(sector, Expected({3}, 0, 512));
    EXPECT_FALSE(raw_.ReadSectors(nullptr, 512, 3, true));
}

}  // namespace
}  // namespace tabulon
