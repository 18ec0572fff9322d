#pragma once
// Saving a folder or category below a target folder, re-creating the tree's folders, and the worker
// that runs such a save with progress and stop.

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/progress_state.h"
#include "app/result_node.h"
#include "app/save_file.h"
#include "app/worker_events.h"

namespace tabulon {

struct SaveProblem {
    std::string path;  // the file that was not saved whole
    SaveResult result = SaveResult::NotCreated;
};

struct SaveReport {
    uint64_t filesWritten = 0;               // files saved whole
    std::vector<SaveProblem> problems;       // files not saved whole, in save order
    std::u16string folderError;              // the "创建目录失败" text when a folder path was refused
    bool stopped = false;                    // the save ended on a stop request or a refused folder
    bool Ok() const { return problems.empty() && folderError.empty(); }
};

// 1 for a file node, otherwise the sum over the children.
int64_t CountFiles(const ResultNode& node);

// One running save: where the data comes from, how it reports, and what it found.
struct SaveSession {
    std::string sourceName;
    ProgressState& progress;
    WorkerEvents* events = nullptr;
    SaveReport report;
};

// A file is written to parentPath/name; a category or folder becomes the folder parentPath/name and its
// children are saved inside it, checking the stop flag before each. A folder path that MakeDirectories
// refuses sets the stop flag, which ends the whole save. Names are made safe first.
void SaveTree(const ResultNode& node, const std::string& parentPath, SaveSession& session);

// The folder-save worker: busy, progress over CountFiles(node), SaveTree below `folder`, then idle.
// Runs on the calling thread; StartSaveWorker runs it on a new one.
SaveReport RunSaveWorker(const ResultNode& node, const std::string& folder, const std::string& sourceName,
                         ProgressState& progress, WorkerEvents* events);
// Refuses (an empty thread) while another worker is busy. The node must not change until it ends.
std::thread StartSaveWorker(const ResultNode& node, std::string folder, std::string sourceName, ProgressState& progress,
                            WorkerEvents* events, SaveReport* reportOut);

}  // namespace tabulon
