#pragma once
// Grouping the folders found by the raw disk scan into candidate volumes: folders in a row that agree
// on the cluster size and on where cluster 0 lies belong to one volume.

#include <cstdint>
#include <vector>

#include "fs/directory_run_search.h"

namespace tabulon {

struct VolumeCandidate {
    uint32_t firstStart = 0;   // device sector the cluster-size test counts from
    uint32_t clusterSize = 0;  // sectors per cluster; 0 unknown
    int64_t origin = 0;        // device sector of cluster 0; 0 unknown
    std::vector<FoundFolder> folders;

    // The sum of the folders' child counts.
    uint64_t Weight() const;
};

// A confirmed cluster size that differs from the one before it, while the folders before and after it
// agree on a known size, is taken as a misreading and dropped. Only for more than three folders.
void SmoothConfirmedClusterSizes(std::vector<FoundFolder>& folders);

// Groups the folders, in order, into candidates; drops candidates whose cluster size stays unknown;
// keeps those whose weight reaches `minimumGroupSize` (merging a kept candidate into the kept one
// before it when their cluster sizes are equal and their origins equal or one unknown) and gives the
// folders of lighter ones to the kept candidate before them (they are lost when there is none);
// finally each kept candidate with a known origin absorbs later ones of the same cluster size and the
// same or an unknown origin.
std::vector<VolumeCandidate> GroupFoundFolders(std::vector<FoundFolder> folders, uint64_t minimumGroupSize);

}  // namespace tabulon
