// tabulon fragments SOURCE --node ID [--to DIR] [--in-memory] [--block-size N]: load the source,
// rebuild the chosen deleted or content-found workbook from the source's free blocks, list the
// candidates and save them below DIR.

#include <fmt/core.h>

#include "app/scan_settings.h"
#include "app/strings.h"
#include "app/utf_text.h"
#include "cli/commands.h"
#include "cli/load_runner.h"
#include "fragment/search_context.h"
#include "source/sector_reader.h"

namespace tabulon::cli {
namespace {

// Fragment scanning reads every free block, many times over: on large disks it takes very long.
constexpr uint32_t kLargeSourceSectors = 1171875;  // 600,000,000 bytes

struct FragmentsOptions {
    std::string source;
    std::string node;
    std::string to;
    bool inMemory = false;
    int32_t blockSectors = 0;
    uint64_t maxSteps = SearchContext::kDefaultMaxSteps;
};

int RunFragments(const FragmentsOptions& options) {
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;
    if (int status = LoadSource(options.source, {true, options.inMemory, {}}, outcome); status != 0) return status;
    ScanContext& context = ScanContext::Global();
    const ResultNode* node = FindNode(context, options.node);
    if (node == nullptr) {
        fmt::print(stderr, "tabulon: no node '{}' in the result tree of '{}' (see tabulon scan)\n", options.node, options.source);
        return 1;
    }
    if (!node->IsFile() || node->sectors.empty()) {
        fmt::print(stderr, "tabulon: node '{}' is not a file with data\n", options.node);
        return 1;
    }
    if (node->Has(ResultNodeFlags::FragmentResult)) {
        fmt::print(stderr, "tabulon: node '{}' is a result of fragment scanning and cannot be scanned again\n", options.node);
        return 1;
    }
    SectorReader reader;
    if (reader.Open(options.source) && reader.SectorCount() > kLargeSourceSectors)
        fmt::print(stderr, "tabulon: {}\n", ToUtf8(LoadString(StringId::FragmentScanAdvice)));
    reader.Close();

    ResultNode* folder = nullptr;
    const FragmentScanOutcome scanned = FragmentScanNode(*node, {options.blockSectors, options.maxSteps, false}, folder);
    if (scanned != FragmentScanOutcome::CandidatesFound || folder == nullptr) return 1;

    const size_t folderIndex = context.fragmentCategory.children.size() - 1;
    fmt::print("{} candidate{} for {} in 3/{} {}\n", folder->children.size(), folder->children.size() == 1 ? "" : "s",
               ToUtf8(node->name), folderIndex, ToUtf8(folder->name));
    for (size_t i = 0; i < folder->children.size(); ++i) {
        const ResultNode& file = *folder->children[i];
        fmt::print("  3/{}/{}  {}  {} bytes\n", folderIndex, i, ToUtf8(file.name), file.ByteSize());
    }
    if (options.to.empty()) return 0;
    return SaveIntoFolder({folder}, options.to);
}

}  // namespace

void AddFragmentsCommand(CLI::App& app) {
    auto* command = app.add_subcommand(
        "fragments", "Rebuild a deleted workbook from the free blocks of the source, list the candidates and save them");
    auto options = std::make_shared<FragmentsOptions>();
    command->add_option("SOURCE", options->source, "Disk image file, block device (/dev/sdb, /dev/sdb1) or HDn")->required();
    command->add_option("--node", options->node, "The workbook's file node (see tabulon scan), e.g. 0/3")->required();
    command->add_option("--to", options->to, "Save the candidates below this folder (best on another disk than the source)");
    command->add_flag("--in-memory", options->inMemory, "Read the source's free blocks into memory first (faster; needs that much memory)");
    command->add_option("--block-size", options->blockSectors, "Block size in 512-byte sectors when the source has no FAT file system")
        ->check(CLI::Range(1, 128));
    command->add_option("--max-steps", options->maxSteps, "Stop the search after this many steps (0 = until done or Ctrl-C)")
        ->capture_default_str();
    command->callback([options] { ExitStatus() = RunFragments(*options); });
}

}  // namespace tabulon::cli
