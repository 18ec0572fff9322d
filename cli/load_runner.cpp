#include "cli/load_runner.h"

#include <fmt/core.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/make_directories.h"
#include "app/progress_state.h"
#include "app/scan_settings.h"
#include "app/strings.h"
#include "fragment/record_succession_table.h"
#include "app/utf_text.h"
#include "fs/code_page.h"
#include "source/sector_reader.h"

namespace tabulon::cli {
namespace {

std::atomic<bool> interrupted {false};

extern "C" void OnInterrupt(int) {
    interrupted.store(true);
    ProgressState::Global().stopRequested.store(1, std::memory_order_relaxed);
}

void InstallInterruptHandler() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

// Shows the worker's status text and position on one line of the terminal, every 300 ms.
class ProgressLine {
public:
    void Show(const ProgressState& progress) {
        if (!terminal_) return;
        std::string line = ToUtf8(progress.StatusText());
        if (line.empty()) return;
        int32_t max = progress.Max();
        if (max > 0) line += fmt::format(" {}/{}", progress.Pos(), max);
        if (line.size() > 200) line.resize(200);
        fmt::print(stderr, "\r\033[K{}", line);
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear() {
        if (shown_) fmt::print(stderr, "\r\033[K");
        shown_ = false;
    }

private:
    bool terminal_ = StderrIsTerminal();
    bool shown_ = false;
};

class CliEvents : public WorkerEvents {
public:
    void Notice(std::u16string_view text) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(ToUtf8(text));
    }
    // Messages are printed by the main thread, between progress lines.
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::move(pending_);
    }

private:
    std::mutex mutex_;
    std::vector<std::string> pending_;
};

// Runs `work` on a worker thread while this thread keeps the progress line fresh.
template <typename Work>
void RunWithProgress(Work work) {
    std::atomic<bool> done {false};
    std::thread worker([&] {
        work();
        done.store(true);
    });
    ProgressLine line;
    auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (!done.load()) {
        if (std::chrono::steady_clock::now() >= next) {
            line.Show(ProgressState::Global());
            next += std::chrono::milliseconds(300);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    worker.join();
    line.Clear();
}

const char* SaveResultText(SaveResult result) {
    switch (result) {
        case SaveResult::Incomplete: return "some sectors could not be read or written; the file keeps what was written";
        case SaveResult::NotCreated: return "the file could not be created";
        case SaveResult::SourceUnreadable: return "the source could not be opened";
        case SaveResult::NoSectors:
        case SaveResult::Written: break;
    }
    return "not saved";
}

}  // namespace

bool Interrupted() { return interrupted.load(); }

int LoadSource(const std::string& source, const LoadOptions& options, LoadOutcome& outcome) {
    InstallInterruptHandler();
    if (!options.codePage.empty() && !SetShortNameCodePage(options.codePage)) {
        fmt::print(stderr, "tabulon: unknown code page '{}'\n", options.codePage);
        return 1;
    }
    ScanSettings& settings = ScanSettings::Global();
    settings.scanByDirectory = options.scanByDirectory;
    settings.loadIntoMemory = options.loadIntoMemory;
    ScanContext& context = ScanContext::Global();
    context.sourceName = source;
    CliEvents events;
    LoadJob job {context, ProgressState::Global(), settings, nullptr, &outcome};
    job.events = &events;
    RunWithProgress([&] { RunLoadWorker(job); });
    for (const std::string& message : events.Take()) fmt::print(stderr, "tabulon: {}\n", message);
    if (outcome == LoadOutcome::SourceUnopenable) {
        fmt::print(stderr, "tabulon: cannot open source '{}' for reading\n", source);
        return 1;
    }
    if (outcome == LoadOutcome::SectorZeroUnreadable)
        fmt::print(stderr, "tabulon: the first sector of '{}' cannot be read\n", source);
    if (Interrupted()) fmt::print(stderr, "tabulon: stopped; the results found so far are kept\n");
    return 0;
}

const char* FragmentOutcomeText(FragmentScanOutcome outcome) {
    switch (outcome) {
        case FragmentScanOutcome::CandidatesFound: return "candidates found";
        case FragmentScanOutcome::NoCandidates: return "no sequence of free blocks continues its workbook stream to a complete workbook";
        case FragmentScanOutcome::NoBlockSize: return "the source has no FAT file system: give the block size in sectors with --block-size N (1-128)";
        case FragmentScanOutcome::NoBlocks: return "the free blocks of the source cannot be read";
        case FragmentScanOutcome::Stopped: return "stopped";
        case FragmentScanOutcome::NotOnBlockGrid: return "its first sector does not begin a block";
        case FragmentScanOutcome::FirstBlockInUse: return "its first block belongs to a live file or holds no data";
        case FragmentScanOutcome::NoCompoundDocument: return "its first block does not begin a compound document";
        case FragmentScanOutcome::NoWorkbookStream: return "no workbook stream where a compound document puts it";
    }
    return "not scanned";
}

FragmentScanOutcome FragmentScanNode(const ResultNode& node, const FragmentScanOptions& options, ResultNode*& added) {
    InstallInterruptHandler();
    added = nullptr;
    ScanContext& context = ScanContext::Global();
    ScanSettings& settings = ScanSettings::Global();
    if (options.blockSectors != 0) settings.blockSectors = options.blockSectors;
    // Only a size from a directory entry bounds the search; a content-found file's size is a guess.
    context.fragmentTargetSize =
        node.Has(ResultNodeFlags::FromDirectory) ? uint32_t(std::min<uint64_t>(node.ByteSize(), 0xFFFFFFFFu)) : 0;
    FragmentScanOutcome outcome = FragmentScanOutcome::NoBlocks;
    CliEvents events;
    FragmentScanJob job {context, ProgressState::Global(), settings, RecordSuccessionTable::Process(), nullptr, {}, 0, 0, 0, {}, nullptr, nullptr};
    job.events = &events;
    job.baseName = FragmentBaseName(node.name);
    job.firstSector = node.sectors.empty() ? 0 : node.sectors.front();
    job.sizeLimit = context.fragmentTargetSize;
    job.maxSteps = options.maxSteps;
    job.outcome = &outcome;
    job.addedFolder = &added;
    RunWithProgress([&] { RunFragmentScanWorker(job); });
    if (!options.quiet) {
        for (const std::string& message : events.Take()) fmt::print(stderr, "tabulon: {}\n", message);
        if (outcome != FragmentScanOutcome::CandidatesFound)
            fmt::print(stderr, "tabulon: {}: {}\n", ToUtf8(node.name), FragmentOutcomeText(outcome));
    }
    return outcome;
}

ResultNode* FindNode(ScanContext& context, const std::string& id) {
    if (id.empty()) return nullptr;
    ResultNode* node = nullptr;
    size_t position = 0;
    while (position <= id.size()) {
        size_t slash = id.find('/', position);
        std::string part = id.substr(position, slash == std::string::npos ? std::string::npos : slash - position);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos) return nullptr;
        size_t index = std::stoul(part);
        if (node == nullptr) {
            auto categories = context.Categories();
            if (index >= categories.size()) return nullptr;
            node = categories[index];
        } else {
            if (index >= node->children.size()) return nullptr;
            node = node->children[index].get();
        }
        if (slash == std::string::npos) break;
        position = slash + 1;
    }
    return node;
}

std::string PrepareTargetFolder(const std::string& folder) {
    std::error_code error;
    std::string absolute = std::filesystem::absolute(folder, error).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    if (error || absolute.empty() || !MakeDirectories(absolute) || !std::filesystem::is_directory(absolute, error)) {
        fmt::print(stderr, "tabulon: cannot create the target folder '{}'\n", folder);
        return {};
    }
    return absolute;
}

SaveReport SaveNodes(const std::vector<ResultNode*>& nodes, const std::string& folder) {
    InstallInterruptHandler();
    ScanContext& context = ScanContext::Global();
    ProgressState& progress = ProgressState::Global();
    SaveReport total;
    CliEvents events;
    progress.SetStopRequested(false);
    for (ResultNode* node : nodes) {
        if (Interrupted()) {
            total.stopped = true;
            break;
        }
        SaveReport report;
        RunWithProgress([&] {
            if (node->IsFile()) {
                // A single file is saved like the window's save dialog does: on the calling thread.
                progress.SetStopRequested(false);
                SaveSession session {context.sourceName, progress, &events, {}};
                SaveTree(*node, folder, session);
                report = std::move(session.report);
            } else {
                report = RunSaveWorker(*node, folder, context.sourceName, progress, &events);
            }
        });
        for (const std::string& message : events.Take()) fmt::print(stderr, "tabulon: {}\n", message);
        total.filesWritten += report.filesWritten;
        for (SaveProblem& problem : report.problems) total.problems.push_back(std::move(problem));
        if (!report.folderError.empty()) total.folderError = report.folderError;
        if (report.stopped || Interrupted()) {
            total.stopped = true;
            break;
        }
    }
    context.hasResults = false;
    for (const SaveProblem& problem : total.problems)
        fmt::print(stderr, "tabulon: not saved whole: {}: {}\n", problem.path, SaveResultText(problem.result));
    return total;
}

int SaveIntoFolder(const std::vector<ResultNode*>& nodes, const std::string& folder) {
    std::string target = PrepareTargetFolder(folder);
    if (target.empty()) return 1;
    SaveReport report = SaveNodes(nodes, target);
    fmt::print("saved {} file{} to {}\n", report.filesWritten, report.filesWritten == 1 ? "" : "s", target);
    if (report.stopped && Interrupted()) fmt::print(stderr, "tabulon: stopped; the files written so far are complete\n");
    return report.Ok() && !Interrupted() ? 0 : 1;
}

}  // namespace tabulon::cli
