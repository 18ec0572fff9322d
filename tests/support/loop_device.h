#pragma once
// An image attached read-only as a loop block device with its partitions (/dev/loopN, /dev/loopNp1, ...)
// for the life of the object. Path() is empty where the machine does not allow it (not root, no losetup).

#include <string>

namespace tabulon::test {

class LoopDevice {
public:
    explicit LoopDevice(const std::string& image);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& Path() const { return path_; }
    // "/dev/loopNpK", or empty without a device.
    std::string Partition(int number) const;

private:
    std::string path_;
};

}  // namespace tabulon::test
