#include "fs/fat_volume.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

#include "fs/read_success_flag.h"

namespace tabulon {

FatVolume::FatVolume() : tree_(*this, table_) {}

FatVolume::~FatVolume() = default;

bool FatVolume::Mount() {
    const FatType declared = DeclaredFatType();
    SetDisplayName(declared == FatType::Fat12   ? u"FAT12"
                   : declared == FatType::Fat16 ? u"FAT16"
                   : declared == FatType::Fat32 ? u"FAT32"
                                                : u"FAT??");
    const bool mounted = tree_.Mount(declared, TotalSectors());
    // FAT12 is told apart from FAT16 only now, by the cluster count.
    if (tree_.Geometry().valid) {
        SetDeclaredFatType(tree_.Geometry().fatType);
        SetDisplayName(tree_.Geometry().fatType == FatType::Fat12   ? u"FAT12"
                       : tree_.Geometry().fatType == FatType::Fat16 ? u"FAT16"
                                                                    : u"FAT32");
    }
    return mounted;
}

bool FatVolume::ApplyBootParameters() {
    tree_.TakeBootCopy();
    return tree_.ComputeGeometry(DeclaredFatType());
}

void FatVolume::AttachToDisk() {
    table_.SetDevice(device_);
}

void FatVolume::SetPartitionStart(uint32_t sector) {
    VolumeAnalyser::SetPartitionStart(sector);
    table_.SetPartitionStart(sector);
}

FatType FatVolume::GetFatType() const {
    return tree_.Geometry().valid ? tree_.Geometry().fatType : DeclaredFatType();
}

uint32_t FatVolume::DataStartSector() const { return tree_.Geometry().firstDataSector; }

uint32_t FatVolume::ClusterBytes() const { return tree_.Geometry().clusterBytes; }

uint32_t FatVolume::SectorsPerCluster() const { return tree_.Geometry().sectorsPerCluster; }

void FatVolume::SetSectorsPerCluster(uint32_t n) {
    if (!IsPowerOfTwoUpTo(n, 128)) return;
    tree_.Boot().SetSectorsPerCluster(static_cast<uint8_t>(n));
    if (tree_.Geometry().valid) tree_.ComputeGeometry(tree_.Geometry().fatType);
}

uint32_t FatVolume::ClusterToSector(uint32_t cluster) const {
    const FatGeometry& g = tree_.Geometry();
    if (cluster > 1 && device_ != nullptr)
        return static_cast<uint32_t>(g.firstDataSector + uint64_t(g.sectorsPerCluster) * (cluster - 2));
    return g.firstDataSector;
}

uint32_t FatVolume::SectorToCluster(uint32_t sector) const {
    const FatGeometry& g = tree_.Geometry();
    if (sector < g.firstDataSector || device_ == nullptr) return 2;
    if (g.sectorsPerCluster == 0) return 0;
    return (sector - g.firstDataSector) / g.sectorsPerCluster + 2;
}

bool FatVolume::ReadSectors(uint8_t* buffer, uint32_t byteCount, uint32_t clusterOrSector, bool absolute) {
    if (buffer == nullptr || device_ == nullptr || device_->Kind() != VolumeDevice::kDeviceKind) return false;
    if (absolute) return tree_.ReadVolumeSectors(buffer, byteCount, clusterOrSector);
    if (clusterOrSector < 2) return false;
    const FatGeometry& g = tree_.Geometry();
    return tree_.ReadVolumeSectors(buffer, byteCount,
                                   g.firstDataSector + uint64_t(g.sectorsPerCluster) * (clusterOrSector - 2));
}

bool FatVolume::ReadCluster(uint32_t cluster, uint8_t* buffer, int16_t sectorBias) {
    const FatGeometry& g = tree_.Geometry();
    if (g.clusterBytes == 0) return false;
    const uint64_t c = std::max<uint32_t>(cluster, 2);
    const int64_t sector = int64_t(g.firstDataSector) + int64_t(g.sectorsPerCluster) * int64_t(c - 2) + sectorBias;
    if (sector < 0) return false;
    return tree_.ReadVolumeSectors(buffer, g.clusterBytes, static_cast<uint64_t>(sector));
}

bool FatVolume::BuildChain(const FileEntry& entry, ClusterChain& chain, uint32_t* extra) {
    if (extra) *extra = 0;
    if (entry.Has(FileEntryFlags::ContentFound)) {
        if (entry.runs)
            for (const auto& run : entry.runs->Runs()) chain.Append(run.start, run.count);
        return true;
    }
    const FatGeometry& g = tree_.Geometry();
    if (g.clusterBytes == 0) return false;
    const FatType type = g.fatType;
    const uint64_t limit = g.ClusterLimit();

    auto follow = [&](uint32_t first) {
        std::unordered_set<uint32_t> seen;
        uint32_t c = first;
        while (true) {
            seen.insert(c);
            chain.Append(c, 1);
            const uint32_t next = table_.NextCluster(c);
            // A value past the last cluster cannot hold data; a cluster already in the chain would
            // make it loop.
            if (!AllocationTable::ContinuesFileChain(type, next) || next >= limit || seen.count(next)) break;
            c = next;
        }
    };

    if (IsRootNode(entry)) {
        if (type == FatType::Fat32) {
            if (g.rootCluster >= 2 && g.rootCluster < limit) follow(g.rootCluster);
        } else {
            const uint64_t bytes = uint64_t(g.rootEntries) * 32;
            const uint64_t pieces = (bytes + g.clusterBytes - 1) / g.clusterBytes;
            for (uint64_t i = 0; i < pieces; ++i) chain.Append(static_cast<uint32_t>(2 + i), 1);
        }
        return true;
    }
    if (entry.IsDeleted()) {
        if (entry.IsDirectory()) {
            chain.Append(entry.start, 1);
            return true;
        }
        // Contiguity is assumed for deleted files; the clusters end at the end of the volume.
        const uint64_t count = entry.size / g.clusterBytes + 1;
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t c = uint64_t(entry.start) + i;
            if (c >= limit && i > 0) break;
            chain.Append(static_cast<uint32_t>(c), 1);
        }
        return true;
    }
    const int32_t before = chain.Count();
    if (entry.start >= 2 && entry.start < limit) follow(entry.start);
    else if (entry.size == 0) return true;
    else chain.Append(entry.start, 1);
    const uint64_t runs = uint64_t(chain.Count() - before);
    return uint64_t(g.clusterBytes) * runs >= entry.size;
}

bool FatVolume::ReadFileData(const FileEntry& entry, uint8_t* buffer, size_t bufferSize, uint64_t offset,
                             uint32_t count, const ClusterChain& chain) {
    if (device_ == nullptr || buffer == nullptr || bufferSize == 0) return false;
    if (count > bufferSize) return false;
    if (count == 0) return true;
    if (entry.Has(FileEntryFlags::ContentFound)) {
        uint8_t sector[512];
        uint64_t skip = offset / 512;
        size_t within = static_cast<size_t>(offset % 512);
        size_t done = 0;
        for (const auto& run : chain.Runs()) {
            if (skip >= run.count) {
                skip -= run.count;
                continue;
            }
            for (uint64_t i = skip; i < run.count && done < count; ++i) {
                if (!tree_.ReadVolumeSectors(sector, 512, uint64_t(run.start) + i)) {
                    ReadSuccessFlag().store(false);
                    return false;
                }
                const size_t n = std::min<size_t>(512 - within, count - done);
                std::memcpy(buffer + done, sector + within, n);
                done += n;
                within = 0;
            }
            skip = 0;
            if (done == count) return true;
        }
        return done == count;
    }
    const FatGeometry& g = tree_.Geometry();
    if (g.clusterBytes == 0) return false;
    const uint64_t cb = g.clusterBytes;
    if (cb * uint64_t(chain.Count()) < offset + count) return false;
    std::vector<uint8_t> cluster(cb);
    const int16_t bias = entry.Has(FileEntryFlags::SectorBias) ? entry.sectorBias : int16_t(0);
    const uint64_t firstIndex = offset / cb;
    const uint64_t lastIndex = (offset + count - 1) / cb;
    size_t done = 0;
    size_t within = static_cast<size_t>(offset % cb);
    for (uint64_t index = firstIndex; index <= lastIndex; ++index) {
        if (!ReadCluster(chain.At(static_cast<int32_t>(index)).start, cluster.data(), bias)) {
            ReadSuccessFlag().store(false);
            return false;
        }
        const size_t n = std::min<size_t>(cb - within, count - done);
        std::memcpy(buffer + done, cluster.data() + within, n);
        done += n;
        within = 0;
    }
    return true;
}

bool FatVolume::GetSizes(const FileEntry& entry, ClusterChain& chain, uint64_t& allocatedOut, uint64_t& sizeOut) {
    if (!BuildChain(entry, chain, nullptr)) return false;
    if (entry.Has(FileEntryFlags::ContentFound)) {
        sizeOut = entry.size;
        allocatedOut = (entry.size + 511) / 512 * 512;
        return true;
    }
    const uint64_t allocated = uint64_t(ClusterBytes()) * uint64_t(chain.Count());
    if (allocated < entry.size) return false;
    allocatedOut = allocated;
    sizeOut = entry.IsDirectory() ? allocated : entry.size;
    return true;
}

bool FatVolume::GetSizes(const FileEntry& entry, uint64_t& allocatedOut, uint64_t& sizeOut) {
    ClusterChain chain;
    return GetSizes(entry, chain, allocatedOut, sizeOut);
}

bool FatVolume::ReadWholeFile(const FileEntry& entry, std::vector<uint8_t>& bufferOut, uint64_t& allocatedOut,
                              uint64_t& sizeOut) {
    bufferOut.clear();
    ClusterChain chain;
    if (!GetSizes(entry, chain, allocatedOut, sizeOut)) return false;
    if (allocatedOut == 0) return true;
    // No file is larger than the device it lies on, nor fits one read of more than 2 GiB.
    const uint64_t deviceBytes = device_ ? device_->SectorCount() * 512 : 0;
    if (allocatedOut > deviceBytes || allocatedOut > 0x7FFFFFFFu) return false;
    try {
        bufferOut.resize(allocatedOut);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return ReadFileData(entry, bufferOut.data(), bufferOut.size(), 0, static_cast<uint32_t>(allocatedOut), chain);
}

bool FatVolume::GetExtent(const FileEntry& entry, uint64_t& allocatedOut, uint32_t& startSectorOut) {
    if (entry.Has(FileEntryFlags::ContentFound)) {
        allocatedOut = (entry.size + 511) / 512 * 512;
        startSectorOut = entry.start;
        return true;
    }
    const uint64_t cb = ClusterBytes();
    if (cb == 0) return false;
    allocatedOut = (entry.size + cb - 1) / cb * cb;
    startSectorOut = ClusterToSector(entry.start);
    return true;
}

bool FatVolume::RootDirectoryRuns(ClusterChain& chain) {
    const FatGeometry& g = tree_.Geometry();
    if (!g.valid) return false;
    if (g.fatType != FatType::Fat32) {
        for (uint32_t s = g.rootDirectoryStart; s < g.firstDataSector; ++s) chain.Append(s, 1);
        return true;
    }
    for (uint32_t c : tree_.RootChain()) chain.Append(ClusterToSector(c), g.sectorsPerCluster);
    return true;
}

}  // namespace tabulon
