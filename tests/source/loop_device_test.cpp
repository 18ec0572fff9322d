// Real block devices: a partitioned image attached with losetup. Skips where the machine does not allow it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>

#include "source/device_handle.h"
#include "source/sector_reader.h"
#include "source/source_name.h"
#include "support/loop_device.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

TEST(LoopDevice, DiskAndPartitionOpenAsBlockDevices) {
    if (geteuid() != 0 || !test::HasProgram("losetup") || !test::HasProgram("mkfs.fat") || !test::HasProgram("sfdisk"))
        GTEST_SKIP() << "needs root, losetup, sfdisk and mkfs.fat";
    test::TempDir dir;
    const std::string image = dir.File("disk.img");
    const std::string volume = dir.File("part.img");
    // A 64 MiB disk with one FAT32 partition at sector 2048.
    ASSERT_EQ(test::RunCommand("truncate -s 64M " + image + " && truncate -s 63M " + volume +
                               " && mkfs.fat -F 32 " + volume + " >/dev/null && echo 'start=2048, type=c' | sfdisk -q " +
                               image + " && dd if=" + volume + " of=" + image +
                               " bs=512 seek=2048 conv=notrunc status=none")
                  .exitStatus,
              0);
    test::LoopDevice loop(image);
    if (loop.Path().empty()) GTEST_SKIP() << "losetup could not attach an image on this machine";

    auto disk = SourceName::Parse(loop.Path());
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->kind, SourceKind::Disk);
    SectorReader reader;
    ASSERT_TRUE(reader.Open(loop.Path()));
    EXPECT_EQ(reader.TotalBytes(), 64ull << 20);
    std::array<uint8_t, 512> sector {};
    ASSERT_TRUE(reader.ReadSectors(sector.data(), 512, 0));
    EXPECT_EQ(sector[510], 0x55);
    EXPECT_EQ(sector[511], 0xAA);

    // Without udev the kernel still announces the partition in /sys; make its device node ourselves.
    std::string partition = loop.Path() + "p1";
    if (access(partition.c_str(), F_OK) != 0) {
        const std::string name = partition.substr(partition.rfind('/') + 1);
        auto numbers = test::RunCommand("cat /sys/class/block/" + name + "/dev");
        auto colon = numbers.output.find(':');
        if (numbers.exitStatus != 0 || colon == std::string::npos) GTEST_SKIP() << "the kernel did not scan partitions of " << loop.Path();
        partition = dir.File(name);
        const std::string major = numbers.output.substr(0, colon);
        const std::string minor = numbers.output.substr(colon + 1, numbers.output.find('\n') - colon - 1);
        ASSERT_EQ(test::RunCommand("mknod " + partition + " b " + major + " " + minor).exitStatus, 0);
    }
    auto part = SourceName::Parse(partition);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->kind, SourceKind::Volume);
    SectorReader volumeReader;
    ASSERT_TRUE(volumeReader.Open(partition));
    EXPECT_EQ(volumeReader.FileSystemName(), "FAT32");
    EXPECT_EQ(volumeReader.SectorCount(), (64u << 11) - 2048);
    DeviceHandle handle;
    handle.SetPath(partition);
    ASSERT_TRUE(handle.Open());
    EXPECT_EQ(handle.SectorCount(), (64u << 11) - 2048);
}

}  // namespace
}  // namespace tabulon
