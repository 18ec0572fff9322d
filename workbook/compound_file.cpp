#include "workbook/compound_file.h"

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"
#include "common/utf8_text.h"

namespace tabulon {
namespace {

constexpr char16_t kSeparator = u'\\';
constexpr uint32_t kDifatEntriesPerSector = kEntriesPerFatSector - 1;  // the last entry links on
constexpr uint64_t kMaxStreamSize = 0xFFFFFFFFull;

}  // namespace

CompoundFile::CompoundFile() = default;

CompoundFile::~CompoundFile() { Close(); }

void CompoundFile::Reset() {
    header_ = CompoundHeader();
    fat_.assign(kEntriesPerFatSector, kFreeSector);
    fat_[0] = kFatSector;
    fat_[1] = kEndOfChain;
    fatSectors_ = {0};
    difatSectors_.clear();
    miniFat_.clear();
    miniFatSectors_.clear();
    miniStream_.clear();
    freeHint_ = 2;
    miniFreeHint_ = 0;

    CompoundDirectoryEntry root;
    root.name = u"Root Entry";
    root.type = CompoundEntryType::Root;
    entries_.assign(1, root);
    nodes_.clear();
    nodes_.push_back(std::make_unique<StorageNode>());
    current_ = nodes_.front().get();
}

bool CompoundFile::Create(const std::string& path) {
    Close();
    Reset();
    if (!file_.Create(path) || FinishOperation() != kCompoundOk) {
        Close();
        return false;
    }
    return true;
}

bool CompoundFile::Create(std::u16string_view path) { return Create(Utf16ToUtf8(path)); }

void CompoundFile::Close() {
    file_.Close();
    fat_.clear();
    miniFat_.clear();
    fatSectors_.clear();
    difatSectors_.clear();
    miniFatSectors_.clear();
    miniStream_.clear();
    entries_.clear();
    nodes_.clear();
    current_ = nullptr;
}

CompoundFile::StorageNode* CompoundFile::FindChild(const StorageNode* storage, std::u16string_view name) const {
    for (StorageNode* child : storage->children)
        if (CompareEntryNames(entries_[child->entry].name, name) == 0) return child;
    return nullptr;
}

CompoundFile::StorageNode* CompoundFile::ResolveStorage(StorageNode* start, std::u16string_view path) const {
    if (!start || nodes_.empty()) return nullptr;
    StorageNode* node = start;
    if (!path.empty() && path.front() == kSeparator) {
        node = nodes_.front().get();
        path.remove_prefix(1);
    }
    while (!path.empty()) {
        size_t end = path.find(kSeparator);
        std::u16string_view component = path.substr(0, end);
        StorageNode* child = FindChild(node, component);
        if (!child || entries_[child->entry].type != CompoundEntryType::Storage) return nullptr;
        node = child;
        if (end == std::u16string_view::npos) break;
        path.remove_prefix(end + 1);
        if (path.empty()) return nullptr;  // a trailing separator names nothing
    }
    return node;
}

int CompoundFile::ChangeStorage(std::u16string_view path) {
    if (!current_) return kCompoundStorageNotFound;
    if (path == u".") return kCompoundOk;
    if (path == u"..") {
        if (current_->parent) current_ = current_->parent;
        return kCompoundOk;
    }
    StorageNode* node = ResolveStorage(current_, path);
    if (!node) return kCompoundStorageNotFound;
    current_ = node;
    return kCompoundOk;
}

int CompoundFile::MakeStorage(std::u16string_view path) { return AddEntry(path, CompoundEntryType::Storage); }
int CompoundFile::MakeStorage(std::string_view path) { return MakeStorage(Utf8ToUtf16(path)); }
int CompoundFile::MakeStream(std::u16string_view path) { return AddEntry(path, CompoundEntryType::Stream); }
int CompoundFile::MakeStream(std::string_view path) { return MakeStream(Utf8ToUtf16(path)); }

int CompoundFile::AddEntry(std::u16string_view path, CompoundEntryType type) {
    if (!IsOpen() || file_.Failed()) return kCompoundWriteFailed;
    size_t split = path.rfind(kSeparator);
    std::u16string_view name = split == std::u16string_view::npos ? path : path.substr(split + 1);
    if (name.empty() || name.size() > kMaxEntryNameLength) return kCompoundBadName;

    StorageNode* storage = current_;
    if (split == 0) {
        storage = nodes_.front().get();
    } else if (split != std::u16string_view::npos) {
        std::u16string_view storagePath = path.substr(0, split);
        storage = ResolveStorage(current_, storagePath);
        if (!storage) {
            int code = AddEntry(storagePath, CompoundEntryType::Storage);
            if (code != kCompoundOk) return code;
            storage = ResolveStorage(current_, storagePath);
            if (!storage) return kCompoundStorageNotFound;
        }
    }
    if (FindChild(storage, name)) return kCompoundNameExists;

    uint32_t position = 1;
    while (position < entries_.size() && CompareEntryNames(entries_[position].name, name) < 0) ++position;
    if (position < entries_.size()) {
        for (auto& node : nodes_)
            if (node->entry >= position) ++node->entry;
        for (auto& entry : entries_) {
            for (uint32_t* link : {&entry.leftSibling, &entry.rightSibling, &entry.child})
                if (*link != kNoEntry && *link >= position) ++*link;
        }
    }
    CompoundDirectoryEntry entry;
    entry.name.assign(name);
    entry.type = type;
    entries_.insert(entries_.begin() + position, entry);

    auto node = std::make_unique<StorageNode>();
    node->parent = storage;
    node->entry = position;
    auto where = std::find_if(storage->children.begin(), storage->children.end(),
                              [position](const StorageNode* child) { return child->entry > position; });
    storage->children.insert(where, node.get());
    nodes_.push_back(std::move(node));
    RebuildSiblingTree(storage);
    return FinishOperation();
}

void CompoundFile::RebuildSiblingTree(StorageNode* storage) {
    const auto& children = storage->children;
    size_t n = children.size();
    if (n == 0) {
        entries_[storage->entry].child = kNoEntry;
        return;
    }
    // The middle child is the root of the tree; the ones before it hang off its left chain, the
    // ones after it off its right chain, so every left link goes to a smaller name.
    size_t middle = n / 2;
    entries_[storage->entry].child = children[middle]->entry;
    for (size_t k = 0; k < n; ++k) {
        CompoundDirectoryEntry& entry = entries_[children[k]->entry];
        entry.leftSibling = (k >= 1 && k <= middle) ? children[k - 1]->entry : kNoEntry;
        entry.rightSibling = (k >= middle && k + 1 < n) ? children[k + 1]->entry : kNoEntry;
    }
}

int CompoundFile::WriteStream(std::u16string_view path, std::span<const uint8_t> data) {
    if (!IsOpen() || file_.Failed()) return kCompoundWriteFailed;
    size_t split = path.rfind(kSeparator);
    std::u16string_view name = split == std::u16string_view::npos ? path : path.substr(split + 1);
    StorageNode* storage = current_;
    if (split == 0)
        storage = nodes_.front().get();
    else if (split != std::u16string_view::npos)
        storage = ResolveStorage(current_, path.substr(0, split));
    StorageNode* node = storage ? FindChild(storage, name) : nullptr;
    if (!node || entries_[node->entry].type != CompoundEntryType::Stream) return kCompoundStreamNotFound;
    if (data.size() > kMaxStreamSize) return kCompoundStreamTooLarge;

    uint32_t index = node->entry;
    uint32_t oldSize = entries_[index].size;
    uint32_t start = entries_[index].startSector;
    size_t length = data.size();
    // A stream lives in the mini stream below the cut-off and in ordinary sectors from it on; a
    // stream that changes sides gives its old chain back first.
    if (oldSize < kMiniStreamCutoff && length >= kMiniStreamCutoff) {
        ReleaseMiniChain(start);
        start = kEndOfChain;
    } else if (oldSize >= kMiniStreamCutoff && length < kMiniStreamCutoff) {
        ReleaseChain(start);
        start = kEndOfChain;
    }
    if (length >= kMiniStreamCutoff)
        start = WriteChain(data.data(), length, start);
    else
        start = WriteMiniChain(data.data(), length, start);
    entries_[index].startSector = start;
    entries_[index].size = static_cast<uint32_t>(length);
    return FinishOperation();
}

int CompoundFile::WriteStream(std::string_view path, std::span<const uint8_t> data) {
    return WriteStream(Utf8ToUtf16(path), data);
}

void CompoundFile::WriteBlock(uint64_t block, const uint8_t* data) {
    // A failure is remembered by the block file and reported when the operation finishes.
    file_.WriteBlock(block, data);
}

void CompoundFile::GrowFat() {
    uint32_t sector = static_cast<uint32_t>(fat_.size());
    fat_.resize(fat_.size() + kEntriesPerFatSector, kFreeSector);
    fat_[sector] = kFatSector;
    fatSectors_.push_back(sector);
    if (fatSectors_.size() <= kHeaderFatEntries) return;
    // FAT sectors past the 109 of the header are listed in DIFAT sectors, 127 to a sector.
    size_t needed = (fatSectors_.size() - kHeaderFatEntries + kDifatEntriesPerSector - 1) / kDifatEntriesPerSector;
    if (needed <= difatSectors_.size()) return;
    for (uint32_t i = sector + 1; i < fat_.size(); ++i) {
        if (fat_[i] == kFreeSector) {
            fat_[i] = kDifatSector;
            difatSectors_.push_back(i);
            return;
        }
    }
}

uint32_t CompoundFile::AllocateSector() {
    for (;;) {
        for (uint32_t i = freeHint_; i < fat_.size(); ++i) {
            if (fat_[i] == kFreeSector) {
                fat_[i] = kEndOfChain;
                freeHint_ = i + 1;
                return i;
            }
        }
        freeHint_ = static_cast<uint32_t>(fat_.size());
        GrowFat();
    }
}

uint32_t CompoundFile::AllocateMiniSector() {
    for (;;) {
        for (uint32_t i = miniFreeHint_; i < miniFat_.size(); ++i) {
            if (miniFat_[i] == kFreeSector) {
                miniFat_[i] = kEndOfChain;
                miniFreeHint_ = i + 1;
                return i;
            }
        }
        miniFreeHint_ = static_cast<uint32_t>(miniFat_.size());
        // The mini FAT grows by one sector, chained through the FAT behind the previous one.
        uint32_t sector = AllocateSector();
        if (miniFatSectors_.empty())
            header_.firstMiniFatSector = sector;
        else
            fat_[miniFatSectors_.back()] = sector;
        miniFatSectors_.push_back(sector);
        miniFat_.resize(miniFat_.size() + kEntriesPerFatSector, kFreeSector);
    }
}

std::vector<uint32_t> CompoundFile::CollectChain(uint32_t first, const std::vector<uint32_t>& table) const {
    std::vector<uint32_t> chain;
    uint32_t sector = first;
    while (sector < table.size() && chain.size() < table.size()) {
        chain.push_back(sector);
        sector = table[sector];
    }
    return chain;
}

void CompoundFile::ReleaseChain(uint32_t first) {
    static const uint8_t kZeros[kSectorSize] = {};
    for (uint32_t sector : CollectChain(first, fat_)) {
        fat_[sector] = kFreeSector;
        freeHint_ = std::min(freeHint_, sector);
        WriteBlock(uint64_t(sector) + 1, kZeros);
    }
}

void CompoundFile::ReleaseMiniChain(uint32_t first) {
    for (uint32_t sector : CollectChain(first, miniFat_)) {
        miniFat_[sector] = kFreeSector;
        miniFreeHint_ = std::min(miniFreeHint_, sector);
        size_t offset = size_t(sector) * kMiniSectorSize;
        if (offset + kMiniSectorSize <= miniStream_.size())
            std::memset(miniStream_.data() + offset, 0, kMiniSectorSize);
    }
}

uint32_t CompoundFile::WriteChain(const uint8_t* data, size_t length, uint32_t first) {
    if (length == 0 && first == kEndOfChain) return kEndOfChain;
    std::vector<uint32_t> chain = CollectChain(first, fat_);
    size_t needed = (length + kSectorSize - 1) / kSectorSize;
    if (chain.size() > needed) {
        if (needed > 0) fat_[chain[needed - 1]] = kEndOfChain;
        for (size_t k = needed; k < chain.size(); ++k) {
            static const uint8_t kZeros[kSectorSize] = {};
            fat_[chain[k]] = kFreeSector;
            freeHint_ = std::min(freeHint_, chain[k]);
            WriteBlock(uint64_t(chain[k]) + 1, kZeros);
        }
        chain.resize(needed);
    }
    uint32_t head = chain.empty() ? kEndOfChain : chain.front();
    uint32_t previous = kEndOfChain;
    uint8_t block[kSectorSize];
    for (size_t k = 0; k < needed; ++k) {
        uint32_t sector;
        if (k < chain.size()) {
            sector = chain[k];
        } else {
            sector = AllocateSector();
            if (previous == kEndOfChain)
                head = sector;
            else
                fat_[previous] = sector;
        }
        previous = sector;
        size_t offset = k * kSectorSize;
        size_t bytes = std::min<size_t>(kSectorSize, length - offset);
        std::memcpy(block, data + offset, bytes);
        std::memset(block + bytes, 0, kSectorSize - bytes);
        WriteBlock(uint64_t(sector) + 1, block);
    }
    return head;
}

uint32_t CompoundFile::WriteMiniChain(const uint8_t* data, size_t length, uint32_t first) {
    if (length == 0 && first == kEndOfChain) return kEndOfChain;
    std::vector<uint32_t> chain = CollectChain(first, miniFat_);
    size_t needed = (length + kMiniSectorSize - 1) / kMiniSectorSize;
    if (chain.size() > needed) {
        if (needed > 0) miniFat_[chain[needed - 1]] = kEndOfChain;
        for (size_t k = needed; k < chain.size(); ++k) {
            miniFat_[chain[k]] = kFreeSector;
            miniFreeHint_ = std::min(miniFreeHint_, chain[k]);
            size_t offset = size_t(chain[k]) * kMiniSectorSize;
            if (offset + kMiniSectorSize <= miniStream_.size())
                std::memset(miniStream_.data() + offset, 0, kMiniSectorSize);
        }
        chain.resize(needed);
    }
    uint32_t head = chain.empty() ? kEndOfChain : chain.front();
    uint32_t previous = kEndOfChain;
    for (size_t k = 0; k < needed; ++k) {
        uint32_t sector;
        if (k < chain.size()) {
            sector = chain[k];
        } else {
            sector = AllocateMiniSector();
            if (previous == kEndOfChain)
                head = sector;
            else
                miniFat_[previous] = sector;
        }
        previous = sector;
        size_t offset = size_t(sector) * kMiniSectorSize;
        if (miniStream_.size() < offset + kMiniSectorSize) miniStream_.resize(offset + kMiniSectorSize, 0);
        size_t source = k * kMiniSectorSize;
        size_t bytes = std::min<size_t>(kMiniSectorSize, length - source);
        std::memcpy(miniStream_.data() + offset, data + source, bytes);
        std::memset(miniStream_.data() + offset + bytes, 0, kMiniSectorSize - bytes);
    }
    // The mini stream is the root entry's content, kept in ordinary sectors.
    CompoundDirectoryEntry& root = entries_.front();
    root.startSector = WriteChain(miniStream_.data(), miniStream_.size(), root.startSector);
    root.size = static_cast<uint32_t>(miniStream_.size());
    return head;
}

int CompoundFile::FinishOperation() {
    uint8_t block[kSectorSize];

    // The directory first: it may need new sectors, which changes the FAT written below.
    size_t slots = (entries_.size() + 3) / 4 * 4;
    std::vector<uint8_t> directory(slots * kDirectoryEntrySize);
    for (size_t i = 0; i < slots; ++i) {
        uint8_t* out = directory.data() + i * kDirectoryEntrySize;
        if (i < entries_.size())
            entries_[i].Serialize(out);
        else
            CompoundDirectoryEntry::SerializeUnused(out);
    }
    header_.firstDirectorySector = WriteChain(directory.data(), directory.size(), header_.firstDirectorySector);

    header_.fatSectorCount = static_cast<uint32_t>(fatSectors_.size());
    for (uint32_t i = 0; i < kHeaderFatEntries; ++i)
        header_.fatSectors[i] = i < fatSectors_.size() ? fatSectors_[i] : kFreeSector;
    header_.difatSectorCount = static_cast<uint32_t>(difatSectors_.size());
    header_.firstDifatSector = difatSectors_.empty() ? kEndOfChain : difatSectors_.front();
    for (size_t j = 0; j < difatSectors_.size(); ++j) {
        for (uint32_t k = 0; k < kDifatEntriesPerSector; ++k) {
            size_t index = kHeaderFatEntries + j * kDifatEntriesPerSector + k;
            StoreU32(block + 4 * k, index < fatSectors_.size() ? fatSectors_[index] : kFreeSector);
        }
        StoreU32(block + 4 * kDifatEntriesPerSector, j + 1 < difatSectors_.size() ? difatSectors_[j + 1] : kEndOfChain);
        WriteBlock(uint64_t(difatSectors_[j]) + 1, block);
    }
    for (size_t i = 0; i < fatSectors_.size(); ++i) {
        for (uint32_t k = 0; k < kEntriesPerFatSector; ++k) StoreU32(block + 4 * k, fat_[i * kEntriesPerFatSector + k]);
        WriteBlock(uint64_t(fatSectors_[i]) + 1, block);
    }
    header_.miniFatSectorCount = static_cast<uint32_t>(miniFatSectors_.size());
    header_.firstMiniFatSector = miniFatSectors_.empty() ? kEndOfChain : miniFatSectors_.front();
    for (size_t i = 0; i < miniFatSectors_.size(); ++i) {
        for (uint32_t k = 0; k < kEntriesPerFatSector; ++k)
            StoreU32(block + 4 * k, miniFat_[i * kEntriesPerFatSector + k]);
        WriteBlock(uint64_t(miniFatSectors_[i]) + 1, block);
    }
    header_.Serialize(block);
    WriteBlock(0, block);
    return file_.Flush() ? kCompoundOk : kCompoundWriteFailed;
}

}  // namespace tabulon
