// tabulon recover SOURCE --to DIR: the whole job in one go: load the source, print the result tree and
// save every category below DIR.

#include <fmt/core.h>

#include "app/scan_settings.h"
#include "cli/commands.h"
#include "cli/load_runner.h"
#include "cli/tree_output.h"

namespace tabulon::cli {
namespace {

struct RecoverOptions {
    std::string source;
    std::string to;
    bool inMemory = false;
};

int RunRecover(const RecoverOptions& options) {
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;
    int status = LoadSource(options.source, {true, options.inMemory, {}}, outcome);
    if (status != 0) return status;
    ScanContext& context = ScanContext::Global();
    fmt::print("{}", TreeText(context, CurrentSourceFacts()));
    if (Interrupted()) return 1;

    std::vector<ResultNode*> nodes;
    for (ResultCategory* category : context.Categories()) nodes.push_back(category);
    return SaveIntoFolder(nodes, options.to);
}

}  // namespace

void AddRecoverCommand(CLI::App& app) {
    auto* command = app.add_subcommand("recover", "Load a source, list what was found and save all of it below a folder");
    auto options = std::make_shared<RecoverOptions>();
    command->add_option("SOURCE", options->source, "Disk image file, block device (/dev/sdb, /dev/sdb1) or HDn")->required();
    command->add_option("--to", options->to, "Target folder (best on another disk than the source)")->required();
    command->add_flag("--in-memory", options->inMemory, "Read the source's blocks into memory for fragment scanning");
    command->callback([options] { ExitStatus() = RunRecover(*options); });
}

}  // namespace tabulon::cli
