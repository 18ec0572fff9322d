// Fragment scanning of every deleted workbook of a 256 MiB FAT32 volume (4 KiB clusters) on which
// workbooks lie cut into 2 to 20 pieces among other files, in direct and in memory mode. Prints the
// time per file against `cat` of the same image (the cost of reading the volume once), the store
// preparation, the peak memory of each mode, and how many files came back whole.
//
//   bench_fragment_scan [IMAGE MANIFEST]   (without arguments a volume is generated first)
//
// A search is limited to 20,000 steps and 60 s (a watchdog presses Stop). Each mode runs in its own
// child process (this program with --mode), so that its peak memory is its own.

#include <fmt/core.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/fragment_scan_worker.h"
#include "app/load_worker.h"
#include "app/save_file.h"
#include "bench_support.h"
#include "fragment/block_store.h"
#include "fragment/record_succession_table.h"

namespace {

using namespace tabulon;
using bench::Quote;

constexpr uint64_t kMaxSteps = 20000;
constexpr double kMaxSecondsPerFile = 60;  // a watchdog stops a search that runs longer

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One mode: load, prepare the store, scan each deleted workbook; one line per file and a summary.
int RunMode(const std::string& image, const std::string& manifestPath, bool inMemory) {
    if (LoadProcessSuccessionTable() != SuccessionTableError::None) return 1;
    std::ifstream manifestFile(manifestPath);
    const nlohmann::json manifest = nlohmann::json::parse(manifestFile);
    ScanContext context;
    ProgressState progress;
    ScanSettings settings;
    settings.loadIntoMemory = inMemory;
    context.sourceName = image;
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;
    RunLoadWorker({context, progress, settings, nullptr, &outcome});

    BlockStoreLayout layout;
    const double prepare = bench::SecondsOf([&] {
        progress.SetStopRequested(false);
        FragmentScanJob job {context, progress, settings, RecordSuccessionTable::Process(), nullptr, {}, 0, 0, 0, {},
                             nullptr, nullptr};
        job.firstSector = 1;  // off the grid: only the store is prepared
        RunFragmentScanWorker(job);
    });
    fmt::print("{}: store prepared in {:.2f} s\n", inMemory ? "memory" : "direct", prepare);

    int files = 0, whole = 0;
    double total = 0;
    const uint64_t readsBefore = context.FragmentBlocks().BlockReads();
    size_t candidates = 0;
    for (const auto& entry : manifest["files"]) {
        if (entry["role"] != "workbook" || !entry.value("deleted", false)) continue;
        const uint32_t firstSector = entry["firstSector"];
        const ResultNode* node = nullptr;
        for (const auto& child : context.rootCategory.children)
            if (child->IsFile() && !child->sectors.empty() && child->sectors.front() == firstSector) node = child.get();
        if (node == nullptr) continue;
        const std::vector<uint8_t> original = ReadAll(entry["original"]);
        ResultNode* folder = nullptr;
        FragmentScanJob job {context, progress, settings, RecordSuccessionTable::Process(), nullptr, {}, 0, 0, 0, {},
                             nullptr, &folder};
        job.baseName = FragmentBaseName(node->name);
        job.firstSector = firstSector;
        job.sizeLimit = node->ByteSize();
        job.maxSteps = kMaxSteps;
        std::atomic<bool> done {false};
        std::thread watchdog([&] {
            const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kMaxSecondsPerFile);
            while (!done.load() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!done.load()) progress.RequestStop();
        });
        const double seconds = bench::SecondsOf([&] { RunFragmentScanWorker(job); });
        done.store(true);
        watchdog.join();
        bool found = false;
        const size_t count = folder ? folder->children.size() : 0;
        for (size_t i = 0; i < count && !found; ++i) {
            const std::string out = "/tmp/bench_fragment_candidate.xls";
            std::remove(out.c_str());
            const SaveFileOutcome saved = SaveFile(*folder->children[i], image, out);
            const std::vector<uint8_t> bytes = ReadAll(saved.path);
            found = bytes.size() >= original.size() && std::equal(original.begin(), original.end(), bytes.begin());
            std::remove(saved.path.c_str());
        }
        ++files;
        whole += found ? 1 : 0;
        total += seconds;
        candidates += count;
        fmt::print("  {:>9} bytes {:>2} pieces {:>5} clusters: {:7.3f} s, {:>4} candidates, {}\n",
                   uint64_t(entry["size"]), int(entry["pieces"]), int(entry["clusterCount"]), seconds, count,
                   found ? "whole" : "not found");
        std::fflush(stdout);
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    fmt::print("{}: {} files, {} whole, {} candidates, {:.3f} s per file, {:.0f} reads of the source per file, "
               "peak memory {} MiB\n",
               inMemory ? "memory" : "direct", files, whole, candidates, files ? total / files : 0.0,
               files ? double(context.FragmentBlocks().BlockReads() - readsBefore) / files : 0.0, usage.ru_maxrss / 1024);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--mode") == 0)
        return RunMode(argv[3], argv[4], std::strcmp(argv[2], "memory") == 0);

    std::string image, manifest;
    if (argc == 3) {
        image = argv[1];
        manifest = argv[2];
    } else {
        image = "/tmp/bench_fragment_scan.img";
        manifest = "/tmp/bench_fragment_scan.json";
        const std::string generate = std::string("/usr/bin/python3 ") + TABULON_SOURCE_DIR +
                                     "/tools/make_fragmented_image.py " + Quote(image) + " --manifest " +
                                     Quote(manifest) + " --fat 32 --cluster-kib 4 --size-mib 256 --xlwt 10" +
                                     " --xlwt-min-kib 50 --xlwt-max-kib 2048 --pieces 2 20 --live 10 --decoys 10 --seed 11";
        if (!bench::Run(generate)) {
            fmt::print(stderr, "cannot generate the volume\n");
            return 1;
        }
    }
    const double cat = bench::SecondsOf([&] { bench::Run("cat " + Quote(image) + " > /dev/null"); });
    fmt::print("reference: cat of the image {:.3f} s\n", cat);
    for (const char* mode : {"direct", "memory"}) {
        const std::string command = Quote(argv[0]) + " --mode " + mode + " " + Quote(image) + " " + Quote(manifest);
        const double seconds = bench::SecondsOf([&] { bench::Run(command); });
        fmt::print("{}: whole run {:.2f} s = {:.1f} x cat\n", mode, seconds, cat > 0 ? seconds / cat : 0.0);
    }
    return 0;
}
