// Finding folders in raw windows and grouping them into candidate volumes, on byte-built sectors.

#include <gtest/gtest.h>

#include <cstring>

#include "common/little_endian.h"
#include "fs/directory_run_search.h"
#include "fs/volume_candidates.h"
#include "fs/volume_reconstruction.h"
#include "support/fat_image_builder.h"

namespace tabulon {
namespace {

using test::FatImageBuilder;

// ---- grouping ---------------------------------------------------------------------------------------

FoundFolder Folder(uint32_t start, uint32_t own, uint32_t confirmed, int children = 1) {
    FoundFolder f;
    f.flags = FileEntryFlags::Deleted | FileEntryFlags::Directory | FileEntryFlags::RawFound;
    f.start = start;
    f.foundSector = start;
    f.ownCluster = own;
    f.confirmedSectorsPerCluster = confirmed;
    f.children.resize(static_cast<size_t>(children));
    return f;
}

std::vector<uint32_t> Sizes(const std::vector<FoundFolder>& folders) {
    std::vector<uint32_t> sizes;
    for (const auto& f : folders) sizes.push_back(f.confirmedSectorsPerCluster);
    return sizes;
}

TEST(SmoothConfirmedClusterSizes, DropsLoneMisreadings) {
    struct Case {
        std::vector<uint32_t> before;
        std::vector<uint32_t> after;
    };
    const Case cases[] = {
        {{8, 16, 8, 8}, {8, 0, 8, 8}},
        {{8, 8, 16, 8, 8}, {8, 8, 0, 8, 8}},
        {{8, 16, 8}, {8, 16, 8}},             // three folders are too few to judge
        {{8, 16, 16, 8}, {8, 16, 16, 8}},     // two in a row agree with each other
        {{0, 8, 0, 0}, {0, 8, 0, 0}},         // neighbours without a size say nothing against it
        {{8, 16, 8, 16, 8}, {8, 0, 8, 0, 8}},  // a dropped size no longer counts as the one before
    };
    for (const auto& c : cases) {
        std::vector<FoundFolder> folders;
        for (uint32_t size : c.before) folders.push_back(Folder(1000, 5, size));
        SmoothConfirmedClusterSizes(folders);
        EXPECT_EQ(Sizes(folders), c.after) << ::testing::PrintToString(c.before);
    }
}

// Folder at cluster `own` of a volume whose cluster 0 lies at `origin`, with `size` sectors per cluster.
FoundFolder At(int64_t origin, uint32_t size, uint32_t own, bool confirmed, int children = 1) {
    return Folder(static_cast<uint32_t>(origin + int64_t(size) * own), own, confirmed ? size : 0, children);
}

std::vector<size_t> GroupSizes(const std::vector<VolumeCandidate>& candidates) {
    std::vector<size_t> sizes;
    for (const auto& c : candidates) sizes.push_back(c.folders.size());
    return sizes;
}

TEST(GroupFoundFolders, TwoVolumesStayApart) {
    std::vector<FoundFolder> folders;
    folders.push_back(At(10000, 8, 5, false));
    folders.push_back(At(10000, 8, 9, true));
    folders.push_back(At(10000, 8, 12, true));
    folders.push_back(At(500000, 4, 3, true));
    folders.push_back(At(500000, 4, 7, true));
    auto candidates = GroupFoundFolders(std::move(folders), 1);
    ASSERT_EQ(GroupSizes(candidates), (std::vector<size_t> {3, 2}));
    EXPECT_EQ(candidates[0].clusterSize, 8u);
    EXPECT_EQ(candidates[0].origin, 10000);
    EXPECT_EQ(candidates[0].firstStart, 10000u + 8 * 9);  // counted from the first folder with a size
    EXPECT_EQ(candidates[1].clusterSize, 4u);
    EXPECT_EQ(candidates[1].origin, 500000);
}

TEST(GroupFoundFolders, UnknownClusterSizeIsDropped) {
    std::vector<FoundFolder> folders;
    folders.push_back(At(10000, 8, 5, false, 4));
    folders.push_back(Folder(20000, 0, 0, 3));
    EXPECT_TRUE(GroupFoundFolders(std::move(folders), 1).empty());
}

TEST(GroupFoundFolders, LightGroupsJoinTheKeptOneBefore) {
    std::vector<FoundFolder> folders;
    folders.push_back(At(10000, 8, 5, true, 2));
    folders.push_back(At(10000, 8, 9, true, 2));
    folders.push_back(At(70000, 8, 4, true, 1));  // another origin, too light on its own
    auto candidates = GroupFoundFolders(std::move(folders), 3);
    ASSERT_EQ(GroupSizes(candidates), (std::vector<size_t> {3}));
    EXPECT_EQ(candidates[0].origin, 10000);

    // With nothing kept before it, a light group is dropped.
    std::vector<FoundFolder> light;
    light.push_back(At(10000, 8, 5, true, 1));
    EXPECT_TRUE(GroupFoundFolders(std::move(light), 3).empty());
}

TEST(GroupFoundFolders, LaterGroupsOfTheSameVolumeAreAbsorbed) {
    std::vector<FoundFolder> folders;
    folders.push_back(At(10000, 8, 5, true, 2));
    folders.push_back(At(900000, 4, 5, true, 2));  // another volume in between
    folders.push_back(At(900000, 4, 9, true, 2));
    folders.push_back(At(10000, 8, 400000, true, 2));  // the first volume again, further on
    auto candidates = GroupFoundFolders(std::move(folders), 1);
    ASSERT_EQ(GroupSizes(candidates), (std::vector<size_t> {2, 2}));
    EXPECT_EQ(candidates[0].origin, 10000);
    EXPECT_EQ(candidates[0].folders[1].ownCluster, 400000u);
    EXPECT_EQ(candidates[1].origin, 900000);
}

TEST(InferGeometry, MostFrequentSizeAndFirstDataSector) {
    VolumeCandidate candidate;
    candidate.folders.push_back(At(10000, 8, 5, true));
    candidate.folders.push_back(At(10000, 8, 9, true));
    candidate.folders.push_back(At(10000, 8, 2, false));  // the root's cluster: no vote
    candidate.folders.push_back(At(10000, 16, 7, true));  // a misreading
    const auto g = InferGeometry(candidate);
    EXPECT_EQ(g.sectorsPerCluster, 8u);
    EXPECT_EQ(g.firstDataSector, 10000u + 16);  // cluster 2
}

// ---- directory runs ---------------------------------------------------------------------------------

constexpr size_t kWindow = 2048;
constexpr uint32_t kWindowStart = 100000;

struct Window {
    std::vector<uint8_t> bytes = std::vector<uint8_t>((kWindow + 64) * 512, 0);
    uint8_t* Sector(size_t i) { return bytes.data() + i * 512; }
    void Slot(size_t sector, size_t index, const test::DirectorySlot& slot) {
        std::memcpy(Sector(sector) + index * 32, slot.data(), 32);
    }
    // A sector no directory test accepts.
    void Data(size_t sector) { std::memset(Sector(sector), 0xA7, 512); }
    // "." and ".." slots, then `files` short file entries.
    void Directory(size_t sector, uint32_t own, uint32_t parent, int files, const std::string& prefix = "F") {
        Slot(sector, 0, FatImageBuilder::ShortSlot(".          ", 0x10, own, 0));
        Slot(sector, 1, FatImageBuilder::ShortSlot("..         ", 0x10, parent, 0));
        Entries(sector, 2, files, prefix);
    }
    void Entries(size_t sector, size_t first, int files, const std::string& prefix) {
        for (int i = 0; i < files; ++i) {
            std::string name = prefix + std::to_string(i);
            name.resize(8, ' ');
            Slot(sector, first + size_t(i), FatImageBuilder::ShortSlot(name + "XLS", 0x20, 5000 + uint32_t(i), 1000));
        }
    }
};

TEST(DirectoryRunSearch, FoldersClusterSizesAndConfirmation) {
    Window w;
    // Clusters of 4 sectors, cluster 0 at device sector kWindowStart - 390.
    const int64_t origin = int64_t(kWindowStart) - 390;
    auto sectorOf = [&](uint32_t cluster) { return size_t(origin + 4 * int64_t(cluster) - kWindowStart); };
    w.Directory(sectorOf(100), 100, 0, 3);  // one used sector, three zero sectors, then data
    w.Data(sectorOf(101));
    w.Directory(sectorOf(105), 105, 100, 2);
    w.Data(sectorOf(106));
    // A sector that holds only a volume label names no files: no folder.
    w.Slot(300, 0, FatImageBuilder::ShortSlot("EMPTYDIRVOL", 0x08, 0, 0));

    DirectoryRunSearch search(4000000);
    std::vector<FoundFolder> found;
    search.SearchWindow(w.bytes.data(), kWindow, kWindow + 64, kWindowStart, found);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].start, kWindowStart + sectorOf(100));
    EXPECT_EQ(found[0].ownCluster, 100u);
    EXPECT_EQ(found[0].confirmedSectorsPerCluster, 0u);  // nothing to agree with yet
    EXPECT_EQ(found[0].ChildCount(), 3);
    const std::string expectedName = "Folder " + std::to_string(found[0].start);
    EXPECT_EQ(found[0].Name(), std::u16string(expectedName.begin(), expectedName.end()));
    EXPECT_TRUE(found[0].Has(FileEntryFlags::RawFound | FileEntryFlags::Deleted | FileEntryFlags::Directory));
    EXPECT_EQ(found[1].ownCluster, 105u);
    EXPECT_EQ(found[1].parentCluster, 100u);
    EXPECT_EQ(found[1].confirmedSectorsPerCluster, 4u);
    EXPECT_EQ(FolderOrigin(found[1]), origin);
}

TEST(DirectoryRunSearch, OneSectorClustersSideBySideAreTwoFolders) {
    Window w;
    w.Directory(40, 500, 2, 2, "A");
    w.Directory(41, 501, 2, 3, "B");
    w.Directory(42, 502, 2, 1, "C");
    w.Data(43);
    DirectoryRunSearch search(4000000);
    std::vector<FoundFolder> found;
    search.SearchWindow(w.bytes.data(), kWindow, kWindow + 64, kWindowStart, found);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].ChildCount(), 2);
    EXPECT_EQ(found[1].ChildCount(), 3);
    EXPECT_EQ(found[2].ChildCount(), 1);
    EXPECT_EQ(found[1].confirmedSectorsPerCluster, 1u);
    EXPECT_EQ(found[2].confirmedSectorsPerCluster, 1u);
}

TEST(DirectoryRunSearch, RunAcrossTheWindowBoundaryIsOneFolder) {
    // A folder of 4 sectors that begins two sectors before the end of the window.
    std::vector<uint8_t> device((kWindow * 2 + 64) * 512, 0);
    auto sector = [&](size_t i) { return device.data() + i * 512; };
    Window first;
    first.Directory(2046, 300, 2, 14, "P");
    first.Entries(2047, 0, 16, "Q");
    first.Entries(2048, 0, 16, "R");
    first.Entries(2049, 0, 5, "S");
    first.Data(2050);
    std::memcpy(device.data(), first.bytes.data(), first.bytes.size());

    DirectoryRunSearch search(4000000);
    std::vector<FoundFolder> found;
    search.SearchWindow(sector(0), kWindow, kWindow + 64, kWindowStart, found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].ChildCount(), 14 + 16 + 16 + 5);
    // The next window begins with the rest of that folder: it is not listed a second time.
    search.SearchWindow(sector(kWindow), kWindow, kWindow + 64, kWindowStart + kWindow, found);
    EXPECT_EQ(found.size(), 1u);
    // After a skipped window nothing is held back.
    search.Discontinue();
    search.SearchWindow(sector(kWindow), kWindow, kWindow + 64, kWindowStart + kWindow, found);
    EXPECT_EQ(found.size(), 2u);
}

}  // namespace
}  // namespace tabulon
