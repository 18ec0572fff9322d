#pragma once
// The cells that a sheet's merged ranges cover, and which edges of their ranges they lie on, for
// ranges inside rows 0-1000 and columns 0-26. Adding a range takes the same few steps whatever its
// size, so a record full of large ranges cannot make the reader crawl; WriteEdges lays the result out.

#include <cstdint>
#include <map>
#include <vector>

namespace tabulon {

class MergeCoverage {
public:
    static constexpr int kRows = 1001;
    static constexpr int kColumns = 27;

    MergeCoverage();

    // Ranges outside the rows and columns above, or with a last row or column before the first, add
    // nothing.
    void AddRange(uint16_t firstRow, uint16_t lastRow, uint16_t firstColumn, uint16_t lastColumn);

    // Replaces `edges` with every covered cell (row * 65536 + column) and the OR of the MergeEdge bits
    // of the ranges' edges it lies on (0 for a cell inside a range).
    void WriteEdges(std::map<uint32_t, uint8_t>& edges) const;

private:
    // Difference arrays: a range adds +1/-1 at its corners; running sums give the counts per cell.
    std::vector<int32_t> covered_;     // (kRows + 1) x (kColumns + 1)
    std::vector<int32_t> leftEdge_;    // per column, over rows: kColumns x (kRows + 1)
    std::vector<int32_t> rightEdge_;
    std::vector<int32_t> topEdge_;     // per row, over columns: kRows x (kColumns + 1)
    std::vector<int32_t> bottomEdge_;
};

}  // namespace tabulon
