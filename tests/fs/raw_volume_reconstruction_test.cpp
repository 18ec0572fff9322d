// FAT32 volumes made with mkfs.fat and mtools whose boot sector, reserved area and both FATs are
// zeroed: the raw disk scan finds their folders by content and rebuilds a volume that reads the
// workbooks back.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

#include "common/little_endian.h"
#include "fs/fat_volume.h"
#include "raw_scan_support.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::FindNamed;
using test::RunRawScan;
using test::ShellQuote;
using test::TempDir;

struct Workbook {
    std::string dosPath;  // inside the volume
    std::u16string name;  // the name the volume lists it under
    int rows;
    int seed;
    std::vector<uint8_t> bytes {};
    uint32_t sector = 0;  // where the image holds it
};

struct Fixture {
    uint32_t megabytes;
    uint32_t sectorsPerCluster;
    uint32_t fillerBytes;  // written first into the root, so that the folders lie beyond the zeroed start
    bool rootSurvives;     // the root directory lies past the zeroed start
};

bool Sh(const std::string& command) {
    const auto result = test::RunCommand("MTOOLS_SKIP_CHECK=1 " + command);
    EXPECT_EQ(result.exitStatus, 0) << command << "\n" << result.output;
    return result.exitStatus == 0;
}

// The device sector of a file's first cluster, from mshowfat ("::/A/x.xls <4-14>"); 0 when unknown.
uint32_t FirstSectorOf(const std::string& image, const std::string& dosPath, uint32_t firstDataSector,
                       uint32_t sectorsPerCluster) {
    const auto result = test::RunCommand("MTOOLS_SKIP_CHECK=1 mshowfat -i " + ShellQuote(image) + " " + ShellQuote(dosPath));
    const size_t open = result.output.find('<');
    if (result.exitStatus != 0 || open == std::string::npos) return 0;
    const uint32_t cluster = static_cast<uint32_t>(std::stoul(result.output.substr(open + 1)));
    return cluster < 2 ? 0 : firstDataSector + (cluster - 2) * sectorsPerCluster;
}

std::vector<uint8_t> ReadImageBytes(const std::string& image, uint64_t sector, size_t count) {
    std::vector<uint8_t> bytes(count);
    std::ifstream in(image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(sector * 512));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    if (!in) bytes.clear();
    return bytes;
}

std::vector<Workbook> SampleWorkbooks() {
    return {
        {"::/A/one.xls", u"one.xls", 300, 1},
        {"::/A/second sheet.xls", u"second sheet.xls", 40, 2},
        {"::/B/Sub/deep.xls", u"deep.xls", 120, 3},
        {"::/Long Folder Name/a long workbook name.xls", u"a long workbook name.xls", 800, 4},
        {"::/B/top.xls", u"top.xls", 10, 5},
    };
}

// Makes the volume, stores the workbooks, zeroes the first 8 MiB. False when a tool is missing.
bool MakeDamagedVolume(const TempDir& dir, const Fixture& f, std::vector<Workbook>& workbooks, std::string& image) {
    if (!test::HasProgram("mkfs.fat") || !test::HasProgram("mcopy")) return false;
    image = dir.File("fat32.img");
    const std::string img = ShellQuote(image);
    if (!Sh("truncate -s " + std::to_string(f.megabytes) + "M " + img)) return false;
    if (!Sh("mkfs.fat -F 32 -s " + std::to_string(f.sectorsPerCluster) + " " + img + " >/dev/null 2>&1")) return false;
    if (f.fillerBytes != 0) {
        if (!Sh("head -c " + std::to_string(f.fillerBytes) + " /dev/urandom > " + ShellQuote(dir.File("filler.bin"))))
            return false;
        if (!Sh("mcopy -i " + img + " " + ShellQuote(dir.File("filler.bin")) + " ::/filler.bin")) return false;
    }
    if (!Sh("mmd -i " + img + " ::/A ::/B ::/B/Sub " + ShellQuote("::/Long Folder Name"))) return false;
    for (auto& w : workbooks) {
        const std::string local = dir.File("w" + std::to_string(w.seed) + ".xls");
        if (!test::MakeWorkbook(local, w.rows, 6, 2, w.seed)) return false;
        w.bytes = test::ReadFileBytes(local);
        if (!Sh("mcopy -i " + img + " " + ShellQuote(local) + " " + ShellQuote(w.dosPath))) return false;
    }
    const auto boot = ReadImageBytes(image, 0, 512);
    if (boot.size() != 512) return false;
    const uint32_t firstDataSector = LoadU16(&boot[14]) + boot[16] * LoadU32(&boot[36]);
    for (auto& w : workbooks) {
        w.sector = FirstSectorOf(image, w.dosPath, firstDataSector, f.sectorsPerCluster);
        EXPECT_TRUE(w.sector != 0 && ReadImageBytes(image, w.sector, w.bytes.size()) == w.bytes)
            << "mtools did not store " << w.dosPath << " in one piece";
    }
    // Boot sector, reserved sectors and both FATs are gone.
    if (!Sh("dd if=/dev/zero of=" + img + " bs=1M count=8 conv=notrunc status=none")) return false;
    return true;
}

class RawVolumeReconstruction : public ::testing::TestWithParam<Fixture> {};

TEST_P(RawVolumeReconstruction, RebuildsTheFoldersAndReadsTheWorkbooksBack) {
    const Fixture f = GetParam();
    TempDir dir;
    auto workbooks = SampleWorkbooks();
    std::string image;
    if (!MakeDamagedVolume(dir, f, workbooks, image)) GTEST_SKIP() << "mkfs.fat, mtools and python3-xlwt are needed";

    auto run = RunRawScan(image);
    ASSERT_TRUE(run->result);

    // Every workbook is found by content, once.
    for (const auto& w : workbooks)
        EXPECT_EQ(std::count(run->workbooks.begin(), run->workbooks.end(), w.sector), 1) << w.dosPath;

    ASSERT_GE(run->disk->VolumeCount(), 1);
    FatVolume* volume = nullptr;
    for (int32_t i = 0; i < run->disk->VolumeCount(); ++i) {
        auto* v = dynamic_cast<FatVolume*>(run->disk->Volume(i));
        ASSERT_NE(v, nullptr);
        if (FindNamed(*v->RootEntry(), u"one.xls")) volume = v;
    }
    ASSERT_NE(volume, nullptr) << "no rebuilt volume lists one.xls";
    EXPECT_EQ(volume->GetFatType(), FatType::Fat32);
    EXPECT_EQ(volume->DisplayName(), u"FAT32");
    EXPECT_EQ(volume->SectorsPerCluster(), f.sectorsPerCluster);
    EXPECT_EQ(volume->BootCopyFlag(), 1u);

    const FileEntry& root = *volume->RootEntry();
    for (const auto& folder : root.children) {
        EXPECT_TRUE(folder.Has(FileEntryFlags::RawFound));
        EXPECT_TRUE(folder.IsDirectory());
        EXPECT_EQ(folder.parent, &root);
        EXPECT_EQ(std::u16string(folder.Name()).rfind(u"Folder ", 0), 0u);
    }
    // Folders are nested where their parent folder names them.
    const FileEntry* sub = FindNamed(root, u"Sub");
    ASSERT_NE(sub, nullptr);
    ASSERT_NE(FindNamed(*sub, u"deep.xls"), nullptr);
    // Top folders are named only in the root directory.
    const FileEntry* longFolder = FindNamed(root, u"Long Folder Name");
    if (f.rootSurvives) {
        ASSERT_NE(longFolder, nullptr);
        EXPECT_NE(FindNamed(*longFolder, u"a long workbook name.xls"), nullptr);
        const FileEntry* a = FindNamed(root, u"A");
        ASSERT_NE(a, nullptr);
        EXPECT_NE(FindNamed(*a, u"one.xls"), nullptr);
    } else {
        EXPECT_EQ(longFolder, nullptr);
        const FileEntry* one = FindNamed(root, u"one.xls");
        ASSERT_NE(one, nullptr);
        ASSERT_NE(one->parent, nullptr);
        EXPECT_EQ(one->parent->parent, &root);  // listed in a found folder at the top
    }

    for (const auto& w : workbooks) {
        const FileEntry* entry = FindNamed(root, w.name);
        ASSERT_NE(entry, nullptr) << w.dosPath;
        EXPECT_EQ(entry->size, w.bytes.size()) << w.dosPath;
        EXPECT_EQ(volume->PartitionStart() + volume->ClusterToSector(entry->start), w.sector) << w.dosPath;
        ClusterChain chain;
        ASSERT_TRUE(volume->BuildChain(*entry, chain, nullptr));
        std::vector<uint8_t> data(w.bytes.size());
        ASSERT_TRUE(volume->ReadFileData(*entry, data.data(), data.size(), 0, static_cast<uint32_t>(data.size()), chain))
            << w.dosPath;
        EXPECT_TRUE(data == w.bytes) << w.dosPath;
    }

    // The raw analyser's own roots stay empty: the folders belong to the rebuilt volume.
    EXPECT_TRUE(run->raw->RootEntry()->children.empty());
    EXPECT_TRUE(run->raw->LostEntry()->children.empty());
}

INSTANTIATE_TEST_SUITE_P(Fat32, RawVolumeReconstruction,
                         ::testing::Values(
                             // FATs of 4 MiB each end just past 8 MiB: the root directory survives.
                             Fixture {528, 1, 0, true},
                             // 4 KiB clusters; the root directory lies in the zeroed part, so the
                             // top folders come back as "Folder <sector>".
                             Fixture {272, 8, 9u << 20, false}),
                         [](const auto& param) { return "ClusterSectors" + std::to_string(param.param.sectorsPerCluster); });

TEST(RawVolumeReconstruction, DirectoryOptionOffFindsWorkbooksButNoFolders) {
    TempDir dir;
    auto workbooks = SampleWorkbooks();
    std::string image;
    if (!MakeDamagedVolume(dir, Fixture {272, 8, 9u << 20, false}, workbooks, image))
        GTEST_SKIP() << "mkfs.fat, mtools and python3-xlwt are needed";
    RawScanOptions options;
    options.scanByDirectory = false;
    auto run = RunRawScan(image, options);
    ASSERT_TRUE(run->result);
    EXPECT_EQ(run->disk->VolumeCount(), 0);
    EXPECT_EQ(run->Summary().foldersFound, 0u);
    for (const auto& w : workbooks)
        EXPECT_EQ(std::count(run->workbooks.begin(), run->workbooks.end(), w.sector), 1) << w.dosPath;
}

}  // namespace
}  // namespace tabulon
