#pragma once
// The loaded result tree as text for people and as one JSON document for programs.

#include <nlohmann/json.hpp>

#include <string>

#include "app/scan_context.h"

namespace tabulon::cli {

struct SourceFacts {
    std::string source;
    uint64_t sectorCount = 0;
    int32_t blockSectors = 0;
};

std::string TreeText(const ScanContext& context, const SourceFacts& facts);
nlohmann::ordered_json TreeJson(const ScanContext& context, const SourceFacts& facts, bool withSectors);

// Facts of the loaded source for the two outputs.
SourceFacts CurrentSourceFacts();

}  // namespace tabulon::cli
