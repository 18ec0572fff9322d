#pragma once
// The process-wide flag that file-data reads clear when a sector of a file could not be read, so that
// whoever saved or previewed the file can tell the user afterwards. Whoever starts such an operation
// sets it to true first.

#include <atomic>

namespace tabulon {

std::atomic<bool>& ReadSuccessFlag();

}  // namespace tabulon
