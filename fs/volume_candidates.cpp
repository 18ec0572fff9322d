#include "fs/volume_candidates.h"

#include <iterator>
#include <map>
#include <utility>

namespace tabulon {
namespace {

void MoveFolders(VolumeCandidate& from, VolumeCandidate& into) {
    into.folders.insert(into.folders.end(), std::make_move_iterator(from.folders.begin()),
                        std::make_move_iterator(from.folders.end()));
    from.folders.clear();
}

bool Joins(const VolumeCandidate& candidate, const FoundFolder& folder) {
    const uint32_t size = folder.confirmedSectorsPerCluster;
    if (size != 0 && candidate.clusterSize != 0) {
        if (size != candidate.clusterSize) return false;
    } else if (candidate.clusterSize != 0 && folder.ownCluster != 0) {
        const int64_t distance = int64_t(folder.start) - int64_t(candidate.firstStart);
        if (distance % int64_t(candidate.clusterSize) != 0) return false;
    }
    const int64_t origin = FolderOrigin(folder);
    if (origin != 0 && candidate.origin != 0 && origin != candidate.origin) return false;
    return true;
}

void Take(VolumeCandidate& candidate, FoundFolder&& folder) {
    if (candidate.clusterSize == 0 && folder.confirmedSectorsPerCluster != 0) {
        candidate.clusterSize = folder.confirmedSectorsPerCluster;
        candidate.firstStart = folder.start;
    }
    if (candidate.origin == 0) candidate.origin = FolderOrigin(folder);
    candidate.folders.push_back(std::move(folder));
}

bool OriginsCompatible(int64_t a, int64_t b) { return a == 0 || b == 0 || a == b; }

}  // namespace

uint64_t VolumeCandidate::Weight() const {
    uint64_t weight = 0;
    for (const auto& folder : folders) weight += folder.children.size();
    return weight;
}

void SmoothConfirmedClusterSizes(std::vector<FoundFolder>& folders) {
    if (folders.size() <= 3) return;
    // In place, left to right: a size dropped here no longer counts as the one before the next folder.
    for (size_t i = 1; i + 1 < folders.size(); ++i) {
        const uint32_t before = folders[i - 1].confirmedSectorsPerCluster;
        const uint32_t after = folders[i + 1].confirmedSectorsPerCluster;
        uint32_t& size = folders[i].confirmedSectorsPerCluster;
        // Two neighbours that merely both lack a size say nothing against this one.
        if (size != before && before == after && before != 0) size = 0;
    }
}

std::vector<VolumeCandidate> GroupFoundFolders(std::vector<FoundFolder> folders, uint64_t minimumGroupSize) {
    std::vector<VolumeCandidate> candidates;
    for (auto& folder : folders) {
        if (candidates.empty() || !Joins(candidates.back(), folder)) {
            VolumeCandidate fresh;
            fresh.firstStart = folder.start;
            fresh.clusterSize = folder.confirmedSectorsPerCluster;
            candidates.push_back(std::move(fresh));
        }
        Take(candidates.back(), std::move(folder));
    }

    std::vector<VolumeCandidate> kept;
    for (auto& candidate : candidates) {
        if (candidate.clusterSize == 0) continue;
        if (candidate.Weight() >= minimumGroupSize) {
            if (!kept.empty() && kept.back().clusterSize == candidate.clusterSize &&
                OriginsCompatible(kept.back().origin, candidate.origin)) {
                if (kept.back().origin == 0) kept.back().origin = candidate.origin;
                MoveFolders(candidate, kept.back());
            } else {
                kept.push_back(std::move(candidate));
            }
        } else if (!kept.empty()) {
            MoveFolders(candidate, kept.back());
        }
    }

    // Each kept candidate with a known origin absorbs the later ones of its cluster size whose origin is
    // the same or unknown. The earliest candidate of a (size, origin) pair is never absorbed itself, so one
    // pass with two indexes does it.
    std::map<std::pair<uint32_t, int64_t>, size_t> absorberOf;
    std::map<uint32_t, size_t> firstAbsorberOfSize;
    std::vector<VolumeCandidate> result;
    for (auto& candidate : kept) {
        if (candidate.origin != 0) {
            auto it = absorberOf.find({candidate.clusterSize, candidate.origin});
            if (it != absorberOf.end()) {
                MoveFolders(candidate, result[it->second]);
                continue;
            }
            absorberOf[{candidate.clusterSize, candidate.origin}] = result.size();
            firstAbsorberOfSize.emplace(candidate.clusterSize, result.size());
        } else if (auto it = firstAbsorberOfSize.find(candidate.clusterSize); it != firstAbsorberOfSize.end()) {
            MoveFolders(candidate, result[it->second]);
            continue;
        }
        result.push_back(std::move(candidate));
    }
    return result;
}

}  // namespace tabulon
