#include "support/test_environment.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tabulon::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tabulon-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

CommandResult RunCommand(const std::string& commandLine) {
    CommandResult result;
    std::string full = commandLine + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer {};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
    int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool HasProgram(const std::string& program) {
    return RunCommand("command -v " + ShellQuote(program) + " >/dev/null").exitStatus == 0;
}

std::string CliPath() { return TABULON_CLI_PATH; }
std::string SourceDir() { return TABULON_SOURCE_DIR; }

std::string CorpusDir() {
    std::string dir = std::string(TABULON_CORPUS_DIR) + "/xls";
    return std::filesystem::is_directory(dir) ? dir : std::string();
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    std::string dir = CorpusDir();
    if (dir.empty()) return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".xls") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool MakeWorkbook(const std::string& path, int rows, int cols, int sheets, int seed) {
    std::string command = "/usr/bin/python3 " + ShellQuote(SourceDir() + "/tools/make_workbook.py") + " " +
                          ShellQuote(path) + " --rows " + std::to_string(rows) + " --cols " + std::to_string(cols) +
                          " --sheets " + std::to_string(sheets) + " --seed " + std::to_string(seed);
    return RunCommand(command).exitStatus == 0;
}

}  // namespace tabulon::test
