// Measures the fragment search on FAT images whose deleted workbooks lie fragmented among other files,
// made by tools/make_fragmented_image.py with a JSON manifest of the ground truth. For every deleted
// workbook it seeds the search as the fragment-scan worker does (the file's first cluster, the workbook
// stream located with the volume's sectors per cluster, the recorded size as the size limit, the
// embedded succession table) and checks each candidate against the original file. Prints one table per
// grouping: fragment count, writer, container layout.
//
// usage: measure_fragment_search [--max-steps N] [--max-seconds S] [--verbose] [--own-blocks-only]
//                                IMAGE MANIFEST [IMAGE MANIFEST]...
//   --max-steps N   step budget of each search (default: the search's own default)
//   --max-seconds S time limit of each search, through the stop request (default 60)
//   --verbose       one line per workbook as well
//   --own-blocks-only  offer each search its file's own clusters only: what the record rules refuse
//
// Reproducing the published figures (images from the corpus files kept out of the succession table and
// from fresh python3-xlwt workbooks), from the repository root:
//   R=$PWD; mkdir -p /tmp/fragmeas && cd /tmp/fragmeas
//   grep -v '^#' $R/tools/succession_table_holdout.txt | sed "s|^|$R/../shared/corpus/xls/|" > holdout_all.txt
//   awk 'NR%2==1' holdout_all.txt > holdout_a.txt; awk 'NR%2==0' holdout_all.txt > holdout_b.txt
//   G=$R/tools/make_fragmented_image.py
//   $G img1.img --fat 32 --workbook-list holdout_a.txt --xlwt 6 --seed 1 --xlwt-max-kib 1024
//   $G img2.img --fat 32 --workbook-list holdout_b.txt --xlwt 6 --seed 2 --xlwt-max-kib 1024
//   $G img3.img --fat 16 --workbook-list holdout_a.txt --xlwt 5 --seed 3 --xlwt-max-kib 1024
//   $G img4.img --fat 16 --cluster-kib 4 --workbook-list holdout_b.txt --xlwt 5 --seed 4 --xlwt-max-kib 1024
//   $G img5.img --fat 32 --xlwt 12 --seed 5 --xlwt-max-kib 2048
//   $G img6.img --fat 16 --xlwt 10 --seed 6 --xlwt-max-kib 768
//   $R/build/release/measure_fragment_search --max-steps 20000 --max-seconds 10 --verbose
//       img1.img img1.img.json img2.img img2.img.json img3.img img3.img.json
//       img4.img img4.img.json img5.img img5.img.json img6.img img6.img.json    (one line)

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/little_endian.h"
#include "fragment/block_store.h"
#include "fragment/container_tail.h"
#include "fragment/fragment_search.h"
#include "fragment/record_succession_table.h"
#include "fragment/search_context.h"
#include "fragment/workbook_stream_seed.h"

using namespace tabulon;

namespace {

// A FAT image: its bytes through a private mapping (for checking candidates, whatever the table says)
// and the block store the fragment-scan worker builds from it, in memory mode.
class Image {
public:
    ~Image() {
        if (map_ != nullptr) munmap(map_, size_);
        if (fd_ >= 0) close(fd_);
    }

    bool Open(const std::string& path) {
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        struct stat info {};
        if (fstat(fd_, &info) != 0 || info.st_size < 512) return false;
        size_ = size_t(info.st_size);
        void* map = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
        if (map == MAP_FAILED) return false;
        map_ = static_cast<uint8_t*>(map);
        BlockStoreLayout layout;
        layout.sourceName = path;
        layout.fatFound = true;
        std::copy_n(map_, layout.bootCopy.size(), layout.bootCopy.begin());
        const uint32_t reserved = LoadU16(map_ + 14);
        const uint32_t perFat = LoadU16(map_ + 22) != 0 ? LoadU16(map_ + 22) : LoadU32(map_ + 36);
        layout.dataStartSector = reserved + map_[16] * perFat + (LoadU16(map_ + 17) * 32u + 511) / 512;
        layout.inMemory = true;
        return store_.Prepare(layout, nullptr) == BlockStore::PrepareResult::Ready;
    }

    BlockStore& Store() { return store_; }

    // The bytes of block `index` as they stand on disk, up to `bytes` of them.
    std::span<const uint8_t> Raw(int32_t index, int32_t bytes) const {
        const uint64_t at = store_.SectorOfBlock(index) * 512;
        if (index < 2 || at >= size_) return {};
        return {map_ + at, size_t(std::min<uint64_t>(uint64_t(bytes), size_ - at))};
    }

    // A search result as the fragment-scan worker saves it: completed to the file's recorded size with
    // the rest of its compound document, and for the first result once more where two blocks of the
    // document's structures tie.
    std::vector<std::vector<int32_t>> AsSaved(const std::vector<int32_t>& blocks, uint64_t size, bool first) {
        return CompletedCandidates(store_, blocks, size, first);
    }

private:
    int fd_ = -1;
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
    BlockStore store_;
};

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamsize size = in.tellg();
    if (size < 0) return false;
    out.resize(size_t(size));
    in.seekg(0);
    return bool(in.read(reinterpret_cast<char*>(out.data()), size));
}

// The volume's blocks as the search sees them, limited to one file's own clusters: with the other files'
// blocks out of the way, a search that still misses the file is refused by its own record rules.
class OwnBlocksOnly : public BlockSource {
public:
    OwnBlocksOnly(BlockSource& all, const std::vector<int32_t>& own) : all_(all), own_(own.begin(), own.end()) {}
    int32_t BlockCount() const override { return all_.BlockCount(); }
    int32_t BlockBytes() const override { return all_.BlockBytes(); }
    std::span<const uint8_t> GetBlock(int32_t index) override {
        if (std::find(own_.begin(), own_.end(), index) == own_.end()) return {};
        return all_.GetBlock(index);
    }
    int FillerByte(int32_t index) override {
        if (std::find(own_.begin(), own_.end(), index) == own_.end()) return -1;
        return all_.FillerByte(index);
    }

private:
    BlockSource& all_;
    std::vector<int32_t> own_;
};

// The outcome of one workbook's search.
struct Outcome {
    std::string fragments, writer, layout;
    bool seeded = false;
    bool found = false;        // a candidate's first `size` bytes equal the original
    bool saved = false;        // the same once the candidate is extended to the size as the worker saves it
    bool streamFound = false;  // a candidate equals the original up to the end of the workbook stream
    size_t candidates = 0;     // as the worker saves them: each result, and a second tail where two blocks tie
    size_t wrong = 0;          // of those, the ones that are not the original file
    uint64_t steps = 0;
    bool budgetSpent = false;
    bool timedOut = false;
    double milliseconds = 0;
};

std::string FragmentBucket(int pieces) {
    if (pieces <= 1) return "1";
    if (pieces <= 3) return "2-3";
    if (pieces <= 6) return "4-6";
    if (pieces <= 10) return "7-10";
    if (pieces <= 15) return "11-15";
    return "16-20";
}

// How the workbook stream sits in its compound file, as far as the search is concerned.
std::string LayoutOf(const nlohmann::json& file, int32_t blockBytes) {
    if (file.value("inMiniStream", false)) return "stream in mini stream";
    if (!file.contains("streamOffset") || file["streamOffset"].is_null()) return "no workbook stream";
    const int64_t offset = file["streamOffset"].get<int64_t>();
    // The search follows a stream laid out in file order only, wherever it starts.
    if (!file.value("streamContiguous", true)) return "non-contiguous stream";
    // A stream at 512 or 1536 bytes into the file is where the seed looks first; any other start is
    // found through the document's directory (or in its first block), which this row shows apart.
    if (offset != 512 && offset != 1536) return "stream starts elsewhere";
    const int64_t size = file["size"].get<int64_t>();
    const int64_t streamEnd = size - file.value("tailBytes", int64_t(0));
    const int64_t coveredEnd = (streamEnd + blockBytes - 1) / blockBytes * blockBytes + 2 * int64_t(blockBytes);
    return size <= coveredEnd ? "contiguous, short tail" : "contiguous, long tail";
}

Outcome Measure(Image& image, const nlohmann::json& file, uint64_t maxSteps, double maxSeconds, bool verbose,
                bool ownBlocksOnly) {
    Outcome outcome;
    outcome.fragments = FragmentBucket(file.value("pieces", 1));
    outcome.writer = file.value("writer", std::string("other")) == "xlwt" ? "xlwt" : "corpus";
    BlockStore& source = image.Store();
    const int32_t b = source.BlockBytes();
    outcome.layout = LayoutOf(file, b);
    std::vector<uint8_t> original;
    if (!ReadFile(file["original"].get<std::string>(), original)) {
        std::fprintf(stderr, "warning: cannot read %s\n", file["original"].get<std::string>().c_str());
        return outcome;
    }
    const size_t size = file["size"].get<size_t>();
    const int64_t tail = file.contains("tailBytes") && !file["tailBytes"].is_null() ? file["tailBytes"].get<int64_t>() : 0;
    const size_t streamEnd = std::min(size, size_t(std::max<int64_t>(0, int64_t(size) - tail)));

    const auto started = std::chrono::steady_clock::now();
    WorkbookStreamSeed seed;
    const int32_t g = file["firstCluster"].get<int32_t>();
    if (FindWorkbookStreamSeed(source, g, source.SectorsPerBlock(), seed)) {
        outcome.seeded = true;
        OwnBlocksOnly own(source, file["clusters"].get<std::vector<int32_t>>());
        SearchContext context(ownBlocksOnly ? static_cast<BlockSource&>(own) : source, RecordSuccessionTable::Process());
        context.sizeLimit = size;
        if (maxSteps != 0) context.maxSteps = maxSteps;
        // A watchdog asks the search to stop when its time is up, as the user's stop button would.
        std::atomic<uint32_t> stop {0};
        context.stopRequested = &stop;
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!finished.wait_for(lock, std::chrono::duration<double>(maxSeconds), [&] { return done; })) stop = 1;
        });
        SearchFragments(context, std::move(seed));
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        finished.notify_one();
        watchdog.join();
        outcome.timedOut = stop != 0;
        outcome.steps = context.steps;
        outcome.budgetSpent = context.maxSteps != 0 && context.steps >= context.maxSteps;
        auto bytesOf = [&](const std::vector<int32_t>& chain) {
            std::vector<uint8_t> bytes;
            for (int32_t block : chain) {
                const auto raw = image.Raw(block, b);
                bytes.insert(bytes.end(), raw.begin(), raw.end());
                if (bytes.size() >= size) break;
            }
            return bytes;
        };
        auto equalsFile = [&](const std::vector<uint8_t>& bytes) {
            return bytes.size() >= size && std::equal(original.begin(), original.begin() + long(size), bytes.begin());
        };
        std::vector<std::vector<int32_t>> savedCandidates;
        for (const auto& chain : context.results) {
            const std::vector<uint8_t> bytes = bytesOf(chain);
            const bool whole = equalsFile(bytes);
            auto completions = image.AsSaved(chain, size, &chain == &context.results.front());
            for (size_t k = 0; k < completions.size(); ++k) {
                auto& completed = completions[k];
                // A second completion differs from the first by one block at least.
                const bool equal = (k == 0 && whole) || equalsFile(bytesOf(completed));
                outcome.saved = outcome.saved || equal;
                ++outcome.candidates;
                if (!equal) ++outcome.wrong;
                savedCandidates.push_back(std::move(completed));
            }
            const bool stream = bytes.size() >= streamEnd &&
                                std::equal(original.begin(), original.begin() + long(streamEnd), bytes.begin());
            outcome.found = outcome.found || whole;
            outcome.streamFound = outcome.streamFound || stream;
        }
        if (verbose) {
            std::printf("  %-12s %-7s %3d pieces %5zu clusters %-24s %s%s  %zu wrong, %zu candidates, %llu steps%s\n",
                        file.value("name", std::string()).c_str(), outcome.writer.c_str(), file.value("pieces", 1),
                        (size + size_t(b) - 1) / size_t(b), outcome.layout.c_str(), outcome.found ? "FOUND" : outcome.saved ? "found as saved" : "missed",
                        !outcome.found && outcome.streamFound ? " (stream found)" : "", outcome.wrong,
                        outcome.candidates, static_cast<unsigned long long>(outcome.steps),
                        outcome.timedOut ? ", time limit" : "");
            // Where each saved candidate of a missed file parts from the file: cluster (found block,
            // the file's block), at most eight of them.
            if (!outcome.saved) {
                const auto truth = file["clusters"].get<std::vector<int32_t>>();
                for (const auto& saved : savedCandidates) {
                    std::string differ;
                    int shown = 0;
                    for (size_t c = 0; c < truth.size() && shown < 8; ++c) {
                        const auto want = std::span(original).subspan(c * size_t(b), std::min(size_t(b), size - c * size_t(b)));
                        const auto got = c < saved.size() ? image.Raw(saved[c], b) : std::span<const uint8_t> {};
                        if (got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin())) continue;
                        differ += " " + std::to_string(c) + ":" + std::to_string(c < saved.size() ? saved[c] : -1) + "/" +
                                  std::to_string(truth[c]);
                        ++shown;
                    }
                    std::printf("      saved differs at cluster:found/file%s\n", differ.c_str());
                }
            }
            std::fflush(stdout);
        }
    } else if (verbose) {
        std::printf("  %-12s %-7s %3d pieces %-24s not seeded\n", file.value("name", std::string()).c_str(),
                    outcome.writer.c_str(), file.value("pieces", 1), outcome.layout.c_str());
    }
    outcome.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

struct Tally {
    int files = 0, seeded = 0, found = 0, saved = 0, streamFound = 0, budgetSpent = 0;  // budget: steps or time
    size_t wrong = 0, maxWrong = 0;
    uint64_t steps = 0, maxSteps = 0;
    double milliseconds = 0, maxMilliseconds = 0;

    void Add(const Outcome& o) {
        ++files;
        seeded += o.seeded;
        found += o.found;
        saved += o.saved;
        streamFound += o.streamFound;
        budgetSpent += o.budgetSpent || o.timedOut;
        wrong += o.wrong;
        maxWrong = std::max(maxWrong, o.wrong);
        steps += o.steps;
        maxSteps = std::max(maxSteps, o.steps);
        milliseconds += o.milliseconds;
        maxMilliseconds = std::max(maxMilliseconds, o.milliseconds);
    }
};

void PrintTable(const char* title, const std::map<std::string, Tally>& rows) {
    std::printf("\n%s\n", title);
    std::printf("%-24s %5s %6s %6s %7s %6s %7s %6s %9s %9s %8s %9s %9s %9s\n", "group", "files", "seeded", "found",
                "found%", "saved", "saved%", "stream", "wrong/f", "wrongmax", "budget", "steps/f", "ms/file", "ms max");
    Tally all;
    auto line = [](const std::string& name, const Tally& t) {
        const double n = t.files != 0 ? t.files : 1;
        std::printf("%-24s %5d %6d %6d %6.1f%% %6d %6.1f%% %6d %9.1f %9zu %8d %9.0f %9.1f %9.1f\n", name.c_str(), t.files,
                    t.seeded, t.found, 100.0 * t.found / n, t.saved, 100.0 * t.saved / n, t.streamFound, double(t.wrong) / n, t.maxWrong, t.budgetSpent,
                    double(t.steps) / n, t.milliseconds / n, t.maxMilliseconds);
    };
    for (const auto& [name, tally] : rows) {
        line(name, tally);
        all.files += tally.files;
        all.seeded += tally.seeded;
        all.found += tally.found;
        all.saved += tally.saved;
        all.streamFound += tally.streamFound;
        all.budgetSpent += tally.budgetSpent;
        all.wrong += tally.wrong;
        all.maxWrong = std::max(all.maxWrong, tally.maxWrong);
        all.steps += tally.steps;
        all.maxSteps = std::max(all.maxSteps, tally.maxSteps);
        all.milliseconds += tally.milliseconds;
        all.maxMilliseconds = std::max(all.maxMilliseconds, tally.maxMilliseconds);
    }
    line("all", all);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t maxSteps = 0;
    double maxSeconds = 60;
    bool verbose = false;
    bool ownBlocksOnly = false;
    std::vector<std::pair<std::string, std::string>> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--max-steps" && i + 1 < argc) {
            maxSteps = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--max-seconds" && i + 1 < argc) {
            maxSeconds = std::strtod(argv[++i], nullptr);
        } else if (arg == "--own-blocks-only") {
            ownBlocksOnly = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "usage: measure_fragment_search [--max-steps N] [--max-seconds S] [--verbose] IMAGE MANIFEST...\n");
            return 2;
        } else if (i + 1 < argc) {
            inputs.emplace_back(arg, argv[++i]);
        } else {
            std::fprintf(stderr, "error: %s has no manifest\n", arg.c_str());
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: measure_fragment_search [--max-steps N] [--max-seconds S] [--verbose] IMAGE MANIFEST...\n");
        return 2;
    }
    if (LoadProcessSuccessionTable() != SuccessionTableError::None) {
        std::fprintf(stderr, "error: the record succession table cannot be loaded\n");
        return 1;
    }

    std::map<std::string, Tally> byFragments, byWriter, byLayout, byWriterSearchable;
    for (const auto& [image, manifestPath] : inputs) {
        Image source;
        if (!source.Open(image)) {
            std::fprintf(stderr, "error: cannot open %s as a FAT image\n", image.c_str());
            return 1;
        }
        std::ifstream manifestFile(manifestPath);
        const nlohmann::json manifest = nlohmann::json::parse(manifestFile, nullptr, false);
        if (manifest.is_discarded() || !manifest.contains("files")) {
            std::fprintf(stderr, "error: %s is not a manifest\n", manifestPath.c_str());
            return 1;
        }
        if (verbose) std::printf("%s: FAT%d, %d bytes a cluster\n", image.c_str(), manifest.value("fat", 0), source.Store().BlockBytes());
        for (const auto& file : manifest["files"]) {
            if (file.value("role", std::string()) != "workbook" || !file.value("deleted", false)) continue;
            const Outcome outcome = Measure(source, file, maxSteps, maxSeconds, verbose, ownBlocksOnly);
            byFragments[outcome.fragments].Add(outcome);
            byWriter[outcome.writer].Add(outcome);
            byLayout[outcome.layout].Add(outcome);
            if (outcome.layout == "contiguous, short tail") byWriterSearchable[outcome.writer].Add(outcome);
        }
    }
    std::printf("found: a candidate's first `size` bytes equal the file; saved: the same once the candidate is "
                "extended to the recorded size as the worker saves it; stream: a candidate equals the file up to "
                "the end of its workbook stream; wrong/f: candidates per file, as the worker saves them, that are not the file; budget: searches "
                "that spent their step budget or time limit\n");
    PrintTable("by fragment count (pieces)", byFragments);
    PrintTable("by writer", byWriter);
    PrintTable("by container layout", byLayout);
    PrintTable("by writer, contiguous stream with a short tail", byWriterSearchable);
    return 0;
}
