#pragma once
// Measures the record rules and block classification on real workbook streams: how many records of each
// known type are judged plausible, how many stream blocks pass when entered at the right record offset,
// and how many random, zeroed or erased blocks pass. Header-only so that the survey tool and the tests
// share it.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "common/little_endian.h"
#include "fragment/block_classification.h"
#include "fragment/record_plausibility.h"
#include "fragment/record_type_names.h"

namespace tabulon::test {

struct StreamRecord {
    uint32_t position = 0;
    uint16_t type = 0;
    uint16_t length = 0;
};

// The records of a stream, from its start, as far as whole headers lie inside it and up to the zero or
// 0xFF padding some writers leave after the last record.
inline std::vector<StreamRecord> WalkRecords(std::span<const uint8_t> stream) {
    std::vector<StreamRecord> records;
    for (uint64_t pos = 0; pos + 4 <= stream.size();) {
        StreamRecord record {uint32_t(pos), LoadU16(&stream[pos]), LoadU16(&stream[pos + 2])};
        if (IsFiller(record.type)) break;
        records.push_back(record);
        pos += 4 + uint64_t(record.length);
    }
    return records;
}

struct TypeTally {
    uint64_t seen = 0;
    uint64_t plausible = 0;
};

struct BlockTally {
    uint64_t blocks = 0;        // continuation blocks that hold a record header
    uint64_t passed = 0;
    uint64_t insideRecord = 0;  // blocks no record header starts in (one long record covers them)
    std::map<uint16_t, uint64_t> failedAtType;  // type of the record where a failing walk stopped
};

// Every record of a known type in the stream, judged inside the whole stream.
inline void TallyRecords(std::span<const uint8_t> stream, std::map<uint16_t, TypeTally>& tallies) {
    for (const StreamRecord& record : WalkRecords(stream)) {
        if (!RecordTypeNames::IsKnown(record.type)) continue;
        TypeTally& tally = tallies[record.type];
        ++tally.seen;
        if (RecordPlausibility::IsPlausible(stream.data(), record.position, uint32_t(stream.size()))) ++tally.plausible;
    }
}

// The stream cut into blocks of `blockBytes` from its start; every whole block after the first is entered
// at the first record header that starts in it, as the fragment search does, with the counters of the
// blocks before it. The 8 bytes after each block are offered for a header cut by the block end.
inline void TallyContinuationBlocks(std::span<const uint8_t> stream, uint32_t blockBytes, BlockTally& tally) {
    const std::vector<StreamRecord> records = WalkRecords(stream);
    BlockProfile chain;
    size_t next = 0;
    for (uint64_t blockStart = blockBytes; blockStart + blockBytes <= stream.size(); blockStart += blockBytes) {
        while (next < records.size() && records[next].position < blockStart) ++next;
        if (next == records.size()) break;  // past the last record: padding
        if (records[next].position + 2 > blockStart + blockBytes) {
            ++tally.insideRecord;
            continue;
        }
        const auto entry = int32_t(records[next].position - blockStart);
        const size_t available = size_t(std::min<uint64_t>(blockBytes + 8, stream.size() - blockStart));
        BlockProfile scratch = chain.ScratchCopy();
        LastRecord last;
        ++tally.blocks;
        if (ClassifyBlock(stream.subspan(size_t(blockStart), available), entry, int32_t(blockBytes), scratch, last)) {
            ++tally.passed;
            chain.bofCount = scratch.bofCount;
            chain.sstCount = scratch.sstCount;
            chain.eofAfterSstCount = scratch.eofAfterSstCount;
            chain.cellCount = scratch.cellCount;
        } else {
            ++tally.failedAtType[last.type];
        }
    }
}

struct NoiseTally {
    uint64_t tried = 0;
    uint64_t passed = 0;
};

// Blocks of random bytes entered at offset 0 and at `offsetsPerBlock - 1` random offsets.
inline NoiseTally TallyRandomBlocks(uint32_t blockBytes, int blocks, int offsetsPerBlock, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> block(blockBytes + 8);
    NoiseTally tally;
    for (int b = 0; b < blocks; ++b) {
        for (uint8_t& byte : block) byte = uint8_t(random());
        for (int o = 0; o < offsetsPerBlock; ++o) {
            const auto entry = int32_t(o == 0 ? 0 : random() % (blockBytes - 2));
            BlockProfile profile;
            LastRecord last;
            ++tally.tried;
            if (ClassifyBlock(block, entry, int32_t(blockBytes), profile, last)) ++tally.passed;
        }
    }
    return tally;
}

// Blocks of one repeated byte (0x00 for zeroed, 0xFF for erased areas), entered at every offset.
inline NoiseTally TallyFillerBlocks(uint32_t blockBytes, uint8_t fill) {
    std::vector<uint8_t> block(blockBytes + 8, fill);
    NoiseTally tally;
    for (uint32_t entry = 0; entry + 2 <= blockBytes; ++entry) {
        BlockProfile profile;
        LastRecord last;
        ++tally.tried;
        if (ClassifyBlock(block, int32_t(entry), int32_t(blockBytes), profile, last)) ++tally.passed;
    }
    return tally;
}

}  // namespace tabulon::test
