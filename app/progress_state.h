#pragma once
// What the running worker reports to the front end, and the stop request it polls. Written by one
// worker thread and read by the display without locking: the display tolerates stale values because it
// only shows them. The status text is the one field behind a lock, since a text cannot be torn safely.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "fs/scan_progress.h"

namespace tabulon {

// The counters and the stop request are those every analyser's scan reports through; the load
// worker hands this object to the analysers as their ScanProgress.
class ProgressState : public ScanProgress {
public:
    static constexpr size_t kStatusTextMax = 1023;  // UTF-16 units

    std::atomic<uint32_t> busy {0};

    bool IsBusy() const { return busy.load(std::memory_order_relaxed) != 0; }
    // Sets busy when no worker is running; false when one is. Starting a worker claims the flag first,
    // so that two commands given at once cannot both start one.
    bool ClaimIdle() {
        uint32_t idle = 0;
        return busy.compare_exchange_strong(idle, 1);
    }
    // The end of a load or fragment scan: idle, stop requested (so that any loop still polling ends),
    // no progress and no status text.
    void EndWork() {
        SetBusy(false);
        SetStopRequested(true);
        SetMax(0);
        SetPos(0);
        SetStatusText(u"");
    }
    void RequestStop() { stopRequested.store(1, std::memory_order_relaxed); }
    void SetBusy(bool value) { busy.store(value ? 1 : 0, std::memory_order_relaxed); }
    void SetStopRequested(bool value) { stopRequested.store(value ? 1 : 0, std::memory_order_relaxed); }
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
