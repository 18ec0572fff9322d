#include "support/loop_device.h"

#include <unistd.h>

#include "support/test_environment.h"

namespace tabulon::test {

LoopDevice::LoopDevice(const std::string& image) {
    if (geteuid() != 0 || !HasProgram("losetup")) return;
    auto result = RunCommand("losetup --find --show --partscan --read-only " + ShellQuote(image));
    if (result.exitStatus == 0) {
        path_ = result.output.substr(0, result.output.find('\n'));
        RunCommand("udevadm settle 2>/dev/null; sleep 0.2");
    }
}

LoopDevice::~LoopDevice() {
    if (!path_.empty()) RunCommand("losetup -d " + ShellQuote(path_));
}

std::string LoopDevice::Partition(int number) const {
    return path_.empty() ? std::string() : path_ + "p" + std::to_string(number);
}

}  // namespace tabulon::test
