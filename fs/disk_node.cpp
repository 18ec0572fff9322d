#include "fs/disk_node.h"

#include "fs/volume_analyser.h"

namespace tabulon {

SourceDisk::~SourceDisk() = default;

void SourceDisk::AddVolume(std::unique_ptr<VolumeAnalyser> volume) {
    if (volume) volumes_.push_back(std::move(volume));
}

VolumeAnalyser* SourceDisk::Volume(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= volumes_.size()) return nullptr;
    return volumes_[static_cast<size_t>(index)].get();
}

}  // namespace tabulon
