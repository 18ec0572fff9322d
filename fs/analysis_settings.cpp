#include "fs/analysis_settings.h"

namespace tabulon {

AnalysisSettings& AnalysisSettings::Global() {
    static AnalysisSettings settings;
    return settings;
}

}  // namespace tabulon
