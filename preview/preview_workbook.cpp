#include "preview/preview_workbook.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/little_endian.h"
#include "preview/biff_strings.h"
#include "preview/merge_coverage.h"
#include "preview/preview_number_text.h"

namespace tabulon {
namespace {

namespace Record {
constexpr uint16_t Eof = 0x000A;
constexpr uint16_t Font = 0x0031;
constexpr uint16_t Continue = 0x003C;
constexpr uint16_t DefColWidth = 0x0055;
constexpr uint16_t ColInfo = 0x007D;
constexpr uint16_t BoundSheet = 0x0085;
constexpr uint16_t MulRk = 0x00BD;
constexpr uint16_t Xf = 0x00E0;
constexpr uint16_t MergedCells = 0x00E5;
constexpr uint16_t Sst = 0x00FC;
constexpr uint16_t LabelSst = 0x00FD;
constexpr uint16_t ExtSst = 0x00FF;
constexpr uint16_t Number = 0x0203;
constexpr uint16_t BoolErr = 0x0205;
constexpr uint16_t Row = 0x0208;
constexpr uint16_t DefaultRowHeight = 0x0225;
constexpr uint16_t Rk = 0x027E;
constexpr uint16_t Format = 0x041E;
constexpr uint16_t Bof = 0x0809;
}  // namespace Record

// Substream types of BOF records that do not start a sheet of cells.
constexpr uint16_t kGlobalsSubstream = 0x0005;
constexpr uint16_t kChartSubstream = 0x0020;

// BIFF8 records are at most this long; a longer length field means the position is not a record.
constexpr uint16_t kMaxRecordLength = 8224;
// The naming walk reads an SST of the full length as if it were this long.
constexpr uint16_t kNamingSstLength = 8024;

constexpr size_t kMaxFontNameCharacters = 31;
constexpr size_t kMergeRowLimit = 1000;   // ranges reaching beyond this row are not kept
constexpr size_t kMergeColumnLimit = 26;  // nor beyond this column
constexpr uint16_t kColumnInfoLimit = 26; // widths are kept for columns 0-25

// Record starts the walk resynchronises on: LABELSST of length 10, ROW of length 16, BOF of length 16.
constexpr uint8_t kLabelSstSignature[4] = {0xFD, 0x00, 0x0A, 0x00};
constexpr uint8_t kRowSignature[4] = {0x08, 0x02, 0x10, 0x00};
constexpr uint8_t kBofSignature[4] = {0x09, 0x08, 0x10, 0x00};

bool StartsWith(const uint8_t* p, const uint8_t (&signature)[4]) { return std::memcmp(p, signature, 4) == 0; }

bool IsResyncSignature(const uint8_t* p) {
    return StartsWith(p, kLabelSstSignature) || StartsWith(p, kRowSignature) || StartsWith(p, kBofSignature);
}

// Finds the next position at or after a start where a signature begins. Searches only move forward,
// so each one remembers its last answer: a walk that asks again from a later position gets it without
// scanning the same bytes twice, which keeps garbage full of oversized lengths linear.
class SignatureSearch {
public:
    SignatureSearch(const uint8_t* data, size_t length, bool (*matches)(const uint8_t*))
        : data_(data), length_(length), matches_(matches) {}

    // The position, or npos when none lies before the end.
    size_t From(size_t start) {
        if (start >= searchedFrom_ && (found_ == npos || found_ >= start)) return found_;
        searchedFrom_ = start;
        found_ = npos;
        for (size_t p = start; p + 4 <= length_; ++p) {
            if (matches_(data_ + p)) {
                found_ = p;
                break;
            }
        }
        return found_;
    }

    static constexpr size_t npos = static_cast<size_t>(-1);

private:
    const uint8_t* data_;
    size_t length_;
    bool (*matches_)(const uint8_t*);
    size_t searchedFrom_ = npos;
    size_t found_ = npos;
};

bool IsBofSignature(const uint8_t* p) { return StartsWith(p, kBofSignature); }

int32_t ToPixels(double value) {
    if (!(value > -1e9 && value < 1e9)) return 0;
    return static_cast<int32_t>(std::lround(value));
}

// The length a record must have for the reader to take its values; any other length makes the walk
// resynchronise. Records the reader takes values from must also lie wholly inside the data (`fits`).
bool LengthAccepted(uint16_t type, uint16_t length, bool fits) {
    switch (type) {
        case 0x0000:
        case 0xFFFF: return false;
        case Record::Eof: return length == 0;
        case Record::BoundSheet: return length >= 8 && fits;
        case Record::Sst: return length >= 9;  // a cut-off table still gives the strings it holds
        case Record::LabelSst: return length >= 10 && fits;
        case Record::Number: return length == 14 && fits;
        case Record::Rk: return length >= 10 && fits;
        case Record::MulRk: return length > 6 && (length - 6) % 6 == 0 && fits;
        case Record::BoolErr: return length == 8 && fits;
        // 14 bytes of attributes and the name's 2-byte header: some writers leave the name empty.
        case Record::Font: return length >= 16 && fits;
        case Record::Xf: return length == 20 && fits;
        case Record::DefColWidth: return length == 2 && fits;
        case Record::ColInfo: return length == 12 && fits;
        case Record::DefaultRowHeight: return length == 4 && fits;
        case Record::Row: return length == 16 && fits;
        case Record::MergedCells: return length >= 10 && (length - 2) % 8 == 0 && fits;
        // The stride word, then 8 bytes per bucket: an empty table's index is 2 bytes long.
        case Record::ExtSst: return length >= 2;
        // The format number and a string header: "@" or "0" make records of 6 bytes.
        case Record::Format: return length >= 5;
        default: return true;
    }
}

// Records that put values into the current sheet.
bool IsSheetContent(uint16_t type) {
    switch (type) {
        case Record::LabelSst:
        case Record::Number:
        case Record::Rk:
        case Record::MulRk:
        case Record::BoolErr:
        case Record::DefColWidth:
        case Record::ColInfo:
        case Record::DefaultRowHeight:
        case Record::Row:
        case Record::MergedCells: return true;
        default: return false;
    }
}

}  // namespace

struct PreviewWorkbook::State {
    PreviewScale scale;
    // Sheets that receive the cells of worksheet BOFs, in order: every BOUNDSHEET except charts and
    // VB modules, whose substreams are not counted.
    std::vector<size_t> worksheetSlots;
    // Worksheet BOF number -> unnamed sheet made for it when there were more worksheet BOFs than sheets.
    std::map<int32_t, size_t> extraSlots;
    // Sheet index -> the coverage of its merged ranges.
    std::map<size_t, MergeCoverage> merges;
    // Chart substreams open at the position: a chart sheet's, or one embedded in a worksheet. Their
    // NUMBER and LABEL-like records are the chart's cached series values, not cells of any sheet.
    int32_t chartDepth = 0;
};

PreviewWorkbook::PreviewWorkbook() : state_(std::make_unique<State>()) {}
PreviewWorkbook::~PreviewWorkbook() = default;

std::unique_lock<std::mutex> PreviewWorkbook::Lock() const { return std::unique_lock<std::mutex>(mutex_); }

PreviewContent PreviewWorkbook::Snapshot() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return content_;
}

void PreviewWorkbook::SetLoadedCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> guard(mutex_);
    loaded_ = std::move(callback);
}

void PreviewWorkbook::Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    content_ = PreviewContent();
    *state_ = State();
    state_->scale = CurrentPreviewScale();
}

void PreviewWorkbook::Load(const uint8_t* data, size_t length) {
    Clear();
    constexpr size_t kStreamStart = 512;
    if (data != nullptr && length > kStreamStart + 4) {
        SignatureSearch nextBof(data, length, IsBofSignature);
        SignatureSearch nextSignature(data, length, IsResyncSignature);
        size_t position = kStreamStart;
        while (position + 4 <= length) {
            if (LoadU16(data + position + 2) > kMaxRecordLength) {
                // Not a record: the stream was left. Pick it up again at the next sheet or workbook start.
                size_t bof = nextBof.From(position + 1);
                if (bof != SignatureSearch::npos) {
                    position = bof;
                    continue;
                }
            } else if (uint16_t advance = ReadRecord(data, position, length - position)) {
                position += advance;
                continue;
            }
            // Resynchronise: the next cell, row or BOF signature, searched to the end of the data.
            size_t next = nextSignature.From(position + 1);
            if (next == SignatureSearch::npos) break;
            position = next;
        }
        ResolveSharedStrings();
    }
    std::function<void()> loaded;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!content_.sheets.empty()) loaded = loaded_;
    }
    if (loaded) loaded();
}

bool PreviewWorkbook::LoadForNaming(const uint8_t* data, size_t length) {
    Clear();
    constexpr size_t kNamingMinimum = 3072;
    if (data == nullptr || length < kNamingMinimum) return false;
    size_t position = SignatureSearch::npos;
    for (size_t boundary = 0; boundary < kNamingMinimum; boundary += 512) {
        if (StartsWith(data + boundary, kBofSignature)) {
            position = boundary;
            break;
        }
    }
    if (position == SignatureSearch::npos) return false;
    while (position + 4 <= length) {
        if (LoadU16(data + position + 2) > kMaxRecordLength) break;
        uint16_t advance = HandleRecord(data, position, length - position, true);
        if (advance == 0) break;
        position += advance;
    }
    ResolveSharedStrings();
    return true;
}

void PreviewWorkbook::ResolveSharedStrings() {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto& strings = content_.sharedStrings;
    for (PreviewSheet& sheet : content_.sheets)
        for (PreviewCell& cell : sheet.cells)
            if (cell.text.empty() && cell.sharedStringIndex >= 0 &&
                static_cast<size_t>(cell.sharedStringIndex) < strings.size())
                cell.text = strings[static_cast<size_t>(cell.sharedStringIndex)];
}

uint16_t PreviewWorkbook::ReadRecord(const uint8_t* data, size_t position, size_t remaining) {
    return HandleRecord(data, position, remaining, false);
}

PreviewSheet& PreviewWorkbook::TargetSheet() {
    // Worksheet BOF n (counting from 1) fills the n-th worksheet slot; cells before any BOF go to the
    // first one. A BOF without a BOUNDSHEET gets an unnamed sheet of its own.
    State& state = *state_;
    int32_t slot = content_.currentSheet > 0 ? content_.currentSheet - 1 : 0;
    if (static_cast<size_t>(slot) < state.worksheetSlots.size()) return content_.sheets[state.worksheetSlots[slot]];
    auto found = state.extraSlots.find(slot);
    if (found != state.extraSlots.end()) return content_.sheets[found->second];
    content_.sheets.emplace_back();
    state.extraSlots.emplace(slot, content_.sheets.size() - 1);
    return content_.sheets.back();
}

void PreviewWorkbook::RecordMerges(const uint8_t* record, uint16_t length) {
    PreviewSheet& sheet = TargetSheet();
    size_t sheetIndex = static_cast<size_t>(&sheet - content_.sheets.data());
    MergeCoverage* coverage = nullptr;
    size_t ranges = std::min<size_t>(LoadU16(record + 4), (length - 2u) / 8u);
    for (size_t i = 0; i < ranges; ++i) {
        const uint8_t* range = record + 6 + 8 * i;
        uint16_t firstRow = LoadU16(range), lastRow = LoadU16(range + 2);
        uint16_t firstColumn = LoadU16(range + 4), lastColumn = LoadU16(range + 6);
        if (firstColumn > kMergeColumnLimit || lastColumn > kMergeColumnLimit || firstRow > kMergeRowLimit ||
            lastRow > kMergeRowLimit || lastRow < firstRow)
            continue;
        sheet.mergeAnchors[uint32_t(firstRow) * 65536u + firstColumn] = uint32_t(lastRow) * 65536u + lastColumn;
        if (coverage == nullptr) coverage = &state_->merges[sheetIndex];
        coverage->AddRange(firstRow, lastRow, firstColumn, lastColumn);
    }
    if (coverage != nullptr) coverage->WriteEdges(sheet.mergeEdges);
}

uint16_t PreviewWorkbook::HandleRecord(const uint8_t* data, size_t position, size_t remaining, bool naming) {
    if (data == nullptr || remaining < 4) return 0;
    const uint8_t* record = data + position;
    const uint16_t type = LoadU16(record);
    const uint16_t length = LoadU16(record + 2);
    if (length > kMaxRecordLength) return 0;
    const uint16_t advance = static_cast<uint16_t>(length + 4);
    const bool fits = length <= remaining - 4;

    if (naming && type != Record::BoundSheet && type != Record::Sst && type != Record::LabelSst &&
        type != Record::Bof && type != Record::Eof)
        return advance;

    if (!LengthAccepted(type, length, fits)) return 0;

    std::lock_guard<std::mutex> guard(mutex_);
    State& state = *state_;
    auto addCell = [&](uint16_t row, uint16_t column, uint16_t format, std::u16string text, int32_t sharedString) {
        PreviewCell cell;
        cell.text = std::move(text);
        cell.row = row;
        cell.column = column;
        cell.formatIndex = format;
        cell.sharedStringIndex = sharedString;
        TargetSheet().cells.push_back(std::move(cell));
    };

    // Inside a chart, cell-like records are its cached series values: stepped over.
    if (state.chartDepth > 0 && IsSheetContent(type)) return advance;

    switch (type) {
        case Record::Eof:
            if (state.chartDepth > 0) --state.chartDepth;
            return advance;
        case Record::Bof:
            if (length >= 4 && remaining >= 8) {
                uint16_t substream = LoadU16(record + 6);
                if (substream == kChartSubstream) {
                    ++state.chartDepth;
                } else {
                    state.chartDepth = 0;
                    if (substream != kGlobalsSubstream) ++content_.currentSheet;
                }
            }
            return advance;
        case Record::BoundSheet: {
            PreviewSheet sheet;
            const uint8_t sheetType = record[9];
            sheet.sheetType = sheetType;
            sheet.name = ReadShortString(record + 10, length - 6u, 255);
            content_.sheets.push_back(std::move(sheet));
            if (sheetType != PreviewSheetType::Chart && sheetType != PreviewSheetType::VbModule)
                state.worksheetSlots.push_back(content_.sheets.size() - 1);
            return advance;
        }
        case Record::Sst: {
            if (remaining < 12) return 0;
            uint32_t count = LoadU32(record + 8);
            size_t bodyLength = std::min<size_t>(length, remaining - 4);
            if (naming && length == kMaxRecordLength) bodyLength = std::min<size_t>(bodyLength, kNamingSstLength);
            std::vector<ByteSpan> segments {{record + 12, bodyLength - 8}};
            if (!naming) {
                // The table goes on in the CONTINUE records right after it.
                size_t next = position + 4 + length;
                const size_t end = position + remaining;
                while (next + 4 <= end && next > position) {
                    uint16_t nextType = LoadU16(data + next);
                    uint16_t nextLength = LoadU16(data + next + 2);
                    if (nextType != Record::Continue || nextLength > kMaxRecordLength) break;
                    segments.push_back({data + next + 4, std::min<size_t>(nextLength, end - next - 4)});
                    next += 4 + size_t(nextLength);
                }
            }
            std::vector<std::u16string> strings = ReadSharedStrings(segments, count);
            for (auto& text : strings) content_.sharedStrings.push_back(std::move(text));
            return advance;
        }
        case Record::LabelSst:
            addCell(LoadU16(record + 4), LoadU16(record + 6), LoadU16(record + 8), std::u16string(),
                    static_cast<int32_t>(LoadU32(record + 10)));
            return advance;
        case Record::Number: {
            double value = 0;
            uint64_t bits = LoadU64(record + 10);
            std::memcpy(&value, &bits, sizeof value);
            addCell(LoadU16(record + 4), LoadU16(record + 6), LoadU16(record + 8), PreviewNumberText(value), -1);
            return advance;
        }
        case Record::Rk:
            addCell(LoadU16(record + 4), LoadU16(record + 6), LoadU16(record + 8), RkText(LoadU32(record + 10)), -1);
            return advance;
        case Record::MulRk: {
            uint16_t row = LoadU16(record + 4);
            uint16_t column = LoadU16(record + 6);
            for (size_t i = 0, entries = (length - 6u) / 6u; i < entries; ++i, ++column) {
                const uint8_t* entry = record + 8 + 6 * i;
                std::u16string text = RkText(LoadU32(entry + 2));
                if (!text.empty()) addCell(row, column, LoadU16(entry), std::move(text), -1);
            }
            return advance;
        }
        case Record::BoolErr: {
            uint8_t value = record[10];
            std::u16string text;
            if (record[11] != 0) {
                for (char c : "ErrCode:" + std::to_string(value)) text.push_back(static_cast<char16_t>(c));
            } else {
                text = value != 0 ? u"True" : u"False";
            }
            addCell(LoadU16(record + 4), LoadU16(record + 6), LoadU16(record + 8), std::move(text), -1);
            return advance;
        }
        case Record::Font: {
            PreviewFont font;
            font.height = LoadU16(record + 4);
            uint16_t options = LoadU16(record + 6);
            font.italic = (options & 0x0002) != 0;
            font.strikeOut = (options & 0x0008) != 0;
            font.weight = LoadU16(record + 10);
            font.underline = record[14];
            font.family = record[15];
            font.characterSet = record[16];
            font.faceName = ReadShortString(record + 18, length - 14u, kMaxFontNameCharacters);
            content_.fonts.push_back(std::move(font));
            return advance;
        }
        case Record::Xf: {
            PreviewFormat format {};
            for (size_t i = 0; i < format.size(); ++i) format[i] = LoadU32(record + 4 + 4 * i);
            content_.formats.push_back(format);
            return advance;
        }
        case Record::DefColWidth:
            // The body is the default width in characters.
            TargetSheet().columnWidths[-1] = ToPixels(LoadU16(record + 4) * state.scale.characterWidth);
            return advance;
        case Record::ColInfo: {
            uint16_t first = LoadU16(record + 4), last = LoadU16(record + 6);
            if (first < kColumnInfoLimit && last < kColumnInfoLimit) {
                // The high byte of the width in 1/256 characters is the width in whole characters.
                int32_t width = ToPixels(record[9] * state.scale.characterWidth);
                PreviewSheet& sheet = TargetSheet();
                for (uint16_t column = first; column <= last; ++column) sheet.columnWidths[column] = width;
            }
            return advance;
        }
        case Record::DefaultRowHeight:
            TargetSheet().rowHeights[-1] = ToPixels(LoadU16(record + 6) / 15.0 * state.scale.pixelsPerPoint);
            return advance;
        case Record::Row: {
            uint16_t height = LoadU16(record + 10);
            // Bit 15 set: the row keeps the default height.
            if ((height & 0x8000) == 0)
                TargetSheet().rowHeights[LoadU16(record + 4)] = ToPixels(height / 15.0 * state.scale.pixelsPerPoint);
            return advance;
        }
        case Record::MergedCells:
            RecordMerges(record, length);
            return advance;
        default:
            return advance;
    }
}

}  // namespace tabulon
