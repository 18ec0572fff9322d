#pragma once
// Fragment scanning of one file of the result tree: the worker prepares the loaded source's block
// store when it has none, finds the workbook stream in the file's first block, searches the free blocks
// for its continuation and adds the candidates it found, as a folder of files named after the scanned
// file, under the fragment-scanned category.

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "app/progress_state.h"
#include "app/scan_context.h"
#include "app/scan_settings.h"
#include "app/worker_events.h"

namespace tabulon {

class RecordSuccessionTable;
struct ResultNode;

// How a fragment scan ended, for front ends that report it (the window does not).
enum class FragmentScanOutcome {
    CandidatesFound,    // a folder of candidates was added
    NoCandidates,       // the search found nothing
    NoBlockSize,        // no file system and no block size set
    NoBlocks,           // the block store could not be prepared (unreadable source, bad layout, no memory)
    Stopped,            // a stop request ended the preparation
    NotOnBlockGrid,     // the file's first sector does not begin a block
    FirstBlockInUse,    // its first block is allocated, filler or unreadable
    NoCompoundDocument, // its first block does not begin with the compound-document signature
    NoWorkbookStream,   // no workbook stream where a compound document puts it
};

struct FragmentScanJob {
    ScanContext& context;
    ProgressState& progress;
    ScanSettings& settings;
    const RecordSuccessionTable& table;
    WorkerEvents* events = nullptr;

    std::u16string baseName;   // the scanned file's name without its ".xls"
    uint32_t firstSector = 0;  // absolute first sector of its data
    uint64_t sizeLimit = 0;    // its recorded size in bytes; 0 = unknown
    // Extension steps the search may take (0 = no limit).
    uint64_t maxSteps = 0;
    // Asked when the source has no file system and no block size is set: a block size of 1-128
    // sectors, or 0 to end the scan.
    std::function<int32_t()> askBlockSize;

    FragmentScanOutcome* outcome = nullptr;  // set when the scan ends, when given
    ResultNode** addedFolder = nullptr;      // the folder added, when given (null when none)
};

// The node name without its last four characters (the ".xls" extension), as the candidates' base name.
std::u16string FragmentBaseName(const std::u16string& fileName);

// The fragment-scan worker's body, run on the calling thread. Leaves stopRequested set.
void RunFragmentScanWorker(const FragmentScanJob& job);

// Starts RunFragmentScanWorker on a new thread and returns it; an empty thread while another worker
// is busy.
std::thread StartFragmentScan(const FragmentScanJob& job);

}  // namespace tabulon
