#pragma once
// Finding workbooks by content: a compound-document header sector (D0 CF 11 E0) followed one or three
// sectors later by a sector that starts with a BIFF8 workbook BOF record (09 08 10 00 00 06). Hits are
// device sector numbers of the header and go to the process-wide content-found list.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tabulon {

// The first sectors of the workbooks found by content on the current source, in the order found
// (duplicates kept). Emptied when a new source is loaded; written by the load worker only.
class ContentFoundList {
public:
    static ContentFoundList& Global();

    void Clear();
    void Append(uint32_t sector);
    void Append(const std::vector<uint32_t>& sectors);
    void Assign(std::vector<uint32_t> sectors);
    std::vector<uint32_t> Sectors() const;
    size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::vector<uint32_t> sectors_;
};

// Tests the sectors of `buffer` (read from the device at `firstSector`) from index `firstTestedSector`
// (at least 1) to the last whole sector as the BOF sector, and appends the header sectors to `hits`.
// A caller that scans consecutive buffers hands the last three sectors of one buffer on in front of the
// next and tests from index 3, so that a header at the end of one buffer is found, exactly once.
void FindCompoundDocuments(const uint8_t* buffer, size_t byteCount, uint32_t firstSector, size_t firstTestedSector,
                           std::vector<uint32_t>& hits);

// As FindCompoundDocuments, appending to the content-found list.
void ScanForCompoundDocuments(const uint8_t* buffer, size_t byteCount, uint32_t firstSector,
                              size_t firstTestedSector = 1);

// Sectors that one buffer hands on to the next.
constexpr size_t kContentScanCarrySectors = 3;

}  // namespace tabulon
