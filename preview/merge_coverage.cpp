#include "preview/merge_coverage.h"

#include "preview/preview_workbook.h"

namespace tabulon {
namespace {

constexpr int kRowStride = MergeCoverage::kColumns + 1;  // covered_, topEdge_, bottomEdge_
constexpr int kColumnStride = MergeCoverage::kRows + 1;  // leftEdge_, rightEdge_

}  // namespace

MergeCoverage::MergeCoverage()
    : covered_((kRows + 1) * kRowStride),
      leftEdge_(kColumns * kColumnStride),
      rightEdge_(kColumns * kColumnStride),
      topEdge_(kRows * kRowStride),
      bottomEdge_(kRows * kRowStride) {}

void MergeCoverage::AddRange(uint16_t firstRow, uint16_t lastRow, uint16_t firstColumn, uint16_t lastColumn) {
    if (lastRow >= kRows || lastColumn >= kColumns || firstRow > lastRow || firstColumn > lastColumn) return;
    const int r1 = firstRow, r2 = lastRow, c1 = firstColumn, c2 = lastColumn;
    covered_[r1 * kRowStride + c1] += 1;
    covered_[r1 * kRowStride + c2 + 1] -= 1;
    covered_[(r2 + 1) * kRowStride + c1] -= 1;
    covered_[(r2 + 1) * kRowStride + c2 + 1] += 1;
    leftEdge_[c1 * kColumnStride + r1] += 1;
    leftEdge_[c1 * kColumnStride + r2 + 1] -= 1;
    rightEdge_[c2 * kColumnStride + r1] += 1;
    rightEdge_[c2 * kColumnStride + r2 + 1] -= 1;
    topEdge_[r1 * kRowStride + c1] += 1;
    topEdge_[r1 * kRowStride + c2 + 1] -= 1;
    bottomEdge_[r2 * kRowStride + c1] += 1;
    bottomEdge_[r2 * kRowStride + c2 + 1] -= 1;
}

void MergeCoverage::WriteEdges(std::map<uint32_t, uint8_t>& edges) const {
    edges.clear();
    // Running sums down each column of the left and right edge counts.
    std::vector<int32_t> left(kColumns, 0), right(kColumns, 0);
    // Column sums of covered_ above the current row, for the two-dimensional running sum.
    std::vector<int32_t> coveredAbove(kColumns, 0);
    for (int r = 0; r < kRows; ++r) {
        int32_t coveredRow = 0, top = 0, bottom = 0;
        for (int c = 0; c < kColumns; ++c) {
            coveredRow += covered_[r * kRowStride + c];
            coveredAbove[c] += coveredRow;
            left[c] += leftEdge_[c * kColumnStride + r];
            right[c] += rightEdge_[c * kColumnStride + r];
            top += topEdge_[r * kRowStride + c];
            bottom += bottomEdge_[r * kRowStride + c];
            if (coveredAbove[c] <= 0) continue;
            uint8_t mask = 0;
            if (left[c] > 0) mask |= MergeEdge::Left;
            if (top > 0) mask |= MergeEdge::Top;
            if (right[c] > 0) mask |= MergeEdge::Right;
            if (bottom > 0) mask |= MergeEdge::Bottom;
            edges.emplace_hint(edges.end(), static_cast<uint32_t>(r) * 65536u + static_cast<uint32_t>(c), mask);
        }
    }
}

}  // namespace tabulon
