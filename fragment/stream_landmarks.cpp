#include "fragment/stream_landmarks.h"

#include <algorithm>

#include "fragment/block_profile.h"
#include "fragment/record_type_codes.h"

namespace tabulon {
namespace {

constexpr uint16_t kIndex = 0x020B;
constexpr uint16_t kDbCell = 0x00D7;
constexpr uint16_t kGlobalsKind = 0x0005;
constexpr uint16_t kWorksheetKind = 0x0010;

uint16_t U16At(std::span<const uint8_t> buffer, int64_t position) {
    const auto size = int64_t(buffer.size());
    const uint16_t low = position >= 0 && position < size ? buffer[size_t(position)] : 0;
    const uint16_t high = position + 1 >= 0 && position + 1 < size ? buffer[size_t(position + 1)] : 0;
    return uint16_t(low | (high << 8));
}

uint32_t U32At(std::span<const uint8_t> buffer, int64_t position) {
    return uint32_t(U16At(buffer, position)) | (uint32_t(U16At(buffer, position + 2)) << 16);
}

LandmarkList WithPositions(const LandmarkList& old, std::vector<int64_t> added, bool complete) {
    LandmarkList list = old;
    std::vector<int64_t> all = old.positions ? *old.positions : std::vector<int64_t> {};
    all.insert(all.end(), added.begin(), added.end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    list.positions = std::make_shared<const std::vector<int64_t>>(std::move(all));
    list.complete = complete;
    return list;
}

}  // namespace

bool StreamLandmarks::CheckList(LandmarkList& list, uint16_t type, const std::vector<Walked>& records, int64_t from,
                                int64_t to) {
    if (!list.Active()) return true;
    const std::vector<int64_t>& positions = *list.positions;
    bool match = false, mismatch = false;
    // Every record that must be listed is listed...
    for (const Walked& record : records) {
        if (record.type != type || !record.mustBeListed) continue;
        if (std::binary_search(positions.begin(), positions.end(), record.position))
            match = true;
        else if (list.complete || record.position <= positions.back())
            mismatch = true;
    }
    // ...and every listed position the walk covered holds such a record.
    for (auto it = std::lower_bound(positions.begin(), positions.end(), from); it != positions.end() && *it < to; ++it) {
        const auto at = std::lower_bound(records.begin(), records.end(), *it,
                                         [](const Walked& record, int64_t position) { return record.position < position; });
        if (at != records.end() && at->position == *it && at->type == type)
            match = true;
        else
            mismatch = true;
    }
    if (list.trust == LandmarkList::Trust::Confirmed) return !mismatch;
    if (mismatch)
        list.trust = LandmarkList::Trust::Ignored;
    else if (match)
        list.trust = LandmarkList::Trust::Confirmed;
    return true;
}

bool StreamLandmarks::FollowBody(std::span<const uint8_t> buffer, int32_t end) {
    if (!JudgesBody()) return true;
    return strings_.Feed(buffer.first(size_t(std::clamp<int64_t>(end, 0, int64_t(buffer.size())))));
}

bool StreamLandmarks::Follow(std::span<const uint8_t> buffer, int32_t start, int32_t end, int64_t streamPosition) {
    using namespace record_type;
    end = int32_t(std::min<int64_t>(end, int64_t(buffer.size())));
    if (start < 0 || start >= end) return true;
    if (headerCut_) {
        strings_.Stop();
        headerCut_ = false;
    } else if (start > 0 && strings_.Active() && !strings_.Feed(buffer.first(size_t(start)))) {
        return false;
    }

    blockFirstCellRow_ = blockFirstCellColumn_ = -1;
    std::vector<Walked> records;
    std::vector<int64_t> sheetStarts, rowBlockEnds;
    bool rowBlocksComplete = true;
    int64_t indexEnd = -1;  // stream position after this block's INDEX record, when it has one
    bool newSheet = false;
    bool rowChecked = false, cellChecked = false;  // the block's first ROW and first cell are judged
    int64_t pos = start;
    int64_t covered = int64_t(start);  // the walk's end: where the last whole-headed record ends
    for (; pos < end; pos += int64_t(U16At(buffer, pos + 2)) + 4) {
        const uint16_t type = U16At(buffer, pos);
        if (IsFiller(type) || pos + 4 > end) {
            covered = pos;
            headerCut_ = !IsFiller(type);
            strings_.Stop();
            break;
        }
        const uint16_t length = U16At(buffer, pos + 2);
        strings_.StartRecord(type);
        const int64_t bodyEnd = std::min<int64_t>(pos + 4 + length, end);
        if (bodyEnd > pos + 4 && !strings_.Feed(buffer.subspan(size_t(pos + 4), size_t(bodyEnd - pos - 4)))) return false;
        const int64_t at = streamPosition + pos;
        covered = pos + 4 + length;
        bool mustBeListed = type == kDbCell;
        const bool bodyHasRow = pos + 6 <= end;
        if (type == kBof) {
            const uint16_t kind = pos + 8 <= end ? U16At(buffer, pos + 6) : 0;
            if (kind == kGlobalsKind) {
                // One workbook has one globals section: a second one belongs to another workbook.
                if (globals_ > 0) return false;
                ++globals_;
            }
            // An embedded chart's cached values lie outside the sheet's used range.
            sheetRows_ = -1;
            sheetColumns_ = -1;
            if (kind == kGlobalsKind || kind == kWorksheetKind) {
                lastRowRecord_ = -1;
                rowBlocks_ = LandmarkList {.positions = nullptr, .complete = true,
                                           .trust = rowBlocks_.trust == LandmarkList::Trust::Confirmed
                                                        ? LandmarkList::Trust::Confirmed
                                                        : LandmarkList::Trust::Unconfirmed};
                rowBlockEnds.clear();
                newSheet = true;
                rowChecked = true;
            }
            // Charts embedded in a sheet carry cached values in cell records of their own numbering.
            lastCellRow_ = lastCellColumn_ = -1;
            cellChecked = true;
            mustBeListed = kind == kWorksheetKind;
        } else if (type == kBoundSheet && pos + 8 <= end) {
            sheetStarts.push_back(int64_t(U32At(buffer, pos + 4)));
        } else if (type == kIndex && length >= 16) {
            rowBlockEnds.clear();
            rowBlocksComplete = true;
            for (int64_t entry = pos + 20; entry < pos + 4 + length; entry += 4) {
                if (entry + 4 > end) {
                    rowBlocksComplete = false;
                    break;
                }
                rowBlockEnds.push_back(int64_t(U32At(buffer, entry)));
            }
            indexEnd = at + 4 + length;
        } else if (type == kDimensions && pos + 18 <= end && sheetRows_ < 0) {
            // The used range of the sheet, written before its rows. An empty range says nothing.
            const int64_t rows = U32At(buffer, pos + 8);
            const int32_t columns = U16At(buffer, pos + 14);
            if (rows > 0 && columns > 0) {
                sheetRows_ = rows;
                sheetColumns_ = columns;
            }
        } else if (type == kRow && bodyHasRow) {
            // Rows are written in ascending order: a block whose first ROW does not come after the
            // chain's last one continues some other sheet.
            const int32_t row = U16At(buffer, pos + 4);
            if (!rowChecked && lastRowRecord_ >= 0 && row <= lastRowRecord_) return false;
            if (sheetRows_ >= 0 && row >= sheetRows_) return false;  // beyond the sheet's used range
            rowChecked = true;
            lastRowRecord_ = row;
        } else if (IsCellRecord(type) && bodyHasRow) {
            // Cells are written row by row. Only the block's first cell is judged against the chain:
            // a few writers put an odd cell out of order, which must not cost the block it lies in.
            const int32_t row = U16At(buffer, pos + 4);
            const int32_t column = pos + 8 <= end ? U16At(buffer, pos + 6) : 0;
            // Cells lie inside the sheet's used range (the two multiple-cell records give their first
            // column only; their last one is not judged).
            if (sheetRows_ >= 0 && (row >= sheetRows_ || column >= sheetColumns_)) return false;
            if (!cellChecked) {
                if (lastCellRow_ >= 0 && row < lastCellRow_) return false;
                blockFirstCellRow_ = row;
                blockFirstCellColumn_ = column;
            }
            cellChecked = true;
            lastCellRow_ = row;
            lastCellColumn_ = column;
        }
        records.push_back({at, type, mustBeListed});
    }

    const int64_t from = streamPosition + start;
    const int64_t to = streamPosition + covered;
    if (!CheckList(sheets_, kBof, records, from, to)) return false;
    if (!newSheet && !CheckList(rowBlocks_, kDbCell, records, from, to)) return false;

    if (!sheetStarts.empty()) sheets_ = WithPositions(sheets_, std::move(sheetStarts), true);
    if (indexEnd >= 0) {
        rowBlocks_ = WithPositions(LandmarkList {.positions = nullptr, .complete = true, .trust = rowBlocks_.trust},
                                   std::move(rowBlockEnds), rowBlocksComplete);
        // The rest of the block already belongs to the sheet the index describes.
        std::vector<Walked> after;
        for (const Walked& record : records)
            if (record.position >= indexEnd) after.push_back(record);
        if (!CheckList(rowBlocks_, kDbCell, after, indexEnd, to)) return false;
    }
    return true;
}

}  // namespace tabulon
