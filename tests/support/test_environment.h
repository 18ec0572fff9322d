#pragma once
// Shared helpers for tests: a temporary folder, running commands, tool and corpus availability.

#include <cstdint>
#include <string>
#include <vector>

namespace tabulon::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct CommandResult {
    int exitStatus = -1;
    std::string output;  // stdout and stderr together
};

// Runs a shell command line and captures its output.
CommandResult RunCommand(const std::string& commandLine);
// Quotes an argument for the shell.
std::string ShellQuote(const std::string& text);
// True when `program` is on PATH.
bool HasProgram(const std::string& program);
// The tabulon binary under test.
std::string CliPath();
// The workbook corpus folder, or empty when it is absent.
std::string CorpusDir();
// Every .xls file of the corpus, sorted.
std::vector<std::string> CorpusFiles();
std::string SourceDir();

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Writes a workbook with python3-xlwt (tools/make_workbook.py); false when it could not be made.
bool MakeWorkbook(const std::string& path, int rows, int cols, int sheets = 1, int seed = 1);

}  // namespace tabulon::test
