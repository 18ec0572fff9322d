// Speed of the record rules and block classification on real workbook streams of the corpus:
// IsPlausible over every record of a known type (records per second) and ClassifyBlock over 4096-byte
// stream blocks entered at their first record (MB/s), each against a bare walk of the same record
// headers measured in the same run.

#include <benchmark/benchmark.h>
#include <fmt/core.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/compound_file_reader.h"
#include "tests/support/stream_survey.h"

namespace {

using namespace tabulon;

struct Block {
    const uint8_t* data;
    size_t available;  // the block and the 8 bytes after it
    int32_t entry;
};

struct Corpus {
    std::vector<std::vector<uint8_t>> streams;
    std::vector<std::pair<const std::vector<uint8_t>*, uint32_t>> records;  // known-type record positions
    std::vector<Block> blocks;
    uint64_t blockBytes = 0;
};

constexpr uint32_t kBlockBytes = 4096;

const Corpus& LoadCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        const std::string folder = std::string(TABULON_CORPUS_DIR) + "/xls";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            if (entry.path().extension() != ".xls") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            test::CompoundFileReader reader;
            if (!reader.Open(bytes)) continue;
            std::optional<std::vector<uint8_t>> stream = reader.ReadWorkbookStream();
            if (stream && stream->size() >= 8 && LoadU16(stream->data() + 4) == 0x0600) c.streams.push_back(*stream);
        }
        for (const std::vector<uint8_t>& stream : c.streams) {
            const std::vector<test::StreamRecord> records = test::WalkRecords(stream);
            for (const test::StreamRecord& r : records)
                if (RecordTypeNames::IsKnown(r.type)) c.records.emplace_back(&stream, r.position);
            size_t next = 0;
            for (uint64_t start = 0; start + kBlockBytes <= stream.size(); start += kBlockBytes) {
                while (next < records.size() && records[next].position < start) ++next;
                if (next == records.size()) break;
                if (records[next].position + 2 > start + kBlockBytes) continue;
                c.blocks.push_back({stream.data() + start, size_t(std::min<uint64_t>(kBlockBytes + 8, stream.size() - start)),
                                    int32_t(records[next].position - start)});
                c.blockBytes += kBlockBytes - uint64_t(c.blocks.back().entry);
            }
        }
        return c;
    }();
    return corpus;
}

// The least any walk of the same blocks costs: read each header and step over the body.
uint64_t BareWalk(const Corpus& c) {
    uint64_t sum = 0;
    for (const Block& b : c.blocks)
        for (int64_t pos = b.entry; pos + 4 <= kBlockBytes; pos += 4 + LoadU16(b.data + pos + 2)) sum += LoadU16(b.data + pos);
    return sum;
}

uint64_t ClassifyAll(const Corpus& c) {
    uint64_t passed = 0;
    BlockProfile chain;
    for (const Block& b : c.blocks) {
        BlockProfile scratch = chain.ScratchCopy();
        LastRecord last;
        passed += ClassifyBlock(std::span<const uint8_t>(b.data, b.available), b.entry, kBlockBytes, scratch, last) ? 1 : 0;
    }
    return passed;
}

void BM_IsPlausible(benchmark::State& state) {
    const Corpus& c = LoadCorpus();
    if (c.records.empty()) {
        state.SkipWithError("no corpus records");
        return;
    }
    for (auto _ : state) {
        uint64_t plausible = 0;
        for (const auto& [stream, position] : c.records)
            plausible += RecordPlausibility::IsPlausible(stream->data(), position, uint32_t(stream->size())) ? 1 : 0;
        benchmark::DoNotOptimize(plausible);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.records.size()));
}
BENCHMARK(BM_IsPlausible)->Unit(benchmark::kMillisecond);

void BM_ClassifyBlock(benchmark::State& state) {
    const Corpus& c = LoadCorpus();
    if (c.blocks.empty()) {
        state.SkipWithError("no corpus blocks");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ClassifyAll(c));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.blockBytes));
}
BENCHMARK(BM_ClassifyBlock)->Unit(benchmark::kMillisecond);

void BM_BareRecordWalk(benchmark::State& state) {
    const Corpus& c = LoadCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(BareWalk(c));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.blockBytes));
}
BENCHMARK(BM_BareRecordWalk)->Unit(benchmark::kMillisecond);

template <typename Work>
double SecondsPerRun(Work work) {
    using Clock = std::chrono::steady_clock;
    int runs = 0;
    const auto begin = Clock::now();
    Clock::duration elapsed {};
    do {
        benchmark::DoNotOptimize(work());
        ++runs;
        elapsed = Clock::now() - begin;
    } while (elapsed < std::chrono::seconds(2));
    return std::chrono::duration<double>(elapsed).count() / runs;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const Corpus& c = LoadCorpus();
    if (c.blocks.empty()) {
        fmt::print("no corpus streams under {}/xls\n", TABULON_CORPUS_DIR);
        return 1;
    }
    const double classify = SecondsPerRun([&] { return ClassifyAll(c); });
    const double bare = SecondsPerRun([&] { return BareWalk(c); });
    const double records = SecondsPerRun([&] {
        uint64_t n = 0;
        for (const auto& [stream, position] : c.records)
            n += RecordPlausibility::IsPlausible(stream->data(), position, uint32_t(stream->size())) ? 1 : 0;
        return n;
    });
    const double megabytes = double(c.blockBytes) / 1e6;
    fmt::print("\n{} streams, {} known records, {} blocks of {} bytes ({:.1f} MB offered from the entry offsets)\n", c.streams.size(),
               c.records.size(), c.blocks.size(), kBlockBytes, megabytes);
    fmt::print("IsPlausible:   {:.1f} million records/s\n", double(c.records.size()) / records / 1e6);
    fmt::print("ClassifyBlock: {:.0f} MB/s; bare header walk {:.0f} MB/s; ratio {:.2f} (bare walk time / classify time)\n",
               megabytes / classify, megabytes / bare, bare / classify);
    return 0;
}
