#pragma once
// The data runs of one file: cluster numbers (one run of count 1 per cluster, in chain order) for FAT
// chains, or volume-relative sector runs for files found by content and the raw scan.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tabulon {

struct ClusterRun {
    uint32_t start = 0;
    uint32_t count = 0;
    bool operator==(const ClusterRun&) const = default;
};

class ClusterChain {
public:
    ClusterChain() { runs_.reserve(4); }

    // Appends without merging neighbours; capacity doubles when fewer than two places are free.
    void Append(uint32_t start, uint32_t count);
    void Clear() { runs_.clear(); }
    int32_t Count() const { return static_cast<int32_t>(runs_.size()); }
    bool Empty() const { return runs_.empty(); }
    // A run by index; an index below 0 or past the end yields a zero sentinel run.
    const ClusterRun& At(int32_t index) const;
    const std::vector<ClusterRun>& Runs() const { return runs_; }
    // Sum of the counts (64-bit: a chain of sector runs may cover more than 4 G sectors in total).
    uint64_t TotalCount() const;
    bool Contains(uint32_t start) const;

private:
    std::vector<ClusterRun> runs_;
    ClusterRun sentinel_ {};
};

}  // namespace tabulon
