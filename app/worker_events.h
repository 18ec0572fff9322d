#pragma once
// How a worker tells the front end what happens: the front end implements these (the window with
// queued signals, the command line with a progress line). Called on the worker's thread; every default
// does nothing. Progress figures and the status text are polled from ProgressState instead.

#include <string_view>

namespace tabulon {

struct ResultNode;

class WorkerEvents {
public:
    virtual ~WorkerEvents() = default;
    virtual void WorkStarted() {}
    virtual void WorkEnded() {}
    // The result categories changed as a whole: the tree is to be shown again from the scan context,
    // with the root category selected.
    virtual void TreeRebuilt() {}
    // A fragment scan added `folder` under the fragment-scanned category: it is to be shown and selected.
    virtual void FragmentFolderAdded(const ResultNode& /*folder*/) {}
    // Something the user should read, e.g. that a folder could not be created or a part of the analysis
    // is missing from this build.
    virtual void Notice(std::u16string_view /*text*/) {}
    // A save finished one file (`whole` false: it was not written completely or not at all).
    virtual void FileSaved(std::string_view /*path*/, bool /*whole*/) {}
};

}  // namespace tabulon
