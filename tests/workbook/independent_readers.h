#pragma once
// Opens written files with the independent readers python3-olefile and python3-xlrd.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tabulon::test {

struct OleContent {
    bool opened = false;
    std::string output;  // olefile's listing or its complaint
    std::map<std::string, std::vector<uint8_t>> streams;  // path with '/' between storages
};

// Opens `path` with olefile, treating every defect as an error, and copies out every stream.
OleContent ReadWithOlefile(const std::string& path);

struct XlrdCell {
    int row = 0;
    int column = 0;
    std::string kind;   // "text", "number" or "bool"
    std::string value;  // UTF-8 text, a number's double as 16 hex digits (NumberHex), "1"/"0"
    bool operator==(const XlrdCell&) const = default;
};

struct XlrdSheet {
    std::string name;
    std::vector<XlrdCell> cells;
};

struct XlrdBook {
    bool opened = false;
    std::string error;
    std::vector<XlrdSheet> sheets;
};

XlrdBook ReadWithXlrd(const std::string& path);
// Reads many files with one xlrd process.
std::vector<XlrdBook> ReadManyWithXlrd(const std::vector<std::string>& paths);
// A number as the xlrd reading prints it.
std::string NumberHex(double value);

}  // namespace tabulon::test
