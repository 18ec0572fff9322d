#pragma once
// The process-wide state of the loaded source: its name, the four result categories, the sectors that
// mark files already listed and files found by content, and the volume facts that preview, saving and
// fragment scanning need after the analysers are gone.

#include <array>
#include <memory>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/result_node.h"
#include "fs/boot_sector_kind.h"

namespace tabulon {

class BlockStore;

struct ScanContext {
    std::string sourceName;
    ResultCategory rootCategory {ResultNodeKind::Category, u""};
    ResultCategory lostCategory {ResultNodeKind::Category, u""};
    ResultCategory originalCategory {ResultNodeKind::Category, u""};
    ResultCategory fragmentCategory {ResultNodeKind::Category, u""};
    // Absolute first sectors of every file already placed in a category (value 1).
    std::unordered_map<uint32_t, int> listedStarts;
    // Absolute sectors where a content scan found the start of a workbook, in order of discovery.
    std::vector<uint32_t> originalStarts;
    std::array<uint8_t, 62> bootCopy {};
    bool fatFound = false;
    BootSectorKind fatKind = BootSectorKind::None;
    uint32_t partitionStart = 0;
    uint32_t dataStartSector = 0;
    bool hasResults = false;
    uint32_t fragmentTargetSize = 0;
    std::unique_ptr<BlockStore> fragmentBlocks;

    ScanContext();
    ~ScanContext();
    ScanContext(const ScanContext&) = delete;
    ScanContext& operator=(const ScanContext&) = delete;
    // The four categories in tree order.
    std::array<ResultCategory*, 4> Categories();
    std::array<const ResultCategory*, 4> Categories() const;
    // Sets kind 1 and the string-table titles of the four categories.
    void TitleCategories();
    // Empties everything a new load replaces (the source name stays).
    void ResetForLoad();
    // The free blocks of the loaded source for fragment scanning; empty until the first fragment scan
    // prepares it, emptied by every load.
    BlockStore& FragmentBlocks();

    static ScanContext& Global();
};

}  // namespace tabulon
