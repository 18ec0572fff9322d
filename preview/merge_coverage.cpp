#include "preview/merge_coverage.h"

#include <algorithm>

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
    firstRow_ = std::min(firstRow_, r1);
    lastRow_ = std::max(lastRow_, r2);
    firstColumn_ = std::min(firstColumn_, c1);
    lastColumn_ = std::max(lastColumn_, c2);
}

void MergeCoverage::WriteEdges(std::map<uint32_t, uint8_t>& edges) const {
    edges.clear();
    if (firstRow_ > lastRow_) return;
    // Outside the spanned rows and columns every difference is zero, so the running sums may start at
    // the span's corner.
    const int columns = lastColumn_ - firstColumn_ + 1;
    std::vector<int32_t> left(columns, 0), right(columns, 0), coveredAbove(columns, 0);
    for (int r = firstRow_; r <= lastRow_; ++r) {
        int32_t coveredRow = 0, top = 0, bottom = 0;
        for (int c = firstColumn_; c <= lastColumn_; ++c) {
            const int k = c - firstColumn_;
            coveredRow += covered_[r * kRowStride + c];
            coveredAbove[k] += coveredRow;
            left[k] += leftEdge_[c * kColumnStride + r];
            right[k] += rightEdge_[c * kColumnStride + r];
            top += topEdge_[r * kRowStride + c];
            bottom += bottomEdge_[r * kRowStride + c];
            if (coveredAbove[k] <= 0) continue;
            uint8_t mask = 0;
            if (left[k] > 0) mask |= MergeEdge::Left;
            if (top > 0) mask |= MergeEdge::Top;
            if (right[k] > 0) mask |= MergeEdge::Right;
            if (bottom > 0) mask |= MergeEdge::Bottom;
            edges.emplace_hint(edges.end(), static_cast<uint32_t>(r) * 65536u + static_cast<uint32_t>(c), mask);
        }
    }
}

void MergeCoverage::Clear() {
    if (firstRow_ > lastRow_) return;
    // The differences lie within the span and one row and column past it.
    for (int r = firstRow_; r <= lastRow_ + 1; ++r) {
        for (int c = firstColumn_; c <= lastColumn_ + 1; ++c) {
            covered_[r * kRowStride + c] = 0;
            if (r < kRows) topEdge_[r * kRowStride + c] = bottomEdge_[r * kRowStride + c] = 0;
            if (c < kColumns) leftEdge_[c * kColumnStride + r] = rightEdge_[c * kColumnStride + r] = 0;
        }
    }
    firstRow_ = kRows;
    lastRow_ = -1;
    firstColumn_ = kColumns;
    lastColumn_ = -1;
}

}  // namespace tabulon
