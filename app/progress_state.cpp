#include "app/progress_state.h"

namespace tabulon {

void ProgressState::SetStatusText(std::u16string_view text) {
    std::lock_guard lock(textMutex_);
    statusText_.assign(text.substr(0, kStatusTextMax));
}

std::u16string ProgressState::StatusText() const {
    std::lock_guard lock(textMutex_);
    return statusText_;
}

ProgressState& ProgressState::Global() {
    static ProgressState state;
    return state;
}

}  // namespace tabulon
