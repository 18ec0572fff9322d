#include "preview/preview_scale.h"

#include <mutex>

namespace tabulon {
namespace {

std::mutex& ScaleMutex() {
    static std::mutex mutex;
    return mutex;
}

PreviewScale& ScaleValue() {
    static PreviewScale scale;
    return scale;
}

}  // namespace

PreviewScale CurrentPreviewScale() {
    std::lock_guard<std::mutex> guard(ScaleMutex());
    return ScaleValue();
}

void SetPreviewScale(const PreviewScale& scale) {
    std::lock_guard<std::mutex> guard(ScaleMutex());
    ScaleValue() = scale;
}

}  // namespace tabulon
