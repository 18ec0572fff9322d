#pragma once
// Does a run of 32-byte slots look like FAT directory content? Used by the lost-folder scan, boot
// parameter reconstruction and the raw disk scan. Switches and bounds come from AnalysisSettings.

#include <cstddef>
#include <cstdint>

#include "fs/analysis_settings.h"
#include "fs/volume_analyser.h"

namespace tabulon {

// `slots` holds slotCount x 32 bytes. A slot's first cluster must lie below `clusterCount`, a file's
// size below `dataBytes`.
bool IsPlausibleDirectoryData(const uint8_t* slots, size_t slotCount, uint32_t clusterCount, FatType fatType,
                              uint64_t dataBytes);
bool IsPlausibleDirectoryData(const uint8_t* slots, size_t slotCount, uint32_t clusterCount, FatType fatType,
                              uint64_t dataBytes, const AnalysisSettings& settings);

// Raw FAT time and date checks.
bool IsImplausibleFatTime(uint16_t t);
bool IsImplausibleFatDate(uint16_t d);

}  // namespace tabulon
