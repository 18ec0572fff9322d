// Damaged boot sectors: repair from the FAT32 backup and reconstruction from the FAT copies.
#include <gtest/gtest.h>

#include "common/little_endian.h"
#include "fs/boot_parameter_reconstruction.h"
#include "fs/boot_sector_kind.h"
#include "fs/fat_volume.h"
#include "support/fat_volume_fixture.h"
#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::FindEntry;
using test::MtoolsImage;
using test::PatternBytes;

class DamagedBootSector : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "mkfs.fat and mtools are not installed";
    }

    // A volume with a folder and two files.
    void Populate(MtoolsImage& image, const MtoolsImage::Format& format) {
        ASSERT_TRUE(image.Create(format)) << image.LastOutput();
        ASSERT_TRUE(image.MakeDirectory("/Books"));
        ASSERT_TRUE(image.WriteFile("/Books/Ledger 2026.xls", ledger)) << image.LastOutput();
        ASSERT_TRUE(image.WriteFile("/README.TXT", readme)) << image.LastOutput();
    }

    void ExpectReadable(FatVolume& volume) {
        std::vector<uint8_t> data;
        const FileEntry* file = FindEntry(*volume.RootEntry(), "Books/Ledger 2026.xls");
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(test::ReadEntry(volume, *file, data));
        EXPECT_TRUE(data == ledger);
        file = FindEntry(*volume.RootEntry(), "README.TXT");
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(test::ReadEntry(volume, *file, data));
        EXPECT_TRUE(data == readme);
    }

    // Reconstructs at sector 0 and hands the result over as the boot snapshot, as the loader does.
    test::OpenedVolume MountRebuilt(const std::string& path, FatType askedType, bool probe, BootSectorKind expectedKind) {
        auto opened = test::OpenFatImage(path, 0, false);
        EXPECT_TRUE(opened.opened);
        std::array<uint8_t, 512> rebuilt {};
        VolumeDevice& device = opened.disk->Device();
        EXPECT_TRUE(ReconstructBootParameters(device, 0, askedType, static_cast<uint32_t>(device.SectorCount()), probe,
                                              rebuilt));
        const BootSectorKind kind = ClassifyBootSector(rebuilt.data());
        EXPECT_EQ(kind, expectedKind);
        device.SetBootSnapshot(rebuilt.data(), true);
        opened.volume->SetDeclaredFatType(kind == BootSectorKind::Fat32 ? FatType::Fat32 : FatType::Fat16);
        opened.mounted = opened.volume->Mount();
        return opened;
    }

    test::TempDir temp;
    std::vector<uint8_t> ledger = PatternBytes(3000, 41);
    std::vector<uint8_t> readme = PatternBytes(600, 42);
};

TEST_F(DamagedBootSector, Fat32MountsFromTheBackupBootSector) {
    MtoolsImage image(temp.File("backup.img"));
    const auto format = MtoolsImage::Format::Of(32, 131072, 2);
    Populate(image, format);
    if (HasFatalFailure()) return;

    // Sectors per cluster 0, then the whole sector zeroed: both times the backup at sector 6 answers.
    ASSERT_TRUE(image.Patch(13, {0}));
    auto spcZero = test::OpenFatImage(image.Path(), 0, true, FatType::Fat32);
    ASSERT_TRUE(spcZero.mounted);
    EXPECT_EQ(spcZero.volume->SectorsPerCluster(), 2u);
    EXPECT_FALSE(spcZero.volume->Table().Rebuilt());
    ExpectReadable(*spcZero.volume);

    ASSERT_TRUE(image.Patch(0, std::vector<uint8_t>(512, 0)));
    auto zeroed = test::OpenFatImage(image.Path(), 0, true, FatType::Fat32);
    ASSERT_TRUE(zeroed.mounted);
    ExpectReadable(*zeroed.volume);
}

TEST_F(DamagedBootSector, Fat32IsRebuiltFromTheFatCopiesWhenBothBootSectorsAreGone) {
    MtoolsImage image(temp.File("rebuilt32.img"));
    const auto format = MtoolsImage::Format::Of(32, 65536, 1);
    Populate(image, format);
    if (HasFatalFailure()) return;
    auto original = test::OpenFatImage(image.Path());
    ASSERT_TRUE(original.mounted);
    const uint32_t dataStart = original.volume->DataStartSector();
    ASSERT_TRUE(image.Patch(0, std::vector<uint8_t>(512, 0)));
    ASSERT_TRUE(image.Patch(6 * 512, std::vector<uint8_t>(512, 0)));

    // Inside the mount (the FAT type known), and through the loader's FAT16 question with the probe.
    auto inMount = test::OpenFatImage(image.Path(), 0, true, FatType::Fat32);
    ASSERT_TRUE(inMount.mounted);
    EXPECT_TRUE(inMount.volume->Table().Rebuilt());
    EXPECT_EQ(inMount.volume->DataStartSector(), dataStart);
    EXPECT_EQ(inMount.volume->SectorsPerCluster(), 1u);
    ExpectReadable(*inMount.volume);

    auto probed = MountRebuilt(image.Path(), FatType::Fat16, true, BootSectorKind::Fat32);
    ASSERT_TRUE(probed.mounted);
    EXPECT_EQ(probed.volume->GetFatType(), FatType::Fat32);
    EXPECT_EQ(probed.volume->DataStartSector(), dataStart);
    ExpectReadable(*probed.volume);
}

TEST_F(DamagedBootSector, Fat16IsRebuiltFromTheFatCopies) {
    MtoolsImage image(temp.File("rebuilt16.img"));
    const auto format = MtoolsImage::Format::Of(16, 49152, 2);
    Populate(image, format);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(image.Patch(0, std::vector<uint8_t>(512, 0)));
    // The probe sees a 512-slot root directory, so the answer stays FAT16.
    for (bool probe : {false, true}) {
        SCOPED_TRACE(probe);
        auto opened = MountRebuilt(image.Path(), FatType::Fat16, probe, BootSectorKind::Fat1216);
        ASSERT_TRUE(opened.mounted);
        EXPECT_EQ(opened.volume->GetFatType(), FatType::Fat16);
        EXPECT_EQ(opened.volume->SectorsPerCluster(), 2u);
        ExpectReadable(*opened.volume);
    }
}

TEST_F(DamagedBootSector, NothingToRebuildFailsCleanly) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteFileBytes(dir.File("zero.img"), std::vector<uint8_t>(4 << 20, 0)));
    auto opened = test::OpenFatImage(dir.File("zero.img"), 0, false);
    ASSERT_TRUE(opened.opened);
    std::array<uint8_t, 512> rebuilt {};
    for (FatType type : {FatType::Fat12, FatType::Fat16, FatType::Fat32})
        EXPECT_FALSE(ReconstructBootParameters(opened.disk->Device(), 0, type, 8192, true, rebuilt));
    opened.volume->SetDeclaredFatType(FatType::Fat32);
    EXPECT_FALSE(opened.volume->Mount());
    EXPECT_TRUE(opened.volume->RootEntry()->children.empty());
}

TEST(BootParameterRules, PlausibleFatSectorsAndDefaultClusterSizes) {
    std::array<uint8_t, 512> sector {};
    EXPECT_FALSE(IsPlausibleFatSector(sector.data(), FatType::Fat16));
    for (int k = 0; k < 5; ++k) StoreU16(sector.data() + 2 * k, static_cast<uint16_t>(100 + k));
    EXPECT_FALSE(IsPlausibleFatSector(sector.data(), FatType::Fat16));  // 4 pairs: not more than 4
    StoreU16(sector.data() + 10, 105);
    EXPECT_TRUE(IsPlausibleFatSector(sector.data(), FatType::Fat16));
    sector.fill(0);
    for (int k = 0; k < 8; ++k) StoreU32(sector.data() + 4 * k, 5000u + k);
    EXPECT_TRUE(IsPlausibleFatSector(sector.data(), FatType::Fat32));

    const uint64_t MiB = 2048;  // sectors
    EXPECT_EQ(DefaultSectorsPerCluster(FatType::Fat16, 32 * MiB), 1u);
    EXPECT_EQ(DefaultSectorsPerCluster(FatType::Fat16, 33 * MiB), 2u);
    EXPECT_EQ(DefaultSectorsPerCluster(FatType::Fat16, 200 * MiB), 8u);
    EXPECT_EQ(DefaultSectorsPerCluster(FatType::Fat16, 0x7FF00000ull / 512), 64u);
    EXPECT_EQ(DefaultSectorsPerCluster(FatType::Fat16, 4096 * MiB), 128u);
    EXPECT_EQ(DefaultSectorsPerCluster(FatType::Fat32, 100 * MiB), 2u);
    EXPECT_EQ(DefaultSectorsPerCluster(FatType::Fat32, 8192 * MiB), 64u);
}

}  // namespace
}  // namespace tabulon
