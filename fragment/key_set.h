#pragma once
// A set of 32-bit row or cell keys. Open addressing in one flat array: classifying a block inserts a key
// for most cell records, and the fragment search copies, compares and merges these sets constantly, so
// they avoid a heap node per key. An empty set holds no memory.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tabulon {

class KeySet {
public:
    // True when the key was not in the set.
    bool Insert(uint32_t key);
    bool Contains(uint32_t key) const;
    void Clear();
    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    // True when the two sets share a key.
    bool Intersects(const KeySet& other) const;
    void InsertAll(const KeySet& other);

    template <typename Visit>
    void ForEach(Visit visit) const {
        if (hasEmptyMarker_) visit(kEmptySlot);
        for (uint32_t key : slots_)
            if (key != kEmptySlot) visit(key);
    }

private:
    static constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;  // the key 0xFFFFFFFF itself is kept in a flag
    static constexpr size_t kInitialSlots = 32;

    size_t SlotOf(uint32_t key) const;
    void Grow();

    std::vector<uint32_t> slots_;  // size is zero or a power of two
    size_t size_ = 0;
    bool hasEmptyMarker_ = false;
};

}  // namespace tabulon
