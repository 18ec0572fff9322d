#pragma once
// The raw disk scan: walks a whole device in windows of 1 MiB, finds workbooks by content and
// directory data by its shape, and rebuilds the FAT32 volumes that the directories imply.

#include <cstddef>
#include <cstdint>

#include "fs/scan_progress.h"

namespace tabulon {

class SourceDisk;
class VolumeDevice;

struct RawScanOptions {
    // Look for directory data and rebuild volumes from it; off, only workbooks are found.
    bool scanByDirectory = true;
    // Children a group of found folders needs before it becomes a volume on devices of 600 MiB and
    // more (smaller devices need 1). 0 takes the process-wide analysis setting.
    uint32_t minimumGroupSize = 0;
};

// What one scan did, for the caller's status line and for tests.
struct RawScanSummary {
    uint64_t firstSector = 0;      // the range scanned, device sectors
    uint64_t endSector = 0;
    uint64_t windowsRead = 0;
    uint64_t windowsSkipped = 0;   // no piece of the window could be read
    uint64_t workbooksFound = 0;   // appended to the content-found list
    uint64_t foldersFound = 0;     // directory runs that gave a folder with children
    uint64_t volumesCreated = 0;   // appended to the owner's volume list
    bool stopped = false;
};

// A window is 2,048 sectors read in 16 pieces of 128, followed by 64 sectors of look-ahead.
constexpr uint32_t kRawWindowSectors = 2048;
constexpr uint32_t kRawPieceSectors = 128;
constexpr uint32_t kRawLookAheadSectors = 64;
// Devices below this size (600 MiB) turn every group of found folders into a volume.
constexpr uint64_t kRawLargeDeviceSectors = 1228800;

// Scans `device` from `partitionStart` to its end. Workbooks go to the content-found list; each FAT32
// volume rebuilt from directory data is appended to `owner`'s volume list. Progress counts sectors;
// a stop request ends the scan after the current window, keeping what was found. A device of fewer than
// 128 sectors is not read. False when the device is not open or the scan was stopped.
bool ScanRawDisk(VolumeDevice& device, SourceDisk& owner, uint32_t partitionStart, const RawScanOptions& options,
                 ScanProgress* progress, RawScanSummary& summary);

}  // namespace tabulon
