// tabulon scan SOURCE: loads the source and prints the result tree, as text or as one JSON document.

#include <fmt/core.h>

#include "cli/commands.h"
#include "cli/load_runner.h"
#include "cli/tree_output.h"

namespace tabulon::cli {
namespace {

struct ScanOptions {
    std::string source;
    bool json = false;
    bool withSectors = false;
    bool noDirectories = false;
    std::string codePage;
};

int RunScan(const ScanOptions& options) {
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;
    int status = LoadSource(options.source, {!options.noDirectories, false, options.codePage}, outcome);
    if (status != 0) return status;
    SourceFacts facts = CurrentSourceFacts();
    if (options.json)
        fmt::print("{}\n", TreeJson(ScanContext::Global(), facts, options.withSectors).dump(2));
    else
        fmt::print("{}", TreeText(ScanContext::Global(), facts));
    return Interrupted() || outcome == LoadOutcome::AnalysisUnavailable ? 1 : 0;
}

}  // namespace

void AddScanCommand(CLI::App& app) {
    auto* command = app.add_subcommand("scan", "Load a source and list the workbooks found, by category");
    auto options = std::make_shared<ScanOptions>();
    command->add_option("SOURCE", options->source, "Disk image file, block device (/dev/sdb, /dev/sdb1) or HDn")->required();
    command->add_flag("--json", options->json, "Print one JSON document");
    command->add_flag("--with-sectors", options->withSectors, "Add every file's sector list to the JSON");
    command->add_flag("--no-directories", options->noDirectories,
                      "Do not analyse directories: scan the whole source by content only");
    command->add_option("--codepage", options->codePage, "Code page of short names (default CP936)");
    command->callback([options] { ExitStatus() = RunScan(*options); });
}

}  // namespace tabulon::cli
