#pragma once
// What the scan, save and recover subcommands share: running the load worker with a progress line on a
// terminal and Ctrl-C as the Stop command, saving nodes with the same reporting, and finding nodes by
// their ids.

#include <string>
#include <vector>

#include "app/fragment_scan_worker.h"
#include "app/load_worker.h"
#include "app/result_node.h"
#include "app/save_tree.h"
#include "app/scan_context.h"

namespace tabulon::cli {

struct LoadOptions {
    bool scanByDirectory = true;
    bool loadIntoMemory = false;
    std::string codePage;  // empty: keep the default
};

// Loads `source` into ScanContext::Global(). Prints what the user must know on stderr and returns the
// exit status so far: 0, or 1 when the source cannot be opened (or the code page is unknown).
int LoadSource(const std::string& source, const LoadOptions& options, LoadOutcome& outcome);

struct FragmentScanOptions {
    int32_t blockSectors = 0;  // block size when the source has no file system; 0 = keep the setting
    uint64_t maxSteps = 0;     // search steps per file; 0 = no limit
    bool quiet = false;        // no line on stderr when the scan ends without candidates
};

// Fragment-scans the file `node` of the loaded source with a progress line; `added` receives the folder
// of candidates added under the fragment-scanned category, or null. Prints why nothing was found
// unless quiet.
FragmentScanOutcome FragmentScanNode(const ResultNode& node, const FragmentScanOptions& options, ResultNode*& added);

// The text of an outcome that found nothing, for the user.
const char* FragmentOutcomeText(FragmentScanOutcome outcome);

// True once Ctrl-C was pressed during this run.
bool Interrupted();

// Node ids: child indexes from the category, joined by "/" ("0" is the root category, "0/2/1" the second
// child of its third child). Null for an id that names no node.
ResultNode* FindNode(ScanContext& context, const std::string& id);

// Saves each node below `folder` (absolute): a category or folder as a folder save, a file into the
// folder under its own name. Prints every file not saved whole on stderr; returns the summed report.
SaveReport SaveNodes(const std::vector<ResultNode*>& nodes, const std::string& folder);

// Prepares `folder`, saves the nodes into it and prints a summary line; returns the exit status: 0 when
// every file was saved whole, 1 otherwise (each such file is named on stderr) or when stopped.
int SaveIntoFolder(const std::vector<ResultNode*>& nodes, const std::string& folder);

// The absolute form of a target folder, created with its parents; empty (after a message) when it is
// not a usable folder.
std::string PrepareTargetFolder(const std::string& folder);

}  // namespace tabulon::cli
