#include "fragment/record_succession_table.h"

#include <algorithm>

#include "common/little_endian.h"
#include "resources/embedded_resources.h"

namespace tabulon {
namespace {

RecordSuccessionTable& ProcessTable() {
    static RecordSuccessionTable table;
    return table;
}

}  // namespace

RecordSuccessionTable::RecordSuccessionTable() : lookup_(65536) {}

bool RecordSuccessionTable::MayFollow(uint16_t last, uint16_t next) const {
    const Lookup& lookup = lookup_[last];
    if (lookup.successorCount == 0) return false;
    if (lookup.successorCount == 1) return lookup.onlySuccessor == next;
    const auto& successors = entries_[lookup.entry].successors;
    return std::binary_search(successors.begin(), successors.end(), next);
}

uint32_t RecordSuccessionTable::LengthOf(uint16_t type, uint16_t lengthField, int64_t position,
                                         int64_t blockBytes) const {
    if (position + 2 < blockBytes) return lengthField;
    return lookup_[type].assumedLength;
}

int32_t RecordSuccessionTable::SuccessorCount(uint16_t type) const { return lookup_[type].successorCount; }
uint16_t RecordSuccessionTable::AssumedLength(uint16_t type) const { return lookup_[type].assumedLength; }

void RecordSuccessionTable::Set(Entry entry) {
    std::sort(entry.successors.begin(), entry.successors.end());
    entry.successors.erase(std::unique(entry.successors.begin(), entry.successors.end()), entry.successors.end());
    auto at = std::lower_bound(entries_.begin(), entries_.end(), entry.type,
                               [](const Entry& e, uint16_t type) { return e.type < type; });
    if (at != entries_.end() && at->type == entry.type)
        *at = std::move(entry);
    else
        entries_.insert(at, std::move(entry));
    Reindex();
}

void RecordSuccessionTable::Reindex() {
    std::fill(lookup_.begin(), lookup_.end(), Lookup {});
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        Lookup& lookup = lookup_[entry.type];
        lookup.entry = uint16_t(i);
        lookup.successorCount = int32_t(entry.successors.size());
        lookup.onlySuccessor = entry.successors.size() == 1 ? entry.successors.front() : 0;
        lookup.assumedLength = entry.assumedLength;
    }
}

std::vector<uint8_t> RecordSuccessionTable::Serialize() const {
    std::vector<uint8_t> out(2);
    StoreU16(out.data(), uint16_t(entries_.size()));
    for (const Entry& entry : entries_) {
        const size_t at = out.size();
        out.resize(at + 6 + 2 * entry.successors.size());
        StoreU16(out.data() + at, entry.type);
        StoreU16(out.data() + at + 2, uint16_t(entry.successors.size()));
        StoreU16(out.data() + at + 4, entry.assumedLength);
        for (size_t k = 0; k < entry.successors.size(); ++k) StoreU16(out.data() + at + 6 + 2 * k, entry.successors[k]);
    }
    return out;
}

size_t RecordSuccessionTable::Parse(std::span<const uint8_t> plain) {
    entries_.clear();
    if (plain.size() < 2) {
        Reindex();
        return 0;
    }
    const uint16_t count = LoadU16(plain.data());
    std::vector<int32_t> entryOfType(65536, -1);
    size_t at = 2;
    for (uint16_t i = 0; i < count; ++i) {
        if (at + 6 > plain.size()) break;
        Entry entry;
        entry.type = LoadU16(plain.data() + at);
        const uint16_t k = LoadU16(plain.data() + at + 2);
        entry.assumedLength = LoadU16(plain.data() + at + 4);
        if (at + 6 + 2 * size_t(k) > plain.size()) break;
        entry.successors.reserve(k);
        for (uint16_t j = 0; j < k; ++j) entry.successors.push_back(LoadU16(plain.data() + at + 6 + 2 * j));
        at += 6 + 2 * size_t(k);
        std::sort(entry.successors.begin(), entry.successors.end());
        entry.successors.erase(std::unique(entry.successors.begin(), entry.successors.end()), entry.successors.end());
        // A type stored twice keeps its last entry.
        int32_t& index = entryOfType[entry.type];
        if (index >= 0) {
            entries_[size_t(index)] = std::move(entry);
        } else {
            index = int32_t(entries_.size());
            entries_.push_back(std::move(entry));
        }
    }
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.type < b.type; });
    Reindex();
    return entries_.size();
}

uint32_t RecordSuccessionTable::NextScrambleKey(uint32_t previousKey, uint32_t byteOffset) {
    // A multiply-rotate-xor step: every key bit depends on the previous key and on the word's position,
    // so equal words at different places scramble differently.
    uint32_t key = previousKey * 0x2C1B3C6Du + (byteOffset ^ 0x5BD1E995u);
    key = (key << 11) | (key >> 21);
    return key ^ (previousKey >> 7) ^ 0xA5C3F00Fu;
}

std::vector<uint8_t> RecordSuccessionTable::Scramble(std::span<const uint8_t> plain, uint32_t seed) {
    std::vector<uint8_t> out(4 + plain.size());
    StoreU32(out.data(), seed);
    std::copy(plain.begin(), plain.end(), out.begin() + 4);
    uint32_t key = seed;
    for (size_t at = 4; at + 4 <= out.size(); at += 4) {
        key = NextScrambleKey(key, uint32_t(at));
        StoreU32(out.data() + at, LoadU32(out.data() + at) ^ key);
    }
    return out;
}

std::vector<uint8_t> RecordSuccessionTable::Unscramble(std::span<const uint8_t> stored) {
    if (stored.size() < 4) return {};
    std::vector<uint8_t> plain(stored.begin() + 4, stored.end());
    uint32_t key = LoadU32(stored.data());
    for (size_t at = 4; at + 4 <= stored.size(); at += 4) {
        key = NextScrambleKey(key, uint32_t(at));
        StoreU32(plain.data() + (at - 4), LoadU32(stored.data() + at) ^ key);
    }
    return plain;
}

SuccessionTableError RecordSuccessionTable::Load(const EmbeddedResource* resource) {
    if (resource == nullptr) return SuccessionTableError::ResourceNotFound;
    if (resource->bytes.empty()) return SuccessionTableError::ResourceNotLoaded;
    RecordSuccessionTable loaded;
    if (loaded.Parse(Unscramble(resource->bytes)) == 0) return SuccessionTableError::ResourceNotLocked;
    *this = std::move(loaded);
    return SuccessionTableError::None;
}

const RecordSuccessionTable& RecordSuccessionTable::Process() { return ProcessTable(); }

SuccessionTableError LoadProcessSuccessionTable() {
    return ProcessTable().Load(FindEmbeddedResource(kSuccessionTableResourceName));
}

}  // namespace tabulon
