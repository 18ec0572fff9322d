#include "fs/raw_disk_scan.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "fs/analysis_settings.h"
#include "fs/content_signature_scan.h"
#include "fs/directory_run_search.h"
#include "fs/disk_node.h"
#include "fs/volume_candidates.h"
#include "fs/volume_reconstruction.h"
#include "source/volume_device.h"

namespace tabulon {
namespace {

constexpr size_t kSectorBytes = 512;
// Sector numbers on the device are 32-bit: the scan ends at 2 TiB.
constexpr uint64_t kAddressableSectors = uint64_t(1) << 32;

// Progress counters are 32-bit: sectors are counted in units of 2^shift so that the range fits.
int ProgressShift(uint64_t sectors) {
    int shift = 0;
    while ((sectors >> shift) > uint64_t(INT32_MAX)) ++shift;
    return shift;
}

uint64_t MinimumGroupSize(const VolumeDevice& device, uint64_t deviceSectors, const RawScanOptions& options) {
    if (device.Kind() != VolumeDevice::kDeviceKind || deviceSectors < kRawLargeDeviceSectors) return 1;
    const uint32_t configured =
        options.minimumGroupSize != 0 ? options.minimumGroupSize : AnalysisSettings::Global().minimumGroupSize;
    return std::max<uint32_t>(configured, 1);
}

class WindowScan {
public:
    WindowScan(VolumeDevice& device, uint64_t deviceSectors, uint64_t end)
        : device_(device), end_(end), buffer_((kRawWindowSectors + kRawLookAheadSectors) * kSectorBytes),
          search_(deviceSectors) {}

    // Reads the window at `start`. False when no piece of it could be read.
    bool Read(uint64_t start) {
        windowSectors_ = static_cast<size_t>(std::min<uint64_t>(kRawWindowSectors, end_ - start));
        bool any = false;
        for (uint32_t k = 0; k * kRawPieceSectors < windowSectors_; ++k) {
            const uint64_t sector = start + uint64_t(k) * kRawPieceSectors;
            const size_t count = std::min<size_t>(kRawPieceSectors, windowSectors_ - k * size_t(kRawPieceSectors));
            uint8_t* piece = buffer_.data() + size_t(k) * kRawPieceSectors * kSectorBytes;
            // An unreadable piece reads as zeros, never as what the last window left there.
            if (device_.Read(piece, static_cast<int32_t>(count * kSectorBytes), static_cast<uint32_t>(sector)))
                any = true;
            else
                std::memset(piece, 0, count * kSectorBytes);
        }
        lookAhead_ = 0;
        const uint64_t next = start + kRawWindowSectors;
        if (any && windowSectors_ == kRawWindowSectors && next < end_) {
            const size_t count = static_cast<size_t>(std::min<uint64_t>(kRawLookAheadSectors, end_ - next));
            if (device_.Read(buffer_.data() + kRawWindowSectors * kSectorBytes, static_cast<int32_t>(count * kSectorBytes),
                             static_cast<uint32_t>(next)))
                lookAhead_ = count;
        }
        return any;
    }

    // Workbooks whose BOF sector lies in this window or in the first sectors of the look-ahead. The
    // sectors of the look-ahead tested here are not tested again by the next window, so a header and
    // BOF on either side of a window boundary are found once.
    void FindWorkbooks(uint64_t start) {
        const size_t tested = std::min<size_t>(lookAhead_, kContentScanCarrySectors);
        ScanForCompoundDocuments(buffer_.data(), (windowSectors_ + tested) * kSectorBytes, static_cast<uint32_t>(start),
                                 firstTested_);
        firstTested_ = std::max<size_t>(1, tested);
    }

    void FindFolders(uint64_t start, std::vector<FoundFolder>& folders) {
        search_.SearchWindow(buffer_.data(), windowSectors_, windowSectors_ + lookAhead_, static_cast<uint32_t>(start),
                             folders);
    }

    // The next window does not continue this one.
    void Discontinue() {
        firstTested_ = 1;
        search_.Discontinue();
    }

private:
    VolumeDevice& device_;
    uint64_t end_;
    std::vector<uint8_t> buffer_;
    DirectoryRunSearch search_;
    size_t windowSectors_ = 0;
    size_t lookAhead_ = 0;
    size_t firstTested_ = 1;  // first sector of the window tested as a BOF sector
};

void Report(ScanProgress* progress, uint64_t done, int shift) {
    if (progress) progress->SetPos(static_cast<int32_t>(done >> shift));
}

}  // namespace

bool ScanRawDisk(VolumeDevice& device, SourceDisk& owner, uint32_t partitionStart, const RawScanOptions& options,
                 ScanProgress* progress, RawScanSummary& summary) {
    summary = RawScanSummary {};
    if (!device.IsOpen()) return false;
    const uint64_t deviceSectors = device.SectorCount();
    const uint64_t begin = partitionStart;
    const uint64_t end = std::min(deviceSectors, kAddressableSectors);
    summary.firstSector = begin;
    summary.endSector = std::max(begin, end);
    // Nothing is read from a range of fewer than one piece.
    if (end <= begin || end - begin < kRawPieceSectors) return true;

    const int shift = ProgressShift(end - begin);
    if (progress) {
        progress->SetMax(static_cast<int32_t>((end - begin) >> shift));
        progress->SetPos(0);
    }
    const size_t workbooksBefore = ContentFoundList::Global().Size();
    try {
        WindowScan scan(device, deviceSectors, end);
        std::vector<FoundFolder> folders;
        for (uint64_t start = begin; start < end; start += kRawWindowSectors) {
            if (progress && progress->StopRequested()) {
                summary.stopped = true;
                break;
            }
            if (!scan.Read(start)) {
                ++summary.windowsSkipped;
                scan.Discontinue();
                Report(progress, std::min(end, start + kRawWindowSectors) - begin, shift);
                continue;
            }
            ++summary.windowsRead;
            scan.FindWorkbooks(start);
            if (options.scanByDirectory) scan.FindFolders(start, folders);
            Report(progress, std::min(end, start + kRawWindowSectors) - begin, shift);
        }
        summary.foldersFound = folders.size();
        if (!folders.empty()) {
            SmoothConfirmedClusterSizes(folders);
            auto candidates = GroupFoundFolders(std::move(folders), MinimumGroupSize(device, deviceSectors, options));
            for (auto& candidate : candidates) {
                owner.AddVolume(ReconstructVolume(std::move(candidate), owner, end));
                ++summary.volumesCreated;
            }
        }
    } catch (const std::bad_alloc&) {
        summary.stopped = true;
    }
    summary.workbooksFound = ContentFoundList::Global().Size() - workbooksBefore;
    if (progress) {
        progress->SetMax(0);
        progress->SetPos(0);
    }
    return !summary.stopped;
}

}  // namespace tabulon
