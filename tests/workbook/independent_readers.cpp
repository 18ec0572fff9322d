#include "workbook/independent_readers.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <cstdio>
#include <sstream>

#include "support/test_environment.h"

namespace tabulon::test {

OleContent ReadWithOlefile(const std::string& path) {
    OleContent content;
    TempDir out;
    CommandResult result = RunCommand("/usr/bin/python3 " + ShellQuote(SourceDir() + "/tests/workbook/olefile_extract.py") +
                                      " " + ShellQuote(path) + " " + ShellQuote(out.Path()));
    content.output = result.output;
    if (result.exitStatus != 0) return content;
    content.opened = true;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("storage ", 0) == 0) continue;
        std::string name = line.substr(0, line.rfind(' '));
        std::string file = name;
        for (size_t at = file.find('/'); at != std::string::npos; at = file.find('/', at + 2)) file.replace(at, 1, "__");
        content.streams[name] = ReadFileBytes(out.File(file));
    }
    return content;
}

std::string NumberHex(double value) {
    char text[17];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(std::bit_cast<uint64_t>(value)));
    return text;
}

namespace {

XlrdBook ParseXlrdJson(const std::vector<uint8_t>& bytes) {
    XlrdBook book;
    auto document = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        book.error = "unreadable xlrd output";
        return book;
    }
    if (document.contains("error")) {
        book.error = document["error"].get<std::string>();
        return book;
    }
    for (const auto& sheet : document["sheets"]) {
        XlrdSheet parsed;
        parsed.name = sheet["name"].get<std::string>();
        for (const auto& cell : sheet["cells"])
            parsed.cells.push_back({cell[0].get<int>(), cell[1].get<int>(), cell[2].get<std::string>(),
                                    cell[3].get<std::string>()});
        book.sheets.push_back(std::move(parsed));
    }
    book.opened = true;
    return book;
}

std::string XlrdScript() { return "/usr/bin/python3 " + ShellQuote(SourceDir() + "/tests/workbook/xlrd_dump.py"); }

}  // namespace

XlrdBook ReadWithXlrd(const std::string& path) {
    TempDir out;
    std::string json = out.File("book.json");
    CommandResult result = RunCommand(XlrdScript() + " " + ShellQuote(path) + " > " + ShellQuote(json));
    if (result.exitStatus != 0) {
        XlrdBook book;
        book.error = result.output;
        return book;
    }
    return ParseXlrdJson(ReadFileBytes(json));
}

std::vector<XlrdBook> ReadManyWithXlrd(const std::vector<std::string>& paths) {
    std::vector<XlrdBook> books(paths.size());
    std::string command = XlrdScript() + " --each";
    for (const auto& path : paths) command += " " + ShellQuote(path);
    CommandResult result = RunCommand(command);
    for (size_t i = 0; i < paths.size(); ++i) {
        books[i] = ParseXlrdJson(ReadFileBytes(paths[i] + ".json"));
        if (!books[i].opened && books[i].error.empty()) books[i].error = result.output;
    }
    return books;
}

}  // namespace tabulon::test
