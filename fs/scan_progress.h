#pragma once
// What a long-running scan of an analyser reports while it runs, and the user's stop request it polls.
// The application's progress state hands one of these to the analyser; the scan writes the counters
// and reads the stop flag once per unit of work. Relaxed atomics: the window only displays the values.

#include <atomic>
#include <cstdint>

namespace tabulon {

struct ScanProgress {
    std::atomic<int32_t> progressMax {0};
    std::atomic<int32_t> progressPos {0};
    std::atomic<uint32_t> stopRequested {0};

    bool StopRequested() const { return stopRequested.load(std::memory_order_relaxed) != 0; }
    void SetMax(int32_t value) { progressMax.store(value, std::memory_order_relaxed); }
    void SetPos(int32_t value) { progressPos.store(value, std::memory_order_relaxed); }
};

}  // namespace tabulon
