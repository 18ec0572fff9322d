#pragma once
// Loading a data source: the worker decides from the first sectors whether a FAT volume can be analysed
// through its directories or the whole source must be scanned by content, runs the analyser, copies
// its trees into the scan context's categories and names the files found by content.

#include <thread>

#include "app/progress_state.h"
#include "app/scan_context.h"
#include "app/scan_settings.h"
#include "app/worker_events.h"

namespace tabulon {

// How a load ended, for front ends that report it (the window does not).
enum class LoadOutcome {
    SourceUnopenable,     // nothing changed: the previous results stay
    SectorZeroUnreadable, // the categories are empty
    NotFatVolume,         // a volume whose file system is not FAT: the categories are empty
    FatAnalysed,          // a FAT volume was analysed through its directories
    RawScanned,           // the whole source was scanned by content
    AnalysisUnavailable,  // the source could not be opened for analysis
};

// What a load needs; the scan context's sourceName names the source.
struct LoadJob {
    ScanContext& context;
    ProgressState& progress;
    ScanSettings& settings;
    WorkerEvents* events = nullptr;
    LoadOutcome* outcome = nullptr;  // set when the load ends, when given
};

// The load worker's body, run on the calling thread. Leaves stopRequested set, as every worker resets
// it when it starts.
void RunLoadWorker(const LoadJob& job);

// Starts RunLoadWorker on a new thread and returns it; an empty thread while another worker is busy.
std::thread StartLoad(const LoadJob& job);

}  // namespace tabulon
