#include "xlrd_reference.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "common/utf8_text.h"
#include "preview/preview_number_text.h"
#include "support/test_environment.h"

namespace tabulon::test {

std::vector<ReferenceWorkbook> ReadWithXlrd(const std::vector<std::string>& files) {
    std::vector<ReferenceWorkbook> books;
    if (files.empty()) return books;
    TempDir dir;
    const std::string out = dir.File("cells.jsonl");
    std::string command = "/usr/bin/python3 " + ShellQuote(SourceDir() + "/tests/preview/xlrd_cells.py") + " " +
                          ShellQuote(out);
    for (const std::string& file : files) command += " " + ShellQuote(file);
    if (RunCommand(command).exitStatus != 0) return books;
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto entry = nlohmann::json::parse(line);
        ReferenceWorkbook book;
        book.file = entry.at("file").get<std::string>();
        if (entry.contains("error")) {
            book.error = entry["error"].get<std::string>();
            books.push_back(std::move(book));
            continue;
        }
        book.biff8 = entry.value("biff8", false);
        book.contiguous = entry.value("contiguous", false);
        book.sstContinues = entry.value("sstContinues", 0);
        for (const auto& sheetEntry : entry.at("sheets")) {
            ReferenceSheet sheet;
            sheet.name = sheetEntry.at("name").get<std::string>();
            for (const auto& c : sheetEntry.at("cells")) {
                ReferenceCell cell;
                cell.row = c[0].get<int>();
                cell.column = c[1].get<int>();
                cell.kind = c[2].get<std::string>();
                if (cell.kind == "text")
                    cell.expected = c[3].get<std::string>();
                else if (cell.kind == "number" && c[3].is_string())
                    cell.expected = c[3].get<std::string>();
                else if (cell.kind == "number")
                    cell.expected = Utf16ToUtf8(PreviewNumberText(c[3].get<double>()));
                else if (cell.kind == "bool")
                    cell.expected = c[3].get<bool>() ? "True" : "False";
                else
                    cell.expected = "ErrCode:" + std::to_string(c[3].get<int>());
                cell.record = c[4].get<int>();
                sheet.cells.push_back(std::move(cell));
            }
            book.sheets.push_back(std::move(sheet));
        }
        books.push_back(std::move(book));
    }
    return books;
}

std::vector<Disagreement> Compare(const PreviewContent& preview, const ReferenceWorkbook& reference,
                                  const std::vector<int>& records, size_t* checked) {
    std::vector<Disagreement> disagreements;
    for (const ReferenceSheet& sheet : reference.sheets) {
        const PreviewSheet* match = nullptr;
        for (const PreviewSheet& candidate : preview.sheets)
            if (Utf16ToUtf8(candidate.name) == sheet.name) {
                match = &candidate;
                break;
            }
        std::map<std::pair<int, int>, std::string> cells;
        if (match)
            for (const PreviewCell& cell : match->cells) cells[{cell.row, cell.column}] = Utf16ToUtf8(cell.text);
        for (const ReferenceCell& cell : sheet.cells) {
            if (!records.empty() && std::find(records.begin(), records.end(), cell.record) == records.end()) continue;
            if (checked) ++*checked;
            auto found = cells.find({cell.row, cell.column});
            std::string got = !match ? "<no sheet>" : found == cells.end() ? "<missing>" : found->second;
            if (got != cell.expected) disagreements.push_back({sheet.name, cell, got});
        }
    }
    return disagreements;
}

std::string Describe(const Disagreement& d) {
    auto cut = [](const std::string& text) { return text.size() > 60 ? text.substr(0, 60) + "..." : text; };
    return d.sheet + "!" + std::to_string(d.cell.row) + "," + std::to_string(d.cell.column) + " record " +
           std::to_string(d.cell.record) + ": xlrd '" + cut(d.cell.expected) + "', preview '" + cut(d.got) + "'";
}

}  // namespace tabulon::test
