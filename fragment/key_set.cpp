#include "fragment/key_set.h"

#include <algorithm>

namespace tabulon {

size_t KeySet::SlotOf(uint32_t key) const {
    // Fibonacci hashing spreads the row-major keys (row << 16 | column) over the table.
    const size_t mask = slots_.size() - 1;
    size_t slot = size_t((uint64_t(key) * 0x9E3779B97F4A7C15ull) >> 40) & mask;
    while (slots_[slot] != kEmptySlot && slots_[slot] != key) slot = (slot + 1) & mask;
    return slot;
}

void KeySet::Grow() {
    std::vector<uint32_t> old = std::move(slots_);
    slots_.assign(old.empty() ? kInitialSlots : old.size() * 2, kEmptySlot);
    for (uint32_t key : old)
        if (key != kEmptySlot) slots_[SlotOf(key)] = key;
}

bool KeySet::Insert(uint32_t key) {
    if (key == kEmptySlot) {
        if (hasEmptyMarker_) return false;
        hasEmptyMarker_ = true;
        ++size_;
        return true;
    }
    // Keep the table at most half full so probes stay short.
    if (2 * (size_ + 1) > slots_.size()) Grow();
    size_t slot = SlotOf(key);
    if (slots_[slot] == key) return false;
    slots_[slot] = key;
    ++size_;
    return true;
}

bool KeySet::Contains(uint32_t key) const {
    if (key == kEmptySlot) return hasEmptyMarker_;
    if (slots_.empty()) return false;
    return slots_[SlotOf(key)] == key;
}

void KeySet::Clear() {
    if (size_ == 0) return;
    std::fill(slots_.begin(), slots_.end(), kEmptySlot);
    hasEmptyMarker_ = false;
    size_ = 0;
}

bool KeySet::Intersects(const KeySet& other) const {
    const KeySet& small = Size() <= other.Size() ? *this : other;
    const KeySet& large = Size() <= other.Size() ? other : *this;
    bool shared = false;
    small.ForEach([&](uint32_t key) { shared = shared || large.Contains(key); });
    return shared;
}

void KeySet::InsertAll(const KeySet& other) {
    other.ForEach([this](uint32_t key) { Insert(key); });
}

}  // namespace tabulon
