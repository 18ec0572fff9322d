#include "app/save_tree.h"

#include "app/make_directories.h"
#include "app/safe_name.h"
#include "app/strings.h"
#include "app/utf_text.h"

namespace tabulon {
namespace {

void SaveOneFile(const ResultNode& file, const std::string& folder, SaveSession& session) {
    if (session.progress.StopRequested()) {
        session.report.stopped = true;
        return;
    }
    session.progress.progressPos.fetch_add(1, std::memory_order_relaxed);
    session.progress.SetStatusText(FormatText(LoadString(StringId::Saving), {file.name}));
    std::string path = JoinSafe(folder, file.name);
    SaveFileOutcome outcome = SaveFile(file, session.sourceName, path);
    const std::string& used = outcome.path.empty() ? path : outcome.path;
    if (outcome.result == SaveResult::Written)
        ++session.report.filesWritten;
    else if (IsSaveFailure(outcome.result))
        session.report.problems.push_back({used, outcome.result});
    if (session.events && outcome.result != SaveResult::NoSectors)
        session.events->FileSaved(used, outcome.result == SaveResult::Written);
}

}  // namespace

int64_t CountFiles(const ResultNode& node) {
    int64_t count = 0;
    std::vector<const ResultNode*> pending {&node};
    while (!pending.empty()) {
        const ResultNode* current = pending.back();
        pending.pop_back();
        if (current->IsFile()) {
            ++count;
            continue;
        }
        for (const auto& child : current->children) pending.push_back(child.get());
    }
    return count;
}

void SaveTree(const ResultNode& node, const std::string& parentPath, SaveSession& session) {
    if (node.IsFile()) {
        SaveOneFile(node, parentPath, session);
        return;
    }
    // Pre-order with an explicit stack, so that no folder depth can exhaust the stack.
    struct Frame {
        const ResultNode* folder;
        std::string path;
        size_t next;
    };
    std::vector<Frame> stack;
    auto enter = [&](const ResultNode& folder, const std::string& parent) {
        std::string path = JoinSafe(parent, folder.name);
        if (!MakeDirectories(path)) {
            std::u16string message = FormatText(LoadString(StringId::CreateFolderFailed), {FromUtf8(path)});
            session.report.folderError = message;
            session.report.stopped = true;
            session.progress.RequestStop();
            if (session.events) session.events->Notice(message);
            return;
        }
        stack.push_back({&folder, std::move(path), 0});
    };
    enter(node, parentPath);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.folder->children.size()) {
            stack.pop_back();
            continue;
        }
        if (session.progress.StopRequested()) {
            session.report.stopped = true;
            break;
        }
        const ResultNode& child = *frame.folder->children[frame.next++];
        if (child.IsFile())
            SaveOneFile(child, frame.path, session);
        else
            enter(child, std::string(frame.path));  // may invalidate `frame`
    }
}

SaveReport RunSaveWorker(const ResultNode& node, const std::string& folder, const std::string& sourceName,
                         ProgressState& progress, WorkerEvents* events) {
    progress.SetMax(0);
    progress.SetPos(0);
    progress.SetBusy(true);
    progress.SetStopRequested(false);
    SaveSession session {sourceName, progress, events, {}};
    if (!node.children.empty()) {
        if (events) events->WorkStarted();
        int64_t total = CountFiles(node);
        progress.SetMax(total > INT32_MAX ? INT32_MAX : int32_t(total));
        progress.SetPos(0);
        SaveTree(node, folder, session);
        if (events) events->WorkEnded();
    }
    progress.SetBusy(false);
    progress.SetStopRequested(false);
    return std::move(session.report);
}

std::thread StartSaveWorker(const ResultNode& node, std::string folder, std::string sourceName, ProgressState& progress,
                            WorkerEvents* events, SaveReport* reportOut) {
    if (!progress.ClaimIdle()) return {};
    return std::thread([&node, folder = std::move(folder), sourceName = std::move(sourceName), &progress, events, reportOut] {
        SaveReport report = RunSaveWorker(node, folder, sourceName, progress, events);
        if (reportOut) *reportOut = std::move(report);
    });
}

}  // namespace tabulon
