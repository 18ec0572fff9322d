// Writing a Workbook: the grids become cell records (with the shared string table built on the
// way), sizes and stream positions are filled in, and the whole stream is written into one
// buffer that goes into the container in one call.

#include <unistd.h>

#include <algorithm>
#include <unordered_map>

#include "workbook/rk_value.h"
#include "workbook/workbook.h"

namespace tabulon {
namespace {

constexpr uint16_t kRowHeight = 255;
constexpr uint64_t kMaxStreamBytes = 0xFFFFFFFFull;

class SharedStrings {
public:
    explicit SharedStrings(SstRecord& sst) : sst_(sst) {
        sst_.strings.clear();
        sst_.totalCount = 0;
        sst_.uniqueCount = 0;
    }

    uint32_t Add(const SheetCell& cell) {
        ++sst_.totalCount;
        if (cell.Kind() == CellKind::NarrowText) return Find(narrow_, cell.NarrowText(), [&] { return BiffText::Narrow(cell.NarrowText()); });
        return Find(wide_, cell.WideText(), [&] { return BiffText::Wide(cell.WideText()); });
    }

private:
    template <typename Map, typename Key, typename Make>
    uint32_t Find(Map& map, const Key& key, Make make) {
        auto [where, added] = map.try_emplace(key, static_cast<uint32_t>(sst_.strings.size()));
        if (added) {
            sst_.strings.push_back(make());
            ++sst_.uniqueCount;
        }
        return where->second;
    }

    SstRecord& sst_;
    std::unordered_map<std::string, uint32_t> narrow_;
    std::unordered_map<std::u16string, uint32_t> wide_;
};

template <typename T>
CellRecord MakeCell(uint32_t row, uint32_t column, T*& record) {
    auto owned = std::make_unique<T>();
    owned->row = static_cast<uint16_t>(row);
    owned->column = static_cast<uint16_t>(column);
    record = owned.get();
    return CellRecord(std::move(owned));
}

// The RK form of a numeric cell, when one holds its value exactly.
std::optional<uint32_t> CellRk(const SheetCell& cell) {
    return cell.Kind() == CellKind::Integer ? IntegerRk(cell.IntegerValue()) : RealRk(cell.RealValue());
}

// Appends the records of the number cells starting at `column`; returns the cells consumed. A
// run of neighbours of the same kind that all have an RK form becomes one MULRK.
size_t AddNumbers(const std::vector<SheetCell>& cells, size_t column, uint32_t row, std::vector<CellRecord>& out) {
    const SheetCell& first = cells[column];
    auto rk = CellRk(first);
    if (!rk) {
        NumberRecord* number = nullptr;
        out.push_back(MakeCell(row, static_cast<uint32_t>(column), number));
        number->value = first.Kind() == CellKind::Integer ? double(first.IntegerValue()) : first.RealValue();
        return 1;
    }
    size_t end = column + 1;
    while (end < cells.size() && cells[end].Kind() == first.Kind() && CellRk(cells[end])) ++end;
    if (end - column == 1) {
        RkRecord* single = nullptr;
        out.push_back(MakeCell(row, static_cast<uint32_t>(column), single));
        single->rk = *rk;
        return 1;
    }
    MulRkRecord* run = nullptr;
    out.push_back(MakeCell(row, static_cast<uint32_t>(column), run));
    run->entries.reserve(end - column);
    for (size_t c = column; c < end; ++c) run->entries.push_back({0, *CellRk(cells[c])});
    return end - column;
}

void BuildSheetRecords(const Worksheet& sheet, const std::vector<std::vector<SheetCell>>& rows, SheetRecordSet& set,
                       SharedStrings& strings) {
    uint32_t rowCount = sheet.RowCount();
    uint32_t columnCount = sheet.ColumnCount();
    set.index.lastRowPlusOne = rowCount;
    set.dimensions.lastRowPlusOne = rowCount;
    set.dimensions.lastColumnPlusOne = static_cast<uint16_t>(columnCount);
    size_t blocks = (rowCount + kRowsPerBlock - 1) / kRowsPerBlock;
    set.rowBlocks.resize(blocks);
    set.index.dbCellPositions.assign(std::max<size_t>(blocks, 1), 0);

    bool any = false;
    uint32_t firstRow = 0;
    uint32_t firstColumn = 0;
    for (uint32_t r = 0; r < rowCount && r < rows.size(); ++r) {
        const std::vector<SheetCell>& cells = rows[r];
        RowBlock& block = set.rowBlocks[r / kRowsPerBlock];
        bool rowStarted = false;
        size_t c = 0;
        while (c < cells.size()) {
            const SheetCell& cell = cells[c];
            if (cell.IsEmpty()) {
                ++c;
                continue;
            }
            if (!any) {
                any = true;
                firstRow = r;
                firstColumn = static_cast<uint32_t>(c);
            }
            // The used range starts at the leftmost cell of any row, not only of the first one.
            firstColumn = std::min(firstColumn, static_cast<uint32_t>(c));
            if (!rowStarted) {
                RowRecord rowRecord;
                rowRecord.row = static_cast<uint16_t>(r);
                rowRecord.lastColumnPlusOne = static_cast<uint16_t>(columnCount);
                rowRecord.height = kRowHeight;
                block.rows.push_back(rowRecord);
                block.rowFirstCell.push_back(block.cells.size());
                rowStarted = true;
            }
            if (cell.Kind() == CellKind::Integer || cell.Kind() == CellKind::Real) {
                c += AddNumbers(cells, c, r, block.cells);
            } else {
                LabelSstRecord* label = nullptr;
                block.cells.push_back(MakeCell(r, static_cast<uint32_t>(c), label));
                label->sstIndex = strings.Add(cell);
                ++c;
            }
        }
    }
    set.index.firstRow = firstRow;
    set.dimensions.firstRow = firstRow;
    set.dimensions.firstColumn = static_cast<uint16_t>(firstColumn);
}

}  // namespace

void Workbook::RebuildRecords() {
    SharedStrings strings(globals_.sst);
    sheetRecords_.clear();
    for (size_t i = 0; i < sheets_.size(); ++i) {
        sheetRecords_.push_back(SheetRecordSet::Default(i == 0));
        BuildSheetRecords(*sheets_[i], sheets_[i]->rows_, sheetRecords_.back(), strings);
    }
}

// Fills in BOUNDSHEET positions, DBCELL offsets and INDEX positions; returns the stream size, or
// 0 when the stream would not fit 32-bit positions.
uint32_t Workbook::LayoutStream() {
    uint64_t position = globals_.bof.RecordSize() + globals_.window1.RecordSize();
    for (auto& font : globals_.fonts) position += font.RecordSize();
    for (auto& xf : globals_.xfs) position += xf.RecordSize();
    for (auto& style : globals_.styles) position += style.RecordSize();
    for (auto& bound : globals_.boundSheets) position += bound.RecordSize();
    position += globals_.sst.RecordSize() + globals_.eof.RecordSize();

    for (size_t i = 0; i < sheetRecords_.size(); ++i) {
        SheetRecordSet& set = sheetRecords_[i];
        if (position > kMaxStreamBytes) return 0;
        globals_.boundSheets[i].streamPosition = static_cast<uint32_t>(position);
        position += set.bof.RecordSize() + set.index.RecordSize() + set.dimensions.RecordSize();
        for (size_t b = 0; b < set.rowBlocks.size(); ++b) {
            RowBlock& block = set.rowBlocks[b];
            uint64_t blockStart = position;
            position += uint64_t(RowRecord::kSize) * block.rows.size();
            block.dbCell.rowOffsets.clear();
            uint64_t previousRowCells = 0;
            for (size_t r = 0; r < block.rows.size(); ++r) {
                size_t end = r + 1 < block.rows.size() ? block.rowFirstCell[r + 1] : block.cells.size();
                uint64_t rowCells = 0;
                for (size_t k = block.rowFirstCell[r]; k < end; ++k) rowCells += block.cells[k].RecordSize();
                // The first row's cells start after the remaining ROW records; each later row's
                // after the previous row's cells.
                uint64_t offset = r == 0 ? uint64_t(RowRecord::kSize) * (block.rows.size() - 1) : previousRowCells;
                block.dbCell.rowOffsets.push_back(static_cast<uint16_t>(std::min<uint64_t>(offset, 0xFFFF)));
                previousRowCells = rowCells;
                position += rowCells;
            }
            block.dbCell.firstRowOffset = static_cast<uint32_t>(position - blockStart);
            if (position > kMaxStreamBytes) return 0;
            set.index.dbCellPositions[b] = static_cast<uint32_t>(position);
            position += block.dbCell.RecordSize();
        }
        position += set.window2.RecordSize() + set.eof.RecordSize();
    }
    return position > kMaxStreamBytes ? 0 : static_cast<uint32_t>(position);
}

std::vector<uint8_t> Workbook::BuildStream() {
    if (sheets_.empty()) return {};
    RebuildRecords();
    uint32_t total = LayoutStream();
    if (total == 0) return {};
    std::vector<uint8_t> stream(total, 0);
    size_t at = 0;
    bool ok = true;
    auto put = [&](BiffRecord& record) {
        size_t written = ok ? record.Write(std::span<uint8_t>(stream).subspan(at)) : 0;
        if (written == 0) ok = false;
        at += written;
    };
    put(globals_.bof);
    put(globals_.window1);
    for (auto& font : globals_.fonts) put(font);
    for (auto& xf : globals_.xfs) put(xf);
    for (auto& style : globals_.styles) put(style);
    for (auto& bound : globals_.boundSheets) put(bound);
    put(globals_.sst);
    put(globals_.eof);
    for (SheetRecordSet& set : sheetRecords_) {
        put(set.bof);
        put(set.index);
        put(set.dimensions);
        for (RowBlock& block : set.rowBlocks) {
            for (RowRecord& row : block.rows) put(row);
            for (CellRecord& cell : block.cells) {
                size_t written = ok ? cell.Write(std::span<uint8_t>(stream).subspan(at)) : 0;
                if (written == 0) ok = false;
                at += written;
            }
            put(block.dbCell);
        }
        put(set.window2);
        put(set.eof);
    }
    if (!ok || at != stream.size()) return {};
    return stream;
}

bool Workbook::SaveAs(const std::string& path) {
    file_.Close();
    std::vector<uint8_t> stream = BuildStream();
    if (stream.empty()) return false;
    if (!file_.Create(path)) return false;
    if (file_.MakeStream("Workbook") == kCompoundOk && file_.WriteStream("Workbook", stream) == kCompoundOk) return true;
    // A container that could not be completed is not left behind looking like a workbook.
    file_.Close();
    unlink(path.c_str());
    return false;
}

}  // namespace tabulon
