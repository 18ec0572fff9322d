#pragma once
// Turning a candidate group of found folders into a FAT32 volume: folders nested where another folder
// names them, the rest listed under "ROOT", and a geometry that puts every folder at the cluster its
// "." slot names.

#include <cstdint>
#include <memory>

#include "fs/fat_volume.h"
#include "fs/volume_candidates.h"

namespace tabulon {

class SourceDisk;

struct ReconstructedGeometry {
    uint32_t sectorsPerCluster = 0;  // the most frequent confirmed cluster size; 0 none
    uint32_t firstDataSector = 0;    // device sector of cluster 2 with the most votes; 0 none
};

// The cluster size and first data sector that the candidate's folders agree on most.
ReconstructedGeometry InferGeometry(const VolumeCandidate& candidate);

// A FAT32 volume wired to `owner`'s device whose "ROOT" holds the candidate's folders. With a cluster
// size and a first data sector above 9 it gets a geometry that reads through the first data sector:
// partition start = first data sector - 6, two reserved sectors and two FATs of two sectors, reaching
// to `deviceEnd` (a device sector); otherwise it has the folders and no geometry. The boot-copy flag
// is set: the volume is never mounted from the device.
std::unique_ptr<FatVolume> ReconstructVolume(VolumeCandidate&& candidate, SourceDisk& owner, uint64_t deviceEnd);

}  // namespace tabulon
