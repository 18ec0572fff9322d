#pragma once
// The objects a load creates for one source: the disk that owns the device, and the analysers that
// read through it.

#include <cstdint>
#include <memory>
#include <vector>

#include "source/volume_device.h"

namespace tabulon {

class DiskNode {
public:
    virtual ~DiskNode() = default;
    // 0 a plain node, 1 a SourceDisk, 2 a VolumeAnalyser.
    virtual int NodeKind() const { return 0; }
};

class VolumeAnalyser;

class SourceDisk : public DiskNode {
public:
    int NodeKind() const override { return 1; }
    VolumeDevice& Device() { return device_; }

    // Volumes found on the source (filled by the raw scan); owned by the disk.
    void AddVolume(std::unique_ptr<VolumeAnalyser> volume);
    int32_t VolumeCount() const { return static_cast<int32_t>(volumes_.size()); }
    // Null for an index below 0 or at or past the count.
    VolumeAnalyser* Volume(int32_t index) const;

    ~SourceDisk() override;

private:
    VolumeDevice device_;
    std::vector<std::unique_ptr<VolumeAnalyser>> volumes_;
};

}  // namespace tabulon
