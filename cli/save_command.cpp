// tabulon save SOURCE --to DIR [--node ID]...: loads the source, then saves the chosen nodes (all four
// categories by default) below DIR.

#include <fmt/core.h>

#include "cli/commands.h"
#include "cli/load_runner.h"

namespace tabulon::cli {
namespace {

struct SaveOptions {
    std::string source;
    std::string to;
    std::vector<std::string> nodes;
    bool noDirectories = false;
    std::string codePage;
};

int RunSave(const SaveOptions& options) {
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;
    int status = LoadSource(options.source, {!options.noDirectories, false, options.codePage}, outcome);
    if (status != 0) return status;
    if (Interrupted()) return 1;

    ScanContext& context = ScanContext::Global();
    std::vector<ResultNode*> nodes;
    if (options.nodes.empty()) {
        for (ResultCategory* category : context.Categories()) nodes.push_back(category);
    } else {
        for (const std::string& id : options.nodes) {
            ResultNode* node = FindNode(context, id);
            if (!node) {
                fmt::print(stderr, "tabulon: no node with id '{}' (run 'tabulon scan' to see the ids)\n", id);
                return 2;
            }
            nodes.push_back(node);
        }
    }
    return SaveIntoFolder(nodes, options.to);
}

}  // namespace

void AddSaveCommand(CLI::App& app) {
    auto* command = app.add_subcommand("save", "Load a source, then save nodes of the result tree below a folder");
    auto options = std::make_shared<SaveOptions>();
    command->add_option("SOURCE", options->source, "Disk image file, block device (/dev/sdb, /dev/sdb1) or HDn")->required();
    command->add_option("--to", options->to, "Target folder (best on another disk than the source)")->required();
    command->add_option("--node", options->nodes, "Node id from 'tabulon scan' (repeatable; default: all categories)");
    command->add_flag("--no-directories", options->noDirectories, "Scan the whole source by content only");
    command->add_option("--codepage", options->codePage, "Code page of short names (default CP936)");
    command->callback([options] { ExitStatus() = RunSave(*options); });
}

}  // namespace tabulon::cli
