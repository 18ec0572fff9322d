#include "app/scan_settings.h"

namespace tabulon {

ScanSettings& ScanSettings::Global() {
    static ScanSettings settings;
    return settings;
}

}  // namespace tabulon
