#include "fs/name_pool.h"

#include <algorithm>

namespace tabulon {

const char16_t* NamePool::Add(std::u16string_view name) {
    name = name.substr(0, std::min(name.find(u'\0'), kChunkUnits - 1));
    std::lock_guard lock(mutex_);
    if (kChunkUnits - used_ < name.size() + 1) {
        chunks_.push_back(std::make_unique<char16_t[]>(kChunkUnits));
        used_ = 0;
    }
    char16_t* out = chunks_.back().get() + used_;
    std::copy(name.begin(), name.end(), out);
    out[name.size()] = u'\0';
    used_ += name.size() + 1;
    return out;
}

void NamePool::Clear() {
    std::lock_guard lock(mutex_);
    chunks_.clear();
    used_ = kChunkUnits;
}

size_t NamePool::ChunkCount() const {
    std::lock_guard lock(mutex_);
    return chunks_.size();
}

NamePool& NamePool::Global() {
    static NamePool pool;
    return pool;
}

}  // namespace tabulon
