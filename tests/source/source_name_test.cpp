#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "source/source_name.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

TEST(SourceName, ParsesTheThreeKinds) {
    test::TempDir dir;
    const std::string image = dir.File("stick.img");
    std::ofstream(image) << "x";

    struct Case {
        std::string text;
        bool accepted;
        SourceKind kind;
        int diskNumber;
    };
    const Case cases[] = {
        {"", false, SourceKind::Image, -1},
        {image, true, SourceKind::Image, -1},
        {"relative/missing.img", true, SourceKind::Image, -1},
        {"E:", true, SourceKind::Image, -1},  // no drive letters here: just a (missing) file name
        {"HD0", true, SourceKind::Disk, 0},
        {"hd12", true, SourceKind::Disk, 12},
        {"Hd3", true, SourceKind::Disk, 3},
        {"HD", true, SourceKind::Image, -1},
        {"HDx", true, SourceKind::Image, -1},
        {"HD1a", true, SourceKind::Image, -1},
        {"HD-1", true, SourceKind::Image, -1},
        {"HD99999999999", true, SourceKind::Image, -1},  // too long for a disk number
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto name = SourceName::Parse(c.text);
        ASSERT_EQ(name.has_value(), c.accepted);
        if (!name) continue;
        EXPECT_EQ(name->kind, c.kind);
        EXPECT_EQ(name->diskNumber, c.diskNumber);
        EXPECT_EQ(name->text, c.text);
    }
}

TEST(SourceName, DiskAliasFollowsSysBlockOrderWithoutLoopAndRam) {
    test::TempDir dir;
    for (const char* entry : {"sdb", "loop0", "ram1", "sda", "nvme0n1", "zram0"})
        std::filesystem::create_directory(dir.File(entry));
    EXPECT_EQ(DiskAliasPath(0, dir.Path()), "/dev/nvme0n1");
    EXPECT_EQ(DiskAliasPath(1, dir.Path()), "/dev/sda");
    EXPECT_EQ(DiskAliasPath(2, dir.Path()), "/dev/sdb");
    EXPECT_EQ(DiskAliasPath(3, dir.Path()), "");
    EXPECT_EQ(DiskAliasPath(-1, dir.Path()), "");
}

TEST(SourceName, RegularFileIsNotABlockDevice) {
    test::TempDir dir;
    std::ofstream(dir.File("a.img")) << "x";
    EXPECT_FALSE(BlockDeviceKind(dir.File("a.img")).has_value());
    EXPECT_FALSE(BlockDeviceKind(dir.File("missing")).has_value());
}

}  // namespace
}  // namespace tabulon
