// record_survey: measures the record rules and block classification on a folder of .xls files.
//
//   record_survey [FOLDER]      (default ../shared/corpus/xls)
//
// Prints, per known record type, how many records the workbook streams hold and how many are judged
// plausible; how many continuation blocks of 512, 4096 and 32768 bytes pass when entered at the right
// record offset (and at which record types the failing ones stopped); and how many random, zeroed and
// erased blocks pass.

#include <fmt/core.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/compound_file_reader.h"
#include "tests/support/stream_survey.h"

namespace {

std::string Utf8Name(std::u16string_view name) {
    std::string out;
    for (char16_t c : name) out.push_back(c < 0x80 ? char(c) : '?');
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tabulon;
    using namespace tabulon::test;
    const std::string folder = argc > 1 ? argv[1] : "../shared/corpus/xls";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        fmt::print(stderr, "record_survey: {} is not a folder\n", folder);
        return 1;
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().extension() == ".xls") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());

    constexpr uint32_t kBlockSizes[] = {512, 4096, 32768};
    std::map<uint16_t, TypeTally> types;
    std::map<uint32_t, BlockTally> blocks;
    int streams = 0, unreadable = 0, notBiff8 = 0;
    for (const std::string& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        CompoundFileReader reader;
        std::optional<std::vector<uint8_t>> stream;
        if (reader.Open(bytes)) stream = reader.ReadWorkbookStream();
        if (!stream) {
            ++unreadable;
            continue;
        }
        // Only BIFF8 streams are the search's business; others are counted and left out.
        if (stream->size() < 8 || LoadU16(stream->data()) != 0x0809 || LoadU16(stream->data() + 4) != 0x0600) {
            ++notBiff8;
            continue;
        }
        ++streams;
        TallyRecords(*stream, types);
        for (uint32_t size : kBlockSizes) TallyContinuationBlocks(*stream, size, blocks[size]);
    }

    fmt::print("{} files: {} BIFF8 workbook streams, {} other streams, {} without a readable stream\n\n",
               files.size(), streams, notBiff8, unreadable);
    fmt::print("{:<6} {:<20} {:>9} {:>9} {:>8}\n", "type", "name", "records", "plausible", "share");
    uint64_t seen = 0, plausible = 0;
    for (const auto& [type, tally] : types) {
        seen += tally.seen;
        plausible += tally.plausible;
        fmt::print("0x{:04X} {:<20} {:>9} {:>9} {:>7.2f}%\n", type, Utf8Name(RecordTypeNames::NameOf(type)),
                   tally.seen, tally.plausible, 100.0 * double(tally.plausible) / double(tally.seen));
    }
    fmt::print("{:<27} {:>9} {:>9} {:>7.2f}%\n\n", "all known types", seen, plausible,
               seen ? 100.0 * double(plausible) / double(seen) : 0.0);

    for (uint32_t size : kBlockSizes) {
        const BlockTally& tally = blocks[size];
        fmt::print("{:>5}-byte continuation blocks: {} entered, {} passed ({:.2f}%), {} inside one record\n", size,
                   tally.blocks, tally.passed, tally.blocks ? 100.0 * double(tally.passed) / double(tally.blocks) : 0.0,
                   tally.insideRecord);
        for (const auto& [type, count] : tally.failedAtType)
            fmt::print("        failed at 0x{:04X} {:<20} {}\n", type, Utf8Name(RecordTypeNames::NameOf(type)), count);
    }
    fmt::print("\n");
    for (uint32_t size : kBlockSizes) {
        NoiseTally random = TallyRandomBlocks(size, size == 32768 ? 2000 : 20000, 4, 20240611u + size);
        NoiseTally zero = TallyFillerBlocks(size, 0x00);
        NoiseTally erased = TallyFillerBlocks(size, 0xFF);
        fmt::print("{:>5}-byte noise: random {} of {} walks passed; zero {} of {}; 0xFF {} of {}\n", size, random.passed,
                   random.tried, zero.passed, zero.tried, erased.passed, erased.tried);
    }
    return 0;
}
