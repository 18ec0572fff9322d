#include "fs/volume_reconstruction.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "common/little_endian.h"
#include "fs/directory_tree.h"
#include "fs/disk_node.h"
#include "fs/lost_folder_merge.h"

namespace tabulon {
namespace {

// No slot of a found folder names this cluster: every slot passed the plausibility test, which bounds
// cluster numbers by the device's sector count. A folder without an own cluster is keyed with it so
// that it is never taken for the content of a folder entry.
constexpr uint32_t kNoKey = 0xFFFFFFFFu;

// The value with the most counts; among equal counts the one met first.
template <typename T>
T MostFrequent(const std::vector<T>& values) {
    std::map<T, size_t> counts;
    for (const T& v : values) ++counts[v];
    T best {};
    size_t bestCount = 0;
    for (const T& v : values) {
        const size_t count = counts[v];
        if (count > bestCount) {
            best = v;
            bestCount = count;
        }
    }
    return best;
}

// Folders whose "." cluster is the first cluster of a folder entry inside another found folder become
// that entry's content.
void NestFolders(std::vector<FoundFolder>& folders) {
    for (auto& folder : folders)
        if (folder.ownCluster == 0) folder.start = kNoKey;
    MergeLostFolders(folders, DirectoryTree::kMaxDirectoryDepth);
    for (auto& folder : folders) folder.start = static_cast<uint32_t>(folder.foundSector);
}

}  // namespace

ReconstructedGeometry InferGeometry(const VolumeCandidate& candidate) {
    ReconstructedGeometry result;
    std::vector<uint32_t> sizes;
    for (const auto& folder : candidate.folders)
        if (folder.confirmedSectorsPerCluster != 0) sizes.push_back(folder.confirmedSectorsPerCluster);
    if (sizes.empty()) return result;
    result.sectorsPerCluster = MostFrequent(sizes);

    std::vector<int64_t> votes;
    for (const auto& folder : candidate.folders) {
        if (folder.ownCluster <= 2) continue;
        const int64_t first =
            int64_t(folder.foundSector) - int64_t(folder.ownCluster - 2) * int64_t(result.sectorsPerCluster);
        if (first > 0 && first <= int64_t(UINT32_MAX)) votes.push_back(first);
    }
    if (!votes.empty()) result.firstDataSector = static_cast<uint32_t>(MostFrequent(votes));
    return result;
}

std::unique_ptr<FatVolume> ReconstructVolume(VolumeCandidate&& candidate, SourceDisk& owner, uint64_t deviceEnd) {
    const ReconstructedGeometry geometry = InferGeometry(candidate);
    candidate.clusterSize = geometry.sectorsPerCluster;

    auto volume = std::make_unique<FatVolume>();
    volume->SetOwner(&owner);
    volume->SetDeclaredFatType(FatType::Fat32);
    volume->SetDisplayName(u"FAT32");
    volume->SetTotalSectors(owner.Device().SectorCount());
    volume->SetBootCopyFlag(1);

    constexpr uint32_t kDataStartInVolume = 6;  // 2 reserved sectors and 2 FATs of 2 sectors
    if (geometry.sectorsPerCluster != 0 && geometry.firstDataSector > 9) {
        const uint32_t partitionStart = geometry.firstDataSector - kDataStartInVolume;
        // The folders say where the volume begins but not where it ends: it reaches to the end of the
        // device, so that files stored after the last folder can be read.
        const uint64_t total = deviceEnd > partitionStart ? std::min<uint64_t>(deviceEnd - partitionStart, UINT32_MAX) : 0;
        std::array<uint8_t, 512> boot {};
        StoreU16(&boot[11], 512);
        boot[13] = static_cast<uint8_t>(geometry.sectorsPerCluster);
        StoreU16(&boot[14], 2);
        boot[16] = 2;
        StoreU32(&boot[32], static_cast<uint32_t>(total));
        StoreU32(&boot[36], 2);
        volume->SetPartitionStart(partitionStart);
        volume->Tree().Boot().AssignSector(boot.data());
        volume->Tree().ComputeGeometry(FatType::Fat32);
    }

    NestFolders(candidate.folders);
    FileEntry& root = *volume->RootEntry();
    root.children = std::move(candidate.folders);
    FixParentLinks(root);
    return volume;
}

}  // namespace tabulon
