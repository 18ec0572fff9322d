// The workbook writer against python3-xlwt writing the same cells, in the same run: 100,000 text
// cells (1,000 distinct texts, so many repeat) and 100,000 numbers (integers and two-decimal reals)
// on one sheet. Prints both times, the ratio and each writer's peak memory.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/core.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "workbook/workbook.h"

namespace {

constexpr int kRows = 2000;
constexpr int kTextColumns = 50;    // 100,000 text cells
constexpr int kNumberColumns = 50;  // 100,000 numbers

std::u16string Text(int row, int column) {
    std::string text = "item " + std::to_string((row * 7 + column) % 1000);
    return std::u16string(text.begin(), text.end());
}

bool WriteWithLibrary(const std::string& path) {
    tabulon::Workbook book;
    book.NewWorkbook(1);
    tabulon::Worksheet* sheet = book.WorksheetAt(0);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kTextColumns; ++c) sheet->CellAt(r, c)->SetText(Text(r, c));
        for (int c = 0; c < kNumberColumns; ++c) {
            if (c % 2 == 0)
                sheet->CellAt(r, kTextColumns + c)->SetInteger(r * 100 + c);
            else
                sheet->CellAt(r, kTextColumns + c)->SetReal((r * 100 + c) / 4.0);
        }
    }
    return book.SaveAs(path);
}

const char* kXlwtScript = R"(
import sys, xlwt
book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("Sheet1")
for r in range(2000):
    row = sheet.row(r)
    for c in range(50):
        row.write(c, "item %d" % ((r * 7 + c) % 1000))
    for c in range(50):
        row.write(50 + c, r * 100 + c if c % 2 == 0 else (r * 100 + c) / 4.0)
book.save(sys.argv[1])
)";

// Runs `work` in a child process; its wall time in seconds and peak resident memory in KiB.
template <typename Work>
bool Measure(Work work, double& seconds, long& peakKiB) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) _exit(work() ? 0 : 1);
    int status = 0;
    rusage usage {};
    if (wait4(child, &status, 0, &usage) != child) return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
    std::string dir = std::filesystem::temp_directory_path().string();
    std::string ours = dir + "/tabulon-bench-library.xls";
    std::string theirs = dir + "/tabulon-bench-xlwt.xls";
    double librarySeconds = 0, xlwtSeconds = 0;
    long libraryPeak = 0, xlwtPeak = 0;
    if (!Measure([&] { return WriteWithLibrary(ours); }, librarySeconds, libraryPeak)) {
        fmt::print(stderr, "the workbook library failed to write {}\n", ours);
        return 1;
    }
    if (!Measure([&] {
            execl("/usr/bin/python3", "python3", "-c", kXlwtScript, theirs.c_str(), static_cast<char*>(nullptr));
            return false;
        }, xlwtSeconds, xlwtPeak)) {
        fmt::print(stderr, "python3-xlwt failed to write {}\n", theirs);
        return 1;
    }
    fmt::print("cells: {} text ({} distinct), {} numbers\n", kRows * kTextColumns, 1000, kRows * kNumberColumns);
    fmt::print("workbook library: {:.3f} s, peak {:.1f} MiB, file {} bytes\n", librarySeconds, libraryPeak / 1024.0,
               std::filesystem::file_size(ours));
    fmt::print("python3-xlwt:     {:.3f} s, peak {:.1f} MiB, file {} bytes\n", xlwtSeconds, xlwtPeak / 1024.0,
               std::filesystem::file_size(theirs));
    fmt::print("ratio (xlwt time / library time): {:.1f}x\n", xlwtSeconds / librarySeconds);
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
    return 0;
}
