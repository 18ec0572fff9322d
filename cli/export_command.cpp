// tabulon export (FILE | SOURCE --node ID) --to OUT.xls: the cells the preview reader finds in a (recovered, possibly
// damaged) workbook file, written as a clean new workbook.

#include <fmt/core.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/node_data.h"
#include "preview/preview_export.h"
#include "preview/preview_workbook.h"

namespace tabulon::cli {
namespace {

struct ExportArguments {
    std::string file;  // a workbook file, or the source when a node is given
    std::string node;
    std::string out;
};

int Export(const std::vector<uint8_t>& bytes, const std::string& what, const std::string& out) {
    PreviewWorkbook preview;
    preview.Load(bytes.data(), bytes.size());
    switch (SavePreview(preview.Snapshot(), out)) {
        case SavePreviewResult::Saved: return 0;
        case SavePreviewResult::NothingToSave:
            fmt::print(stderr, "tabulon: nothing to export: the preview of '{}' shows no cell text\n", what);
            return 1;
        case SavePreviewResult::WriteFailed: break;
    }
    fmt::print(stderr, "tabulon: cannot write '{}'\n", out);
    return 1;
}

int RunExport(const ExportArguments& arguments) {
    if (!arguments.node.empty()) {
        std::error_code error;
        if (std::filesystem::equivalent(arguments.file, arguments.out, error)) {
            fmt::print(stderr, "tabulon: the output '{}' is the source; choose another path\n", arguments.out);
            return 1;
        }
        std::vector<uint8_t> bytes;
        if (int status = ReadNodeData(arguments.file, arguments.node, kPreviewByteLimit, bytes); status != 0) return status;
        return Export(bytes, arguments.node, arguments.out);
    }
    std::error_code error;
    if (std::filesystem::is_directory(arguments.file, error)) {
        fmt::print(stderr, "tabulon: cannot read '{}': it is a folder\n", arguments.file);
        return 1;
    }
    std::ifstream in(arguments.file, std::ios::binary);
    if (!in) {
        fmt::print(stderr, "tabulon: cannot read '{}'\n", arguments.file);
        return 1;
    }
    // The source is only read: writing over it is refused.
    if (std::filesystem::equivalent(arguments.file, arguments.out, error)) {
        fmt::print(stderr, "tabulon: the output '{}' is the file being exported; choose another path\n", arguments.out);
        return 1;
    }
    std::vector<uint8_t> bytes(kPreviewByteLimit);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));

    return Export(bytes, arguments.file, arguments.out);
}

}  // namespace

void AddExportCommand(CLI::App& app) {
    auto* command = app.add_subcommand("export", "Write the previewed sheets and cell texts of a workbook file as a new .xls file");
    auto arguments = std::make_shared<ExportArguments>();
    command->add_option("FILE", arguments->file, "The .xls file (a recovered file may be damaged), or the SOURCE with --node")
        ->required();
    command->add_option("--node", arguments->node, "A file node of SOURCE by its id (see tabulon scan)");
    command->add_option("--to", arguments->out, "The new workbook file to write")->required();
    command->callback([arguments] { ExitStatus() = RunExport(*arguments); });
}

}  // namespace tabulon::cli
