// The lost-folder scan of a FAT volume: every cluster of the data area is tested for directory content,
// and the folders found outside the live tree are listed under the "Recycle" node.

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "common/little_endian.h"
#include "fs/content_signature_scan.h"
#include "fs/directory_parser.h"
#include "fs/directory_plausibility.h"
#include "fs/directory_slot.h"
#include "fs/fat_volume.h"
#include "fs/lost_folder_merge.h"
#include "fs/name_pool.h"

namespace tabulon {
namespace {

constexpr uint32_t kChunkBytes = 65536;

std::u16string FolderName(uint64_t number) {
    const std::string text = "Folder " + std::to_string(number);
    return std::u16string(text.begin(), text.end());
}

}  // namespace

void FatVolume::ScanLostFolders() {
    try {
        ScanLostFoldersUnguarded();
    } catch (const std::bad_alloc&) {
        // Out of memory: nothing is listed rather than a part that may lack merged folders.
        tree_.Lost().children.clear();
    }
    if (progress_) {
        progress_->SetMax(0);
        progress_->SetPos(0);
    }
}

void FatVolume::ScanLostFoldersUnguarded() {
    const FatGeometry& g = tree_.Geometry();
    const uint32_t c = g.clusterBytes;
    if (!g.valid || c == 0 || device_ == nullptr) return;
    const uint32_t slotsPerCluster = c / kSlotBytes;
    const uint32_t chunkBytes = std::max(kChunkBytes, c);
    const uint32_t clustersPerChunk = chunkBytes / c;
    const uint32_t carryBytes = kContentScanCarrySectors * 512;
    // Clusters 2 .. cluster count + 1 hold data; the scan stops where the device ends.
    const uint64_t end = std::min(g.ClusterLimit(), tree_.DeviceClusterLimit());
    if (progress_) {
        progress_->SetMax(static_cast<int32_t>(g.clusterCount > 2 ? std::min<uint64_t>(g.clusterCount - 2, INT32_MAX) : 0));
        progress_->SetPos(0);
    }

    std::vector<uint8_t> buffer(carryBytes + chunkBytes);
    uint8_t* chunk = buffer.data() + carryBytes;
    bool carryValid = false;
    std::vector<FileEntry> records;

    for (uint64_t k = 2; k < end; k += clustersPerChunk) {
        if (progress_ && progress_->StopRequested()) break;
        if (progress_) progress_->SetPos(static_cast<int32_t>(std::min<uint64_t>(k - 2, progress_->progressMax.load())));
        const uint32_t clusters = static_cast<uint32_t>(std::min<uint64_t>(clustersPerChunk, end - k));
        const uint32_t bytes = clusters * c;
        const uint64_t volumeSector = g.firstDataSector + (k - 2) * g.sectorsPerCluster;
        const uint64_t deviceSector = uint64_t(PartitionStart()) + volumeSector;
        if (!tree_.ReadVolumeSectors(chunk, bytes, volumeSector)) {
            carryValid = false;
            continue;
        }
        // The last sectors of the chunk before are tested again in front of this one, so that a header
        // at the end of one chunk and its workbook start in the next are found, once.
        if (carryValid)
            ScanForCompoundDocuments(buffer.data(), carryBytes + bytes, static_cast<uint32_t>(deviceSector - kContentScanCarrySectors),
                                     kContentScanCarrySectors);
        else
            ScanForCompoundDocuments(chunk, bytes, static_cast<uint32_t>(deviceSector));
        if (bytes >= carryBytes) {
            std::memmove(buffer.data(), chunk + bytes - carryBytes, carryBytes);
            carryValid = true;
        } else {
            carryValid = false;
        }

        for (uint32_t i = 0; i < clusters; ++i) {
            const uint8_t* data = chunk + size_t(i) * c;
            if (!IsPlausibleDirectoryData(data, slotsPerCluster, g.clusterCount, g.fatType, g.dataAreaBytes)) continue;
            const uint32_t cluster = static_cast<uint32_t>(k + i);
            // Clusters of live folders are listed in the live tree already.
            if (tree_.IsClusterUsed(cluster)) continue;
            FileEntry record;
            if (slotsPerCluster >= 2 && StartsWithDotSlots(data)) record.ownCluster = SlotFirstCluster(data, g.fatType);
            record.foundSector = deviceSector + uint64_t(i) * g.sectorsPerCluster;
            record.flags = FileEntryFlags::Deleted | FileEntryFlags::Directory;
            record.attributes = kDirectoryAttribute;
            record.start = cluster;
            if (ParseLostFolderSlots(record, data, slotsPerCluster, g.fatType) == 0) continue;
            record.name = NamePool::Global().Add(FolderName(cluster));
            const FileEntry& first = record.children.front();
            record.creationDate = first.creationDate;
            record.accessDate = first.accessDate;
            record.modificationDate = first.modificationDate;
            record.creationTime = first.creationTime;
            record.modificationTime = first.modificationTime;
            records.push_back(std::move(record));
        }
    }

    MergeLostFolders(records, DirectoryTree::kMaxDirectoryDepth);
    FileEntry& lost = tree_.Lost();
    lost.children = std::move(records);
    FixParentLinks(lost);
}

}  // namespace tabulon
