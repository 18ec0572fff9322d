#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <numeric>
#include <vector>

#include "source/device_handle.h"
#include "source/sector_reader.h"
#include "source/volume_device.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

// An image of `sectors` sectors whose every byte is (sector + offset) & 0xFF, plus `tail` extra bytes.
std::string MakeImage(const test::TempDir& dir, const std::string& name, uint32_t sectors, uint32_t tail = 0) {
    std::vector<uint8_t> bytes(size_t(sectors) * 512 + tail);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 512 + i % 512);
    std::string path = dir.File(name);
    EXPECT_TRUE(test::WriteFileBytes(path, bytes));
    return path;
}

TEST(SectorReader, OpensReadsAndRefusesPastTheEnd) {
    test::TempDir dir;
    const std::string path = MakeImage(dir, "a.img", 10, 100);
    SectorReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.TotalBytes(), 10u * 512 + 100);  // exact, not rounded
    EXPECT_EQ(reader.SectorCount(), 10u);
    EXPECT_EQ(reader.SectorsPerCylinder(), 16065u);
    EXPECT_EQ(reader.FileSystemName(), "");

    std::vector<uint8_t> buffer(1024, 0xEE);
    ASSERT_TRUE(reader.ReadSectors(buffer.data(), 1024, 3));
    EXPECT_EQ(buffer[0], 3);
    EXPECT_EQ(buffer[513], static_cast<uint8_t>(4 + 1));

    // The first sector equal to the count is passed on: the 100 tail bytes come back, the rest stays.
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_TRUE(reader.ReadSectors(buffer.data(), 512, 10));
    EXPECT_EQ(buffer[0], 10);
    EXPECT_EQ(buffer[100], 0xEE);

    // One past is refused without touching the buffer.
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_FALSE(reader.ReadSectors(buffer.data(), 512, 11));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xEE; }));

    reader.Close();
    EXPECT_EQ(reader.SectorCount(), 0u);
    EXPECT_EQ(reader.TotalBytes(), 0u);
    EXPECT_FALSE(reader.ReadSectors(buffer.data(), 512, 0));
}

TEST(SectorReader, RefusesWhatIsNotASource) {
    test::TempDir dir;
    SectorReader reader;
    EXPECT_FALSE(reader.Open(""));
    EXPECT_FALSE(reader.Open(dir.File("missing.img")));
    EXPECT_FALSE(reader.Open(dir.Path()));  // a directory
    EXPECT_FALSE(reader.IsOpen());
}

TEST(Readers, ReadOnlyImageOpensInBothAndIsNeverWritten) {
    test::TempDir dir;
    const std::string path = MakeImage(dir, "ro.img", 4);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const auto before = test::ReadFileBytes(path);

    SectorReader reader;
    EXPECT_TRUE(reader.Open(path));
    DeviceHandle handle;
    handle.SetPath(path);
    EXPECT_TRUE(handle.Open());
    VolumeDevice device;
    device.SetPath(path);
    EXPECT_TRUE(device.Open());
    reader.Close();
    handle.Close();
    EXPECT_EQ(test::ReadFileBytes(path), before);

    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
}

TEST(DeviceHandle, ZeroFillsExactlyByteCountAtTheEnd) {
    test::TempDir dir;
    const std::string path = MakeImage(dir, "b.img", 8);
    DeviceHandle handle;
    handle.SetPath(path);
    ASSERT_TRUE(handle.Open());
    EXPECT_EQ(handle.SectorCount(), 8u);
    EXPECT_EQ(handle.BytesPerSector(), 0u);
    EXPECT_EQ(handle.SectorsPerCylinder(), 63u);

    std::vector<uint8_t> buffer(1024, 0xEE);
    EXPECT_TRUE(handle.Read(buffer.data(), 512, 7));
    EXPECT_EQ(buffer[0], 7);

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_FALSE(handle.Read(buffer.data(), 300, 8));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 300, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(buffer.begin() + 300, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
    EXPECT_FALSE(handle.Read(buffer.data(), 512, 0xFFFFFFFFu));

    handle.Close();
    EXPECT_EQ(handle.SectorCount(), 0u);
    EXPECT_EQ(handle.SectorsPerCylinder(), 16065u);
}

TEST(DeviceHandle, SectorsPerCylinderTurnsAtNineGiB) {
    EXPECT_EQ(ImageSectorsPerCylinder(0), 63u);
    EXPECT_EQ(ImageSectorsPerCylinder(9ull << 30), 63u);
    EXPECT_EQ(ImageSectorsPerCylinder((9ull << 30) + 1), 16065u);

    // The same through a real sparse file, which costs no disk space.
    test::TempDir dir;
    for (uint64_t size : {9ull << 30, (9ull << 30) + 1}) {
        std::string path = dir.File("sparse.img");
        ASSERT_TRUE(test::WriteFileBytes(path, {}));
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
        DeviceHandle handle;
        handle.SetPath(path);
        ASSERT_TRUE(handle.Open());
        EXPECT_EQ(handle.SectorCount(), size >> 9);
        EXPECT_EQ(handle.SectorsPerCylinder(), size == (9ull << 30) ? 63u : 16065u);
        SectorReader reader;
        ASSERT_TRUE(reader.Open(path));
        EXPECT_EQ(reader.SectorCount(), static_cast<uint32_t>(size >> 9));
    }
}

TEST(SectorReader, SectorCountIsTruncatedTo32Bits) {
    test::TempDir dir;
    std::string path = dir.File("huge.img");
    ASSERT_TRUE(test::WriteFileBytes(path, {}));
    const uint64_t size = (1ull << 41) + 512 * 5;  // 2 TiB + 5 sectors, sparse
    if (truncate(path.c_str(), static_cast<off_t>(size)) != 0) GTEST_SKIP() << "file system refuses a 2 TiB sparse file";
    SectorReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.TotalBytes(), size);
    EXPECT_EQ(reader.SectorCount(), 5u);
    DeviceHandle handle;
    handle.SetPath(path);
    ASSERT_TRUE(handle.Open());
    EXPECT_EQ(handle.SectorCount(), size >> 9);
}

TEST(VolumeDevice, BootSnapshotAndRegion) {
    test::TempDir dir;
    const std::string path = MakeImage(dir, "c.img", 4);
    VolumeDevice device;
    std::vector<uint8_t> buffer(512, 0xEE);
    EXPECT_FALSE(device.Read(buffer.data(), 512, 0));  // not open: untouched
    EXPECT_EQ(buffer[0], 0xEE);

    device.SetPath(path);
    ASSERT_TRUE(device.Open());
    EXPECT_EQ(device.SectorCount(), 4u);
    ASSERT_TRUE(device.ReadBootSector(2));
    EXPECT_EQ(device.BootSnapshot()[0], 2);
    EXPECT_EQ(device.BootSnapshot()[59], 2 + 59);
    EXPECT_EQ(device.BootSnapshotWord60(), (2 + 60) | ((2 + 61) << 8));
    EXPECT_FALSE(device.ReadBootSector(4));  // past the end

    std::vector<uint8_t> given(512, 0x11);
    device.SetBootSnapshot(given.data(), true);
    EXPECT_TRUE(device.ReadBootSector(3));  // handed over: no read
    EXPECT_EQ(device.BootSnapshot()[0], 0x11);

    VolumeDevice other;
    other.SetRegion(512, 100, 2000, true);
    EXPECT_TRUE(other.ReadBootSector(0));
    EXPECT_EQ(other.GetRegion().firstSector, 100u);
    EXPECT_EQ(other.GetRegion().sectorCount, 2000u);
}

}  // namespace
}  // namespace tabulon
