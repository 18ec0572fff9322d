#pragma once
// The preview's own workbook reader. It does not open the compound document: it walks the BIFF8
// records of the workbook stream straight from a recovered file's raw bytes, skips stretches that are
// not part of the stream (a foreign sector, garbage, a gap) by resynchronising on record signatures,
// and collects what the cell grid shows: sheets, shared strings, cell texts, column widths, row
// heights, fonts, cell formats and merged ranges.
//
// Every read is checked against the bytes given: whatever they hold, the reader never reads outside
// them, never loops forever and never throws. Callers need not pad the data.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "preview/preview_scale.h"

namespace tabulon {

// The most bytes of a file the preview reads (the window and the command line cut files there).
constexpr size_t kPreviewByteLimit = 5u * 1024u * 1024u;

// BOUNDSHEET sheet types (the byte at offset 9 of the record).
namespace PreviewSheetType {
constexpr uint8_t Worksheet = 0x00;
constexpr uint8_t MacroSheet = 0x01;
constexpr uint8_t Chart = 0x02;
constexpr uint8_t VbModule = 0x06;
}  // namespace PreviewSheetType

struct PreviewCell {
    std::u16string text;
    uint16_t row = 0;
    uint16_t column = 0;
    uint16_t formatIndex = 0;       // index into PreviewContent::formats (the XF records)
    int32_t sharedStringIndex = -1; // LABELSST cells: the SST entry; its text is filled in after the walk
};

struct PreviewSheet {
    std::u16string name;  // empty for a sheet made for cells that no BOUNDSHEET named
    uint8_t sheetType = PreviewSheetType::Worksheet;
    std::vector<PreviewCell> cells;  // in record order
    std::map<int32_t, int32_t> columnWidths;  // column -> pixels; key -1 = default width
    std::map<int32_t, int32_t> rowHeights;    // row -> pixels; key -1 = default height
    // Merged ranges: key row * 65536 + column of a range's top-left cell -> lastRow * 65536 + lastColumn.
    std::map<uint32_t, uint32_t> mergeAnchors;
    // Every cell inside a merged range (row * 65536 + column) -> edges of its range it lies on.
    std::map<uint32_t, uint8_t> mergeEdges;
};

// Bits of PreviewSheet::mergeEdges values.
namespace MergeEdge {
constexpr uint8_t Left = 1;
constexpr uint8_t Top = 2;
constexpr uint8_t Right = 4;
constexpr uint8_t Bottom = 8;
}  // namespace MergeEdge

struct PreviewFont {
    uint16_t height = 0;  // twentieths of a point
    bool italic = false;
    uint8_t underline = 0;  // 0 none, 1 single, 2 double, 0x21 single accounting, 0x22 double accounting
    bool strikeOut = false;
    uint16_t weight = 400;
    uint8_t family = 0;
    uint8_t characterSet = 0;
    std::u16string faceName;  // at most 31 characters
};

// The five 32-bit words of an XF record's body. Word 0: font index (bits 0-15), number format
// (16-31); word 1: alignment bits (horizontal 0-2, wrap 3, vertical 4-6), and so on as BIFF8 lays out.
using PreviewFormat = std::array<uint32_t, 5>;

// Everything the reader found. Guarded by PreviewWorkbook's lock.
struct PreviewContent {
    std::vector<PreviewSheet> sheets;  // one per BOUNDSHEET in record order, plus sheets made for unnamed cells
    std::vector<std::u16string> sharedStrings;  // SST entries in order
    std::vector<PreviewFont> fonts;              // one per FONT record
    std::vector<PreviewFormat> formats;          // one per XF record
    int32_t currentSheet = 0;  // worksheet BOF records seen so far
};

class PreviewWorkbook {
public:
    PreviewWorkbook();
    ~PreviewWorkbook();
    PreviewWorkbook(const PreviewWorkbook&) = delete;
    PreviewWorkbook& operator=(const PreviewWorkbook&) = delete;

    // Clears all content, then walks the records from offset 512 (the compound document's header
    // fills the first sector; the workbook stream is taken to start in the next one) and resolves the
    // shared-string cells. Data of 516 bytes or fewer yields nothing. When at least one sheet was
    // found, the loaded callback runs (after the lock is released).
    void Load(const uint8_t* data, size_t length);

    // Handles the one record at data[position]; `remaining` is the number of bytes from `position` to
    // the end of the data, and nothing beyond it is read. Returns the number of bytes to advance
    // (record length + 4), or 0 when the record is not plausible and the walk must resynchronise.
    uint16_t ReadRecord(const uint8_t* data, size_t position, size_t remaining);

    // The reduced walk that names files found by content (see NameFromContent): only data of 3072
    // bytes or more, starting at the first 512-byte boundary within the first 3072 bytes where a BOF
    // record of length 16 starts; only BOUNDSHEET, SST (no CONTINUE joining, an 8224-byte record read
    // as 8024 bytes), LABELSST, BOF and EOF are handled, every other record is stepped over; the walk
    // stops at a length above 8224, a rejected record or the last 4 bytes. Returns false when no start
    // was found. Runs no callback.
    bool LoadForNaming(const uint8_t* data, size_t length);

    // Called at the end of Load when the workbook has at least one sheet; the grid repaints from it.
    void SetLoadedCallback(std::function<void()> callback);

    // The lock that guards the content. Hold it while reading Content().
    std::unique_lock<std::mutex> Lock() const;
    const PreviewContent& Content() const { return content_; }
    // A copy of the content taken under the lock.
    PreviewContent Snapshot() const;

private:
    struct State;

    void Clear();
    void ResolveSharedStrings();
    uint16_t HandleRecord(const uint8_t* data, size_t position, size_t remaining, bool naming);
    PreviewSheet& TargetSheet();
    void RecordMerges(const uint8_t* record, uint16_t length);

    mutable std::mutex mutex_;
    PreviewContent content_;
    std::unique_ptr<State> state_;
    std::function<void()> loaded_;
};

}  // namespace tabulon
