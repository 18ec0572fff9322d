#pragma once
// A file or folder found by an analyser: from a directory slot, by the lost-folder scan, by content or
// by the raw disk scan.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fs/cluster_chain.h"

namespace tabulon {

namespace FileEntryFlags {
constexpr uint32_t Deleted = 1u << 0;        // the entry or one of its ancestors is deleted
constexpr uint32_t Directory = 1u << 1;
constexpr uint32_t ContentFound = 1u << 7;   // start is a sector; data lies in the entry's own runs
constexpr uint32_t RawFound = 1u << 8;       // made by the raw disk scan
constexpr uint32_t SectorBias = 1u << 12;    // add sectorBias to every cluster's sector when reading
constexpr uint32_t Loaded = 1u << 13;        // children read, or must not be read
constexpr uint32_t OwnDeleted = 1u << 15;    // the entry's own slot carries a deletion mark
constexpr uint32_t Marked = 1u << 19;        // set and cleared by the result tree
}  // namespace FileEntryFlags

struct FileEntry {
    FileEntry() = default;
    // Move-only (it owns its runs and children); moves must not throw, so that arrays of records grow
    // by moving.
    FileEntry(FileEntry&&) noexcept = default;
    FileEntry& operator=(FileEntry&&) noexcept = default;
    FileEntry(const FileEntry&) = delete;
    FileEntry& operator=(const FileEntry&) = delete;

    uint32_t flags = 0;
    uint16_t attributes = 0;
    const char16_t* name = u"";  // lives in the NamePool
    uint32_t creationTime = 0;   // seconds bits 0-5, minutes 6-11, hours 12-16
    uint16_t creationDate = 0;   // FAT date
    uint16_t accessDate = 0;
    uint32_t modificationTime = 0;
    uint16_t modificationDate = 0;
    int16_t sectorBias = 0;
    uint64_t size = 0;
    uint32_t start = 0;        // first cluster, or first volume-relative sector for ContentFound
    uint32_t ownCluster = 0;   // lost and raw-found folders: the cluster that their "." slot names
    std::unique_ptr<ClusterChain> runs;  // ContentFound: the entry's own sector runs
    uint64_t foundSector = 0;            // lost folders: the device sector where the folder was found
    uint32_t confirmedSectorsPerCluster = 0;  // raw-found folders
    uint32_t parentCluster = 0;          // raw-found folders: the cluster that their ".." slot names
    std::vector<FileEntry> children;
    FileEntry* parent = nullptr;

    bool IsDirectory() const { return flags & FileEntryFlags::Directory; }
    bool IsDeleted() const { return flags & FileEntryFlags::Deleted; }
    bool Has(uint32_t flag) const { return (flags & flag) != 0; }
    int32_t ChildCount() const { return static_cast<int32_t>(children.size()); }
    std::u16string_view Name() const { return name ? std::u16string_view(name) : std::u16string_view(); }
};

// The one order of every children array: directories first, then names compared case-insensitively
// (ASCII letters folded, as the C library does in the C locale), then live files before deleted ones.
// Returns <0, 0 or >0.
int CompareEntries(const FileEntry& a, const FileEntry& b);
// ASCII-folding comparison of UTF-16 names.
int CompareNamesIgnoringCase(std::u16string_view a, std::u16string_view b);

// The characters after the last "." of the entry's name; empty when there is no "." or the only one
// is the first character.
std::u16string EntryExtension(const FileEntry& entry);

// Sorts an entry's children in place (stable) and re-points the parent links below it, which moving
// records in the array invalidates. Call after the children array is complete.
void SortChildren(FileEntry& entry);
// Re-points the parent links of the whole subtree below `entry`.
void FixParentLinks(FileEntry& entry);

}  // namespace tabulon
