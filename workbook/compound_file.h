#pragma once
// CompoundFile writes a compound document (version 3, 512-byte sectors) into an ordinary file by
// itself. It keeps the allocation table, the mini allocation table and the directory in memory and
// writes the header, the tables and the directory at the end of every operation, so the file on
// disk is a complete container after each call. It never parses an existing container.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/block_file.h"
#include "workbook/compound_directory_entry.h"
#include "workbook/compound_header.h"

namespace tabulon {

// Result codes of the container operations.
inline constexpr int kCompoundOk = 1;
inline constexpr int kCompoundStorageNotFound = -2;
inline constexpr int kCompoundStreamNotFound = -4;
inline constexpr int kCompoundBadName = -5;        // empty, or longer than 31 characters
inline constexpr int kCompoundNameExists = -6;
inline constexpr int kCompoundWriteFailed = -7;    // no container open, or the file could not be written
inline constexpr int kCompoundStreamTooLarge = -8;  // a stream size must fit 32 bits

class CompoundFile {
public:
    CompoundFile();
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    // Closes any open file, creates `path` (8-bit path, as the file system takes it) and writes an
    // empty container: header, one FAT sector and one directory sector with the root entry.
    bool Create(const std::string& path);
    bool Create(std::u16string_view path);

    // Paths: components separated by a backslash; a leading backslash starts at the root,
    // otherwise at the current storage.
    int ChangeStorage(std::u16string_view path);
    int MakeStorage(std::u16string_view path);
    int MakeStorage(std::string_view path);
    int MakeStream(std::u16string_view path);
    int MakeStream(std::string_view path);
    // Replaces the content of an existing stream.
    int WriteStream(std::u16string_view path, std::span<const uint8_t> data);
    int WriteStream(std::string_view path, std::span<const uint8_t> data);

    // Frees the tables, the directory and the tree, and closes the file; nothing is written here.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    // The writer's view of the container, for callers that check it.
    const CompoundHeader& Header() const { return header_; }
    const std::vector<uint32_t>& Fat() const { return fat_; }
    const std::vector<uint32_t>& MiniFat() const { return miniFat_; }
    const std::vector<CompoundDirectoryEntry>& Entries() const { return entries_; }
    // Every FAT sector in order (the first 109 are also in the header).
    const std::vector<uint32_t>& FatSectors() const { return fatSectors_; }
    const std::vector<uint32_t>& DifatSectors() const { return difatSectors_; }

private:
    struct StorageNode {
        StorageNode* parent = nullptr;
        uint32_t entry = 0;
        std::vector<StorageNode*> children;  // ordered by entry number
    };

    void Reset();
    StorageNode* FindChild(const StorageNode* storage, std::u16string_view name) const;
    // Walks `path` from `start`; null when a component is missing or not a storage.
    StorageNode* ResolveStorage(StorageNode* start, std::u16string_view path) const;
    int AddEntry(std::u16string_view path, CompoundEntryType type);
    void RebuildSiblingTree(StorageNode* storage);

    uint32_t AllocateSector();
    void GrowFat();
    uint32_t AllocateMiniSector();
    void ReleaseChain(uint32_t first);
    void ReleaseMiniChain(uint32_t first);
    std::vector<uint32_t> CollectChain(uint32_t first, const std::vector<uint32_t>& table) const;
    uint32_t WriteChain(const uint8_t* data, size_t length, uint32_t first);
    uint32_t WriteMiniChain(const uint8_t* data, size_t length, uint32_t first);
    // Writes the directory, the tables and the header, and flushes; the result code of the operation.
    int FinishOperation();
    void WriteBlock(uint64_t block, const uint8_t* data);

    BlockFile file_;
    CompoundHeader header_;
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::vector<uint32_t> fatSectors_;
    std::vector<uint32_t> difatSectors_;
    std::vector<uint32_t> miniFatSectors_;
    std::vector<uint8_t> miniStream_;  // the root entry's content, kept whole in memory
    std::vector<CompoundDirectoryEntry> entries_;
    std::vector<std::unique_ptr<StorageNode>> nodes_;
    StorageNode* current_ = nullptr;
    uint32_t freeHint_ = 0;      // no free FAT entry below this one
    uint32_t miniFreeHint_ = 0;  // no free mini-FAT entry below this one
};

}  // namespace tabulon
