#pragma once
// Reads one named stream out of a whole compound document held in memory, and tells where its bytes lie
// in the file. Used offline to gather workbook streams (the record-succession table is built from them)
// and to judge how a workbook stream sits inside its container (contiguous or not, how much follows it).
//
// Every read is checked against the bytes given: a damaged or hostile file yields false, never a read
// outside the buffer, and every chain walk is bounded by the file's sector count, so loops end.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tabulon {

struct CompoundStream {
    std::vector<uint8_t> bytes;          // the stream's content, exactly its recorded size
    uint32_t sectorSize = 0;             // 512 or 4096 (64 for a stream held in the mini stream)
    bool inMiniStream = false;
    // File offsets of the stream's sectors, in stream order (the mini-stream sectors' own offsets in the
    // file when the stream is held in the mini stream).
    std::vector<uint64_t> sectorOffsets;

    // True when the stream's sectors follow each other in the file without a gap.
    bool IsContiguous() const;
    // Bytes of the file after the end of the stream's last sector (0 when it ends the file).
    uint64_t TailBytes(uint64_t fileSize) const;
};

// Finds the stream called `name` (compared without regard to ASCII case) anywhere in the directory and
// reads it. False when the file is not a readable compound document or has no such stream, or when the
// stream's chain is broken, cyclic or shorter than its recorded size.
bool ReadCompoundStream(std::span<const uint8_t> file, std::u16string_view name, CompoundStream& out);

// The workbook stream: "Workbook", else "Book".
bool ReadWorkbookStream(std::span<const uint8_t> file, CompoundStream& out);

}  // namespace tabulon
