#pragma once
// What the running worker reports to the front end, and the stop request it polls. Written by one
// worker thread and read by the display without locking: the display tolerates stale values because it
// only shows them. The status text is the one field behind a lock, since a text cannot be torn safely.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tabulon {

class ProgressState {
public:
    static constexpr size_t kStatusTextMax = 1023;  // UTF-16 units

    std::atomic<uint32_t> busy {0};
    std::atomic<uint32_t> stopRequested {0};
    std::atomic<int32_t> progressMax {0};
    std::atomic<int32_t> progressPos {0};

    bool IsBusy() const { return busy.load(std::memory_order_relaxed) != 0; }
    bool StopRequested() const { return stopRequested.load(std::memory_order_relaxed) != 0; }
    void RequestStop() { stopRequested.store(1, std::memory_order_relaxed); }
    void SetBusy(bool value) { busy.store(value ? 1 : 0, std::memory_order_relaxed); }
    void SetStopRequested(bool value) { stopRequested.store(value ? 1 : 0, std::memory_order_relaxed); }
    void SetMax(int32_t value) { progressMax.store(value, std::memory_order_relaxed); }
    void SetPos(int32_t value) { progressPos.store(value, std::memory_order_relaxed); }
    int32_t Max() const { return progressMax.load(std::memory_order_relaxed); }
    int32_t Pos() const { return progressPos.load(std::memory_order_relaxed); }

    // Texts longer than kStatusTextMax units are cut.
    void SetStatusText(std::u16string_view text);
    std::u16string StatusText() const;

    static ProgressState& Global();

private:
    mutable std::mutex textMutex_;
    std::u16string statusText_;
};

}  // namespace tabulon
