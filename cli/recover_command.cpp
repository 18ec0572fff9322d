// tabulon recover SOURCE --to DIR: the whole job in one go: load the source, print the result tree and
// save every category below DIR; with --fragments, rebuild deleted workbooks from free blocks first.

#include <fmt/core.h>

#include <unordered_set>
#include <vector>

#include "app/scan_settings.h"
#include "app/utf_text.h"
#include "cli/commands.h"
#include "cli/load_runner.h"
#include "fragment/search_context.h"
#include "cli/tree_output.h"

namespace tabulon::cli {
namespace {

struct RecoverOptions {
    std::string source;
    std::string to;
    bool inMemory = false;
    bool fragments = false;
    uint64_t maxSteps = SearchContext::kDefaultMaxSteps;
};

// Deleted and content-found files of the first three categories, each first sector once, in tree order.
void CollectScannable(ResultNode& node, std::vector<const ResultNode*>& out, std::unordered_set<uint32_t>& seen) {
    std::vector<ResultNode*> pending {&node};
    while (!pending.empty()) {
        ResultNode* current = pending.back();
        pending.pop_back();
        if (current->IsFile()) {
            const bool candidate = current->Has(ResultNodeFlags::Deleted) || current->Has(ResultNodeFlags::ContentFound);
            if (candidate && !current->Has(ResultNodeFlags::FragmentResult) && !current->sectors.empty() &&
                seen.insert(current->sectors.front()).second)
                out.push_back(current);
            continue;
        }
        for (auto child = current->children.rbegin(); child != current->children.rend(); ++child)
            pending.push_back(child->get());
    }
}

// Every deleted or content-found file whose first block is free is rebuilt from the free blocks; the
// candidates join the fragment-scanned category before the save.
void ScanFragments(ScanContext& context, uint64_t maxSteps) {
    std::vector<const ResultNode*> files;
    std::unordered_set<uint32_t> seen;
    for (ResultCategory* category : {&context.rootCategory, &context.lostCategory, &context.originalCategory})
        CollectScannable(*category, files, seen);
    size_t withCandidates = 0, candidates = 0;
    for (const ResultNode* file : files) {
        if (Interrupted()) break;
        ResultNode* folder = nullptr;
        const FragmentScanOutcome outcome = FragmentScanNode(*file, {0, maxSteps, true}, folder);
        if (outcome == FragmentScanOutcome::NoBlockSize || outcome == FragmentScanOutcome::NoBlocks) {
            fmt::print(stderr, "tabulon: fragment scan: {}\n", FragmentOutcomeText(outcome));
            break;
        }
        if (folder == nullptr) continue;
        ++withCandidates;
        candidates += folder->children.size();
        fmt::print("fragments: {} candidate{} for {}\n", folder->children.size(),
                   folder->children.size() == 1 ? "" : "s", ToUtf8(file->name));
    }
    fmt::print("fragment scan: {} of {} deleted or content-found files gave {} candidate{}\n", withCandidates,
               files.size(), candidates, candidates == 1 ? "" : "s");
}

int RunRecover(const RecoverOptions& options) {
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;
    int status = LoadSource(options.source, {true, options.inMemory, {}}, outcome);
    if (status != 0) return status;
    ScanContext& context = ScanContext::Global();
    if (options.fragments && !Interrupted()) ScanFragments(context, options.maxSteps);
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
    command->add_flag("--fragments", options->fragments,
                      "Before saving, rebuild every deleted or content-found workbook from the free blocks");
    command->add_flag("--in-memory", options->inMemory, "Read the source's free blocks into memory for fragment scanning");
    command->add_option("--max-steps", options->maxSteps, "Search steps per file when rebuilding (0 = until done or Ctrl-C)")
        ->capture_default_str();
    command->callback([options] { ExitStatus() = RunRecover(*options); });
}

}  // namespace tabulon::cli
