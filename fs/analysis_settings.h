#pragma once
// Switches and bounds of the directory-content tests shared by the lost-folder scan, boot parameter
// reconstruction and the raw disk scan. One record for the process; the defaults let every ordinary
// directory cluster pass.

#include <cstdint>
#include <string>

namespace tabulon {

struct AnalysisSettings {
    bool timeChecks = true;      // a slot whose times and dates are all implausible fails
    bool dateChecks = true;
    bool strictDates = false;    // also require the years of the dates to lie in [earliestYear, latestYear]
    uint32_t earliestYear = 1980;
    uint32_t latestYear = 2107;
    // Bytes that never occur in a short name; a short-name slot holding one is not directory content.
    std::string forbiddenNameCharacters = "\\/:'<>|?*";
    bool exemptVolumeLabelSlot0 = true;  // slot 0 that is a volume label with size 0 is not checked
    // Raw disk scan: records a group of directories needs before it becomes a volume (devices of
    // 600 MiB and more).
    uint32_t minimumGroupSize = 3;

    static AnalysisSettings& Global();
};

}  // namespace tabulon
