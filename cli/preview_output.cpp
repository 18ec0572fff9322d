#include "cli/preview_output.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "common/utf8_text.h"

namespace tabulon::cli {
namespace {

constexpr size_t kMaxGridColumnWidth = 40;

// Terminal columns a character takes: 2 for East Asian wide and full-width forms, 0 for combining
// marks, 1 otherwise.
int DisplayWidth(char32_t code) {
    if ((code >= 0x0300 && code <= 0x036F) || (code >= 0x200B && code <= 0x200F)) return 0;
    if ((code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF && code != 0x303F) ||
        (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) || (code >= 0xFE30 && code <= 0xFE4F) ||
        (code >= 0xFF00 && code <= 0xFF60) || (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD))
        return 2;
    return 1;
}

struct GridText {
    std::string utf8;
    size_t width = 0;
};

// A cell text for the grid: control characters become spaces, and the text is cut to the column limit.
GridText ForGrid(const std::u16string& text) {
    GridText out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x20 || code == 0x7F) code = ' ';
        int width = DisplayWidth(code);
        if (out.width + width > kMaxGridColumnWidth - 1 && i + 1 < text.size()) {
            AppendUtf8(out.utf8, U'…');
            out.width += 1;
            break;
        }
        AppendUtf8(out.utf8, code);
        out.width += width;
    }
    return out;
}

void Pad(std::string& line, size_t count) { line.append(count, ' '); }

// The sheet's cells by row and column; a later cell at the same place replaces an earlier one, as in
// the grid.
std::map<uint16_t, std::map<uint16_t, const std::u16string*>> CellsByRow(const PreviewSheet& sheet) {
    std::map<uint16_t, std::map<uint16_t, const std::u16string*>> rows;
    for (const PreviewCell& cell : sheet.cells) rows[cell.row][cell.column] = &cell.text;
    return rows;
}

std::string CsvField(const std::u16string& text) {
    std::string utf8 = Utf16ToUtf8(text);
    if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
    std::string quoted = "\"";
    for (char c : utf8) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

bool ParsePreviewOutputFormat(const std::string& name, PreviewOutputFormat& format) {
    if (name == "text") format = PreviewOutputFormat::Text;
    else if (name == "csv") format = PreviewOutputFormat::Csv;
    else if (name == "json") format = PreviewOutputFormat::Json;
    else return false;
    return true;
}

std::string ColumnLetters(uint32_t column) {
    std::string letters;
    uint64_t n = uint64_t(column) + 1;
    while (n > 0) {
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
        n = (n - 1) / 26;
    }
    return letters;
}

std::string PreviewSheetText(const PreviewContent& content, size_t sheetIndex) {
    const PreviewSheet& sheet = content.sheets.at(sheetIndex);
    std::string out = fmt::format("sheet {} of {}: {}\n", sheetIndex + 1, content.sheets.size(),
                                  sheet.name.empty() ? std::string("(unnamed)") : Utf16ToUtf8(sheet.name));
    auto rows = CellsByRow(sheet);
    if (rows.empty()) return out + "(no cells)\n";

    uint16_t lastRow = rows.rbegin()->first;
    uint16_t lastColumn = 0;
    std::map<uint16_t, std::map<uint16_t, GridText>> grid;
    for (const auto& [row, columns] : rows)
        for (const auto& [column, text] : columns) {
            lastColumn = std::max(lastColumn, column);
            grid[row][column] = ForGrid(*text);
        }
    std::vector<size_t> widths(size_t(lastColumn) + 1);
    for (uint32_t c = 0; c <= lastColumn; ++c) widths[c] = ColumnLetters(c).size();
    for (const auto& [row, columns] : grid)
        for (const auto& [column, text] : columns) widths[column] = std::max(widths[column], text.width);
    const size_t numberWidth = std::to_string(uint32_t(lastRow) + 1).size();

    auto finish = [&out](std::string& line) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line;
        out += '\n';
    };
    std::string line(numberWidth, ' ');
    for (uint32_t c = 0; c <= lastColumn; ++c) {
        std::string letters = ColumnLetters(c);
        line += "  " + letters;
        Pad(line, widths[c] - letters.size());
    }
    finish(line);
    for (uint32_t r = 0; r <= lastRow; ++r) {
        std::string number = std::to_string(r + 1);
        line.assign(numberWidth - number.size(), ' ');
        line += number;
        auto found = grid.find(static_cast<uint16_t>(r));
        if (found != grid.end()) {
            for (uint32_t c = 0; c <= lastColumn; ++c) {
                line += "  ";
                auto cell = found->second.find(static_cast<uint16_t>(c));
                size_t used = 0;
                if (cell != found->second.end()) {
                    line += cell->second.utf8;
                    used = cell->second.width;
                }
                Pad(line, widths[c] - used);
            }
        }
        finish(line);
    }
    return out;
}

std::string PreviewSheetCsv(const PreviewSheet& sheet) {
    auto rows = CellsByRow(sheet);
    if (rows.empty()) return std::string();
    uint16_t lastRow = rows.rbegin()->first;
    uint16_t lastColumn = 0;
    for (const auto& [row, columns] : rows) lastColumn = std::max(lastColumn, columns.rbegin()->first);
    std::string out;
    for (uint32_t r = 0; r <= lastRow; ++r) {
        auto found = rows.find(static_cast<uint16_t>(r));
        for (uint32_t c = 0; c <= lastColumn; ++c) {
            if (c > 0) out += ',';
            if (found == rows.end()) continue;
            auto cell = found->second.find(static_cast<uint16_t>(c));
            if (cell != found->second.end()) out += CsvField(*cell->second);
        }
        out += "\r\n";
    }
    return out;
}

std::string PreviewJson(const PreviewContent& content, size_t sheetIndex) {
    nlohmann::ordered_json sheets = nlohmann::ordered_json::array();
    for (size_t i = 0; i < content.sheets.size(); ++i) {
        if (sheetIndex != SIZE_MAX && i != sheetIndex) continue;
        const PreviewSheet& sheet = content.sheets[i];
        nlohmann::ordered_json cells = nlohmann::ordered_json::array();
        for (const PreviewCell& cell : sheet.cells)
            cells.push_back({{"row", cell.row}, {"column", cell.column}, {"text", Utf16ToUtf8(cell.text)}});
        sheets.push_back({{"name", Utf16ToUtf8(sheet.name)}, {"cells", std::move(cells)}});
    }
    nlohmann::ordered_json document;
    document["sheets"] = std::move(sheets);
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int PrintPreview(const uint8_t* data, size_t length, const std::string& label, PreviewOutputFormat format,
                 int sheetNumber) {
    PreviewWorkbook workbook;
    workbook.Load(data, length);
    PreviewContent content = workbook.Snapshot();

    const size_t sheetCount = content.sheets.size();
    if (sheetNumber > 0 && static_cast<size_t>(sheetNumber) > sheetCount) {
        fmt::print(stderr, "tabulon: {} has {} sheet{}; there is no sheet {}\n", label, sheetCount,
                   sheetCount == 1 ? "" : "s", sheetNumber);
        return 1;
    }
    const size_t sheetIndex = sheetNumber > 0 ? static_cast<size_t>(sheetNumber - 1) : 0;
    std::string out;
    switch (format) {
        case PreviewOutputFormat::Json:
            out = PreviewJson(content, sheetNumber > 0 ? sheetIndex : SIZE_MAX);
            break;
        case PreviewOutputFormat::Text:
            out = sheetCount == 0 ? fmt::format("no sheets found in {}\n", label) : PreviewSheetText(content, sheetIndex);
            break;
        case PreviewOutputFormat::Csv:
            if (sheetCount == 0)
                fmt::print(stderr, "tabulon: no sheets found in {}\n", label);
            else
                out = PreviewSheetCsv(content.sheets[sheetIndex]);
            break;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return 0;
}

}  // namespace tabulon::cli
