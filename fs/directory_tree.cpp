#include "fs/directory_tree.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/little_endian.h"
#include "fs/boot_parameter_reconstruction.h"
#include "fs/boot_sector_kind.h"
#include "fs/directory_parser.h"
#include "fs/directory_slot.h"
#include "fs/fat_volume.h"
#include "fs/name_pool.h"

namespace tabulon {
namespace {

constexpr uint32_t kFat12MaxClusters = 4085;
constexpr uint32_t kSmallFat32TableBytes = 0x40000;
constexpr uint8_t kSystemDirectoryAttributes = 0x16;

void InitRoot(FileEntry& root, const char16_t* name) {
    root.flags = FileEntryFlags::Directory;
    root.start = 2;
    root.parent = nullptr;
    root.name = NamePool::Global().Add(name);
}

}  // namespace

DirectoryTree::DirectoryTree(FatVolume& volume, AllocationTable& table) : volume_(volume), table_(table) {
    InitRoot(root_, u"ROOT");
    InitRoot(lost_, u"Recycle");
}

BootParameters& DirectoryTree::Boot() {
    if (!bootTaken_) TakeBootCopy();
    return boot_;
}

void DirectoryTree::TakeBootCopy() {
    if (VolumeDevice* device = volume_.Device()) boot_.Assign(device->BootSnapshot(), device->BootSnapshotWord60());
    bootTaken_ = true;
}

void DirectoryTree::Clear() {
    root_.children.clear();
    lost_.children.clear();
    root_.flags = lost_.flags = FileEntryFlags::Directory;
    loadedLive_.clear();
    loadedDeleted_.clear();
}

bool DirectoryTree::ReadVolumeSectors(void* buffer, uint32_t byteCount, uint64_t volumeSector) {
    VolumeDevice* device = volume_.Device();
    const uint64_t sector = uint64_t(volume_.PartitionStart()) + volumeSector;
    if (device == nullptr || buffer == nullptr || sector > 0xFFFFFFFFu || byteCount > 0x7FFFFFFFu) return false;
    // A read that meets the end of the device stops there; what lies beyond reads as zeros rather than
    // as whatever the buffer held before.
    if (sector + (byteCount + 511) / 512 > device->SectorCount()) std::memset(buffer, 0, byteCount);
    return device->Read(buffer, static_cast<int32_t>(byteCount), static_cast<uint32_t>(sector));
}

uint64_t DirectoryTree::DeviceClusterLimit() const {
    VolumeDevice* device = volume_.Device();
    if (device == nullptr || geometry_.sectorsPerCluster == 0) return 2;
    const uint64_t dataStart = uint64_t(volume_.PartitionStart()) + geometry_.firstDataSector;
    const uint64_t deviceSectors = device->SectorCount();
    if (deviceSectors <= dataStart) return 2;
    return (deviceSectors - dataStart + geometry_.sectorsPerCluster - 1) / geometry_.sectorsPerCluster + 2;
}

bool DirectoryTree::RepairBootParameters(FatType type, uint64_t totalSectorsHint) {
    if (boot_.HasUsableCoreFields()) return true;
    VolumeDevice* device = volume_.Device();
    if (type == FatType::Fat32) {
        std::vector<uint8_t> backup(512);
        if (ReadVolumeSectors(backup.data(), 512, 6)) {
            BootParameters candidate;
            candidate.AssignSector(backup.data());
            if (candidate.HasUsableCoreFields(64)) boot_.AssignFirst60(backup.data());
        }
    }
    if (boot_.HasUsableCoreFields()) return true;
    if (device == nullptr) return false;
    uint64_t total = totalSectorsHint;
    if (total == 0 && device->SectorCount() > volume_.PartitionStart())
        total = device->SectorCount() - volume_.PartitionStart();
    std::array<uint8_t, 512> rebuilt {};
    const FatType rebuildType = type == FatType::Fat12 ? FatType::Fat16 : type;
    if (!ReconstructBootParameters(*device, volume_.PartitionStart(), rebuildType,
                                   static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFFFFu)), false, rebuilt))
        return false;
    boot_.AssignFirst60(rebuilt.data());
    table_.SetRebuilt(true);
    return true;
}

bool DirectoryTree::ComputeGeometry(FatType declaredType) {
    geometry_ = FatGeometry {};
    FatGeometry g;
    g.partitionStart = volume_.PartitionStart();
    const BootParameters& b = Boot();
    FatType type = declaredType;
    if (type == FatType::None) {
        // Nobody said: the boot parameters decide.
        std::array<uint8_t, 512> sector {};
        std::memcpy(sector.data(), b.Bytes().data(), BootParameters::kCopyBytes);
        StoreU16(sector.data() + 60, b.Word60());
        const BootSectorKind kind = ClassifyBootSector(sector.data());
        type = kind == BootSectorKind::Fat32 ? FatType::Fat32 : kind == BootSectorKind::Fat1216 ? FatType::Fat16 : type;
    }
    if (type == FatType::None) return false;
    if (b.BytesPerSector() == 0 || b.BytesPerSector() % 512 != 0) return false;
    if (!IsPowerOfTwoUpTo(b.SectorsPerCluster(), 128)) return false;
    g.sectorsPerCluster = b.SectorsPerCluster();
    g.clusterBytes = b.BytesPerSector() * g.sectorsPerCluster;
    if (g.clusterBytes == 0) return false;
    g.firstFatSector = b.ReservedSectors();

    auto finish = [&](uint32_t total) {
        g.totalSectors = total;
        g.clusterCount = total > g.firstDataSector ? (total - g.firstDataSector) / g.sectorsPerCluster : 0;
        g.dataAreaBytes = uint64_t(g.clusterBytes) * g.clusterCount;
    };
    if (type == FatType::Fat32) {
        g.sectorsPerFat = b.SectorsPerFat32();
        const uint64_t dataStart = uint64_t(b.ReservedSectors()) + uint64_t(b.FatCount()) * b.SectorsPerFat32();
        if (dataStart > 0xFFFFFFFFu) return false;
        g.rootDirectoryStart = g.firstDataSector = static_cast<uint32_t>(dataStart);
        g.rootCluster = b.RootCluster() <= 2 ? 2 : b.RootCluster();
        finish(b.TotalSectors32());
    } else {
        g.sectorsPerFat = b.SectorsPerFat16();
        g.rootDirectoryStart = b.ReservedSectors() + uint32_t(b.FatCount()) * b.SectorsPerFat16();
        g.rootEntries = b.RootEntries();
        // Whole sectors of 16 slots; a partly used last sector still belongs to the root directory.
        g.firstDataSector = g.rootDirectoryStart + (g.rootEntries + 15) / 16;
        const uint32_t total16 = b.TotalSectors32() != 0 ? b.TotalSectors32() : b.SmallTotalSectors();
        finish(total16);
        if (g.clusterCount < kFat12MaxClusters) {
            type = FatType::Fat12;
            finish(b.SmallTotalSectors() != 0 ? b.SmallTotalSectors() : b.TotalSectors32());
        }
    }
    g.fatType = type;
    g.valid = true;
    geometry_ = g;
    table_.Configure(type, volume_.Device(), g.partitionStart);
    table_.SetLayout(g.firstFatSector, g.sectorsPerFat);
    return true;
}

std::vector<uint32_t> DirectoryTree::RootChain() {
    std::vector<uint32_t> chain;
    if (geometry_.fatType != FatType::Fat32 || geometry_.clusterBytes == 0) return chain;
    const uint32_t maxClusters = std::max<uint32_t>(1, kMaxDirectoryBytes / geometry_.clusterBytes);
    std::unordered_set<uint32_t> visited;
    uint32_t c = geometry_.rootCluster;
    while (c >= 2 && c < 0x0FFFFFFF && c != 0x0FFFFFF8 && c < geometry_.ClusterLimit() && !visited.count(c) &&
           chain.size() < maxClusters) {
        visited.insert(c);
        chain.push_back(c);
        c = table_.NextCluster(c);
    }
    return chain;
}

bool DirectoryTree::ReadRootDirectory(std::vector<uint8_t>& buffer) {
    if (geometry_.fatType != FatType::Fat32) {
        const uint32_t sectors = geometry_.firstDataSector - geometry_.rootDirectoryStart;
        buffer.assign(size_t(sectors) * 512, 0);
        for (uint32_t i = 0; i < sectors; ++i)
            if (!ReadVolumeSectors(buffer.data() + size_t(i) * 512, 512, uint64_t(geometry_.rootDirectoryStart) + i))
                return false;
        return true;
    }
    const std::vector<uint32_t> chain = RootChain();
    buffer.assign(chain.size() * size_t(geometry_.clusterBytes), 0);
    for (size_t i = 0; i < chain.size(); ++i) {
        MarkClusterUsed(chain[i]);
        uint8_t* target = buffer.data() + i * geometry_.clusterBytes;
        if (!volume_.ReadCluster(chain[i], target)) std::memset(target, 0x09, geometry_.clusterBytes);
    }
    geometry_.rootEntries = static_cast<uint32_t>(buffer.size() / kSlotBytes);
    return true;
}

void DirectoryTree::MoveSystemDirectoriesBack() {
    // Passes of neighbour swaps until none is left put every hidden-system folder (attributes exactly
    // 0x16) of the leading run of folders behind the other folders, each group in its own order: a
    // stable partition does the same in one pass.
    auto& children = root_.children;
    auto end = std::find_if(children.begin(), children.end(), [](const FileEntry& e) { return !e.IsDirectory(); });
    std::stable_partition(children.begin(), end,
                          [](const FileEntry& e) { return e.attributes != kSystemDirectoryAttributes; });
}

bool DirectoryTree::Mount(FatType declaredType, uint64_t totalSectorsHint) {
    Clear();
    geometry_ = FatGeometry {};
    usedMap_.clear();
    VolumeDevice* device = volume_.Device();
    if (device == nullptr) return false;
    if (!device->ReadBootSector(volume_.PartitionStart())) return false;
    TakeBootCopy();
    table_.SetRebuilt(false);
    table_.ReleaseWholeTable();
    if (!RepairBootParameters(declaredType, totalSectorsHint)) return false;
    if (!ComputeGeometry(declaredType)) return false;

    try {
        const uint64_t specBits = geometry_.fatType == FatType::Fat32 ? uint64_t(Boot().SectorsPerFat32()) * 128
                                                                       : geometry_.totalSectors / geometry_.sectorsPerCluster;
        const uint64_t neededBits = std::min(geometry_.ClusterLimit(), DeviceClusterLimit());
        const uint64_t mapBytes = std::min(specBits / 8, (neededBits + 7) / 8);
        usedMap_.assign(mapBytes, 0);

        std::vector<uint8_t> rootData;
        if (!ReadRootDirectory(rootData)) return false;
        const size_t slots = std::min<size_t>(geometry_.rootEntries, rootData.size() / kSlotBytes);
        ParseDirectory(root_, rootData.data(), slots);
        const bool damaged = std::any_of(root_.children.begin(), root_.children.end(), [](const FileEntry& e) {
            return e.IsDirectory() && e.start >= 0x80000000u && e.size != 0;
        });
        if (damaged) {
            root_.children.clear();
            std::vector<uint8_t> cluster(geometry_.clusterBytes);
            if (ReadVolumeSectors(cluster.data(), geometry_.clusterBytes,
                                  uint64_t(geometry_.rootDirectoryStart) + geometry_.sectorsPerCluster))
                ParseDirectory(root_, cluster.data(), geometry_.clusterBytes / kSlotBytes);
        }
        MoveSystemDirectoriesBack();
        FixParentLinks(root_);

        if (!table_.LoadWholeTable()) {
            Clear();
            return false;
        }
        const bool smallFat32Table =
            geometry_.fatType == FatType::Fat32 && uint64_t(Boot().SectorsPerFat32()) * 512 < kSmallFat32TableBytes;
        std::vector<uint32_t> ancestors;
        if (geometry_.fatType == FatType::Fat32) ancestors.push_back(geometry_.rootCluster);
        LoadChildren(root_, ancestors, 1, geometry_.fatType != FatType::Fat32 || smallFat32Table);
        table_.ReleaseWholeTable();
        root_.flags |= FileEntryFlags::Loaded;
        return true;
    } catch (const std::bad_alloc&) {
        table_.ReleaseWholeTable();
        Clear();
        return false;
    }
}

bool DirectoryTree::ParseDirectory(FileEntry& parent, const uint8_t* slots, size_t slotCount) {
    return ParseDirectorySlots(parent, slots, slotCount, geometry_.fatType, scratch_);
}

std::vector<uint32_t> DirectoryTree::DirectoryClusters(const FileEntry& entry) {
    std::vector<uint32_t> clusters;
    const uint64_t limit = geometry_.ClusterLimit();
    if (entry.start < 2 || entry.start >= limit) return clusters;
    if (entry.IsDeleted()) {
        clusters.push_back(entry.start);
        return clusters;
    }
    const uint32_t maxClusters = std::max<uint32_t>(1, kMaxDirectoryBytes / geometry_.clusterBytes);
    std::unordered_set<uint32_t> visited;
    uint32_t c = entry.start;
    while (true) {
        visited.insert(c);
        clusters.push_back(c);
        MarkClusterUsed(c);
        if (clusters.size() >= maxClusters) break;
        const uint32_t next = table_.NextCluster(c);
        if (!AllocationTable::ContinuesDirectoryChain(geometry_.fatType, next) || next >= limit || visited.count(next))
            break;
        c = next;
    }
    return clusters;
}

bool DirectoryTree::LoadSubdirectory(FileEntry& entry) {
    std::vector<uint32_t> ancestors;
    if (geometry_.fatType == FatType::Fat32) ancestors.push_back(geometry_.rootCluster);
    int depth = 1;
    for (const FileEntry* p = entry.parent; p != nullptr; p = p->parent) {
        if (p->parent != nullptr) ancestors.push_back(p->start);
        ++depth;
    }
    return LoadSubdirectoryAt(entry, ancestors, depth);
}

bool DirectoryTree::LoadSubdirectoryAt(FileEntry& entry, std::vector<uint32_t>& ancestors, int depth) {
    entry.flags |= FileEntryFlags::Loaded;
    if (geometry_.clusterBytes == 0) return false;
    std::unordered_set<uint32_t>& loaded = entry.IsDeleted() ? loadedDeleted_ : loadedLive_;
    if (loaded.count(entry.start)) return false;
    const std::vector<uint32_t> clusters = DirectoryClusters(entry);
    if (clusters.empty()) return false;
    loaded.insert(entry.start);

    {
        // The folder's data is freed before its subfolders are loaded, so that a deep tree holds one
        // folder's clusters at a time.
        std::vector<uint8_t> data;
        try {
            data.resize(clusters.size() * size_t(geometry_.clusterBytes));
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (size_t i = 0; i < clusters.size(); ++i)
            if (!volume_.ReadCluster(clusters[i], data.data() + i * geometry_.clusterBytes)) return false;
        // A folder's data starts with its "." and ".." slots; a cluster without them is not this
        // folder's (reused after deletion, or a damaged first-cluster field), and parsing it would list
        // strangers.
        if (data.size() < 2 * kSlotBytes || !StartsWithDotSlots(data.data())) return false;
        if (!ParseDirectory(entry, data.data(), data.size() / kSlotBytes)) return false;
    }
    LoadChildren(entry, ancestors, depth + 1, geometry_.fatType != FatType::Fat32);
    return true;
}

void DirectoryTree::LoadChildren(FileEntry& entry, std::vector<uint32_t>& ancestors, int depth, bool deletedAllowed) {
    for (auto& child : entry.children) child.parent = &entry;
    if (&entry != &root_) ancestors.push_back(entry.start);
    for (auto& child : entry.children) {
        if (!child.IsDirectory()) continue;
        if (child.IsDeleted() && !deletedAllowed) continue;
        // The fixed root of FAT12/16 has no cluster of its own, so cluster 2 is an ordinary folder there.
        const bool loop = (&entry != &root_ && child.start == entry.start) ||
                          std::find(ancestors.begin(), ancestors.end(), child.start) != ancestors.end();
        if (loop || depth >= kMaxDirectoryDepth) {
            child.flags |= FileEntryFlags::Loaded;
            continue;
        }
        LoadSubdirectoryAt(child, ancestors, depth);
    }
    if (&entry != &root_) ancestors.pop_back();
}

void DirectoryTree::MarkClusterUsed(uint32_t c) {
    if (c / 8 < usedMap_.size()) usedMap_[c / 8] |= static_cast<uint8_t>(1u << (c % 8));
}

bool DirectoryTree::IsClusterUsed(uint32_t c) const {
    return c / 8 < usedMap_.size() && (usedMap_[c / 8] & (1u << (c % 8))) != 0;
}

}  // namespace tabulon
