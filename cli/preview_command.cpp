// tabulon preview (FILE | SOURCE --node ID) [--sheet N] [--format text|csv|json]: the cells of a (recovered) workbook file,
// read with the tolerant preview reader, so that damaged files show what they still hold.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/core.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/node_data.h"
#include "cli/preview_output.h"
#include "preview/preview_workbook.h"

namespace tabulon::cli {
namespace {

struct PreviewArguments {
    std::string file;  // a workbook file, or the source when a node is given
    std::string node;
    std::string format = "text";
    int sheet = 0;
};

// Reads at most `limit` bytes of a file, read-only. Returns false with a reason.
bool ReadFileHead(const std::string& path, size_t limit, std::vector<uint8_t>& bytes, uint64_t& fileSize,
                  std::string& reason) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? "it is a folder" : std::strerror(errno);
        ::close(fd);
        return false;
    }
    fileSize = static_cast<uint64_t>(info.st_size);
    bytes.resize(limit);
    size_t total = 0;
    while (total < limit) {
        ssize_t got = ::read(fd, bytes.data() + total, limit - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    ::close(fd);
    bytes.resize(total);
    return true;
}

int RunPreview(const PreviewArguments& arguments) {
    PreviewOutputFormat format = PreviewOutputFormat::Text;
    if (!ParsePreviewOutputFormat(arguments.format, format)) {
        fmt::print(stderr, "tabulon: unknown format '{}' (use text, csv or json)\n", arguments.format);
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!arguments.node.empty()) {
        if (int status = ReadNodeData(arguments.file, arguments.node, kPreviewByteLimit, bytes); status != 0) return status;
        return PrintPreview(bytes.data(), bytes.size(), arguments.node, format, arguments.sheet);
    }
    uint64_t fileSize = 0;
    std::string reason;
    if (!ReadFileHead(arguments.file, kPreviewByteLimit, bytes, fileSize, reason)) {
        fmt::print(stderr, "tabulon: cannot read '{}': {}\n", arguments.file, reason);
        return 1;
    }
    if (fileSize > bytes.size())
        fmt::print(stderr, "tabulon: previewing the first {} bytes of '{}' ({} bytes)\n", bytes.size(), arguments.file,
                   fileSize);
    return PrintPreview(bytes.data(), bytes.size(), arguments.file, format, arguments.sheet);
}

}  // namespace

void AddPreviewCommand(CLI::App& app) {
    auto* command = app.add_subcommand("preview", "Show the cells of a workbook file, even a damaged one");
    auto arguments = std::make_shared<PreviewArguments>();
    command->add_option("FILE", arguments->file, "The .xls file (a recovered file may be damaged), or the SOURCE with --node")
        ->required();
    command->add_option("--node", arguments->node, "A file node of SOURCE by its id (see tabulon scan)");
    command->add_option("--sheet", arguments->sheet, "Sheet number, 1 for the first (default: the first; json: all)")
        ->check(CLI::Range(1, 65535));
    command->add_option("--format", arguments->format, "Output: text (a grid), csv or json")
        ->check(CLI::IsMember({"text", "csv", "json"}));
    command->callback([arguments] { ExitStatus() = RunPreview(*arguments); });
}

}  // namespace tabulon::cli
