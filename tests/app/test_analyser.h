#pragma once
// A small in-memory analyser for the result-tree tests: entries are built by hand and each file's
// clusters are looked up in a table, so that copying rules can be checked without a disk.

#include <map>
#include <vector>

#include "fs/name_pool.h"
#include "fs/volume_analyser.h"

namespace tabulon::test {

class TestAnalyser : public VolumeAnalyser {
public:
    TestAnalyser(uint32_t sectorsPerCluster, uint32_t firstDataSector)
        : sectorsPerCluster_(sectorsPerCluster), firstDataSector_(firstDataSector) {
        root.flags = FileEntryFlags::Directory;
        root.name = NamePool::Global().Add(u"ROOT");
        lost.flags = FileEntryFlags::Directory;
        lost.name = NamePool::Global().Add(u"Recycle");
    }

    // Appends a child; the returned reference stays valid until the next Add on the same parent.
    static FileEntry& Add(FileEntry& parent, std::u16string_view name, uint32_t start, uint32_t flags = 0, uint64_t size = 0) {
        FileEntry& entry = parent.children.emplace_back();
        entry.name = NamePool::Global().Add(name);
        entry.start = start;
        entry.flags = flags;
        entry.size = size;
        return entry;
    }

    FileEntry root;
    FileEntry lost;
    std::map<uint32_t, std::vector<uint32_t>> chains;  // live chains by start cluster

    bool Mount() override { return true; }
    FileEntry* RootEntry() override { return &root; }
    FileEntry* LostEntry() override { return &lost; }
    bool ReadFileData(const FileEntry&, uint8_t*, size_t, uint64_t, uint32_t, const ClusterChain&) override { return false; }
    bool BuildChain(const FileEntry& entry, ClusterChain& chain, uint32_t* extra) override {
        if (extra) *extra = 0;
        if (entry.IsDeleted()) {
            uint64_t clusterBytes = uint64_t(sectorsPerCluster_) * 512;
            uint64_t count = (entry.size + clusterBytes - 1) / clusterBytes;
            for (uint64_t i = 0; i < count; ++i) chain.Append(uint32_t(entry.start + i), 1);
            return true;
        }
        auto found = chains.find(entry.start);
        if (found == chains.end()) return false;
        for (uint32_t cluster : found->second) chain.Append(cluster, 1);
        return true;
    }
    bool GetSizes(const FileEntry&, ClusterChain&, uint64_t&, uint64_t&) override { return false; }
    bool GetSizes(const FileEntry&, uint64_t&, uint64_t&) override { return false; }
    bool ReadWholeFile(const FileEntry&, std::vector<uint8_t>&, uint64_t&, uint64_t&) override { return false; }
    bool GetExtent(const FileEntry&, uint64_t&, uint32_t&) override { return false; }
    bool RootDirectoryRuns(ClusterChain&) override { return true; }
    void AttachToDisk() override {}
    uint32_t DataStartSector() const override { return firstDataSector_; }
    uint32_t ClusterToSector(uint32_t cluster) const override {
        return cluster > 1 ? firstDataSector_ + sectorsPerCluster_ * (cluster - 2) : firstDataSector_;
    }
    uint32_t SectorToCluster(uint32_t sector) const override {
        return sector < firstDataSector_ ? 2 : (sector - firstDataSector_) / sectorsPerCluster_ + 2;
    }
    uint32_t ClusterBytes() const override { return sectorsPerCluster_ * 512; }
    uint32_t SectorsPerCluster() const override { return sectorsPerCluster_; }
    bool ReadSectors(uint8_t*, uint32_t, uint32_t, bool) override { return false; }
    FatType GetFatType() const override { return FatType::Fat32; }

private:
    uint32_t sectorsPerCluster_;
    uint32_t firstDataSector_;
};

}  // namespace tabulon::test
