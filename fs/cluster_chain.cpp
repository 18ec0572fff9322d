#include "fs/cluster_chain.h"

#include <algorithm>

namespace tabulon {

void ClusterChain::Append(uint32_t start, uint32_t count) {
    if (runs_.capacity() - runs_.size() < 2) runs_.reserve(std::max<size_t>(4, runs_.capacity() * 2));
    runs_.push_back({start, count});
}

const ClusterRun& ClusterChain::At(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= runs_.size()) return sentinel_;
    return runs_[static_cast<size_t>(index)];
}

uint64_t ClusterChain::TotalCount() const {
    uint64_t total = 0;
    for (const auto& run : runs_) total += run.count;
    return total;
}

bool ClusterChain::Contains(uint32_t start) const {
    return std::any_of(runs_.begin(), runs_.end(), [start](const ClusterRun& r) { return r.start == start; });
}

}  // namespace tabulon
