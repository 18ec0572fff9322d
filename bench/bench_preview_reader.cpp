// The preview reader against python3-xlrd on the largest corpus workbooks (cut at the preview's 5 MiB
// limit): the reader's Load of the raw bytes, and xlrd opening the same file and reading every cell,
// each timed in this run (xlrd inside python, without the interpreter's start-up).
//
// usage: bench_preview_reader [FILES...]   (default: the 8 largest files of ../shared/corpus/xls)

#include <fmt/core.h>

#include "bench/bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "preview/preview_workbook.h"

namespace {

using tabulon::bench::Quote;

std::vector<std::string> LargestCorpusFiles(size_t count) {
    std::vector<std::pair<uintmax_t, std::string>> files;
    const std::string dir = std::string(TABULON_CORPUS_DIR) + "/xls";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.is_regular_file() && entry.path().extension() == ".xls")
            files.emplace_back(entry.file_size(), entry.path().string());
    std::sort(files.rbegin(), files.rend());
    std::vector<std::string> out;
    for (size_t i = 0; i < files.size() && i < count; ++i) out.push_back(files[i].second);
    return out;
}

std::vector<uint8_t> ReadHead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > tabulon::kPreviewByteLimit) bytes.resize(tabulon::kPreviewByteLimit);
    return bytes;
}

// Seconds per file for xlrd: best of `rounds` runs of open_workbook and reading every cell's value.
std::map<std::string, double> TimeXlrd(const std::vector<std::string>& files, int rounds) {
    std::string script =
        "import os, sys, time, xlrd\n"
        "for path in sys.argv[2:]:\n"
        "    best = None\n"
        "    for _ in range(int(sys.argv[1])):\n"
        "        start = time.perf_counter()\n"
        "        try:\n"
        "            book = xlrd.open_workbook(path, logfile=open(os.devnull, 'w'))\n"
        "            for sheet in book.sheets():\n"
        "                for r in range(sheet.nrows):\n"
        "                    for c in range(sheet.ncols):\n"
        "                        sheet.cell_value(r, c)\n"
        "        except Exception:\n"
        "            best = -1\n"
        "            break\n"
        "        elapsed = time.perf_counter() - start\n"
        "        best = elapsed if best is None else min(best, elapsed)\n"
        "    print(best, path)\n";
    std::string command = "/usr/bin/python3 -c " + Quote(script) + " " + std::to_string(rounds);
    for (const auto& file : files) command += " " + Quote(file);
    std::map<std::string, double> times;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return times;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        size_t space = text.find(' ');
        if (space == std::string::npos) continue;
        std::string path = text.substr(space + 1);
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
        times[path] = std::stod(text.substr(0, space));
    }
    pclose(pipe);
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files(argv + 1, argv + argc);
    if (files.empty()) files = LargestCorpusFiles(8);
    if (files.empty()) {
        fmt::print(stderr, "no workbooks: give files or provide ../shared/corpus/xls\n");
        return 1;
    }
    constexpr int kRounds = 5;
    auto xlrd = TimeXlrd(files, kRounds);
    double previewTotal = 0, xlrdTotal = 0;
    fmt::print("{:<52} {:>9} {:>8} {:>12} {:>12} {:>8}\n", "file", "bytes", "cells", "preview ms", "xlrd ms", "ratio");
    for (const auto& file : files) {
        std::vector<uint8_t> bytes = ReadHead(file);
        double best = 1e9;
        size_t cells = 0;
        for (int round = 0; round < kRounds; ++round) {
            tabulon::PreviewWorkbook workbook;
            auto start = std::chrono::steady_clock::now();
            workbook.Load(bytes.data(), bytes.size());
            auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            best = std::min(best, elapsed);
            auto lock = workbook.Lock();
            cells = 0;
            for (const auto& sheet : workbook.Content().sheets) cells += sheet.cells.size();
        }
        auto found = xlrd.find(file);
        double reference = found == xlrd.end() ? -1 : found->second;
        std::string name = std::filesystem::path(file).filename().string();
        if (name.size() > 52) name = name.substr(0, 49) + "...";
        if (reference < 0) {
            fmt::print("{:<52} {:>9} {:>8} {:>12.3f} {:>12} {:>8}\n", name, bytes.size(), cells, best * 1000, "refused", "-");
            continue;
        }
        previewTotal += best;
        xlrdTotal += reference;
        fmt::print("{:<52} {:>9} {:>8} {:>12.3f} {:>12.3f} {:>7.1f}x\n", name, bytes.size(), cells, best * 1000,
                   reference * 1000, reference / best);
    }
    if (previewTotal > 0)
        fmt::print("total: preview {:.1f} ms, xlrd {:.1f} ms, xlrd / preview = {:.1f}x\n", previewTotal * 1000,
                   xlrdTotal * 1000, xlrdTotal / previewTotal);
    return 0;
}
