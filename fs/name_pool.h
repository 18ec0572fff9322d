#pragma once
// One store for the names of all file entries: chunks of 65,532 UTF-16 units. A stored name stays at
// the same address until the pool is cleared as a whole.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace tabulon {

class NamePool {
public:
    static constexpr size_t kChunkUnits = 65532;

    // Stores the name with a terminating NUL and returns its address. Names longer than a chunk can
    // hold are cut to kChunkUnits - 1 units; a NUL inside the name ends it.
    const char16_t* Add(std::u16string_view name);
    void Clear();
    size_t ChunkCount() const;

    // The process-wide pool.
    static NamePool& Global();

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<char16_t[]>> chunks_;
    size_t used_ = kChunkUnits;  // units used in the last chunk; full until the first chunk exists
};

}  // namespace tabulon
