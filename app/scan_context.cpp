#include "app/scan_context.h"

#include "app/strings.h"
#include "fragment/block_store.h"

namespace tabulon {

ScanContext::ScanContext() { TitleCategories(); }

ScanContext::~ScanContext() = default;

BlockStore& ScanContext::FragmentBlocks() {
    if (!fragmentBlocks) fragmentBlocks = std::make_unique<BlockStore>();
    return *fragmentBlocks;
}

std::array<ResultCategory*, 4> ScanContext::Categories() {
    return {&rootCategory, &lostCategory, &originalCategory, &fragmentCategory};
}

std::array<const ResultCategory*, 4> ScanContext::Categories() const {
    return {&rootCategory, &lostCategory, &originalCategory, &fragmentCategory};
}

void ScanContext::TitleCategories() {
    static constexpr int kTitles[4] = {StringId::RootCategory, StringId::LostCategory, StringId::OriginalCategory,
                                       StringId::FragmentCategory};
    auto categories = Categories();
    for (size_t i = 0; i < categories.size(); ++i) {
        categories[i]->kind = ResultNodeKind::Category;
        categories[i]->name = std::u16string(LoadString(kTitles[i]));
    }
}

void ScanContext::ResetForLoad() {
    listedStarts.clear();
    for (ResultCategory* category : Categories()) category->ClearChildren();
    originalStarts.clear();
    bootCopy.fill(0);
    fatFound = false;
    fatKind = BootSectorKind::None;
    partitionStart = 0;
    dataStartSector = 0;
    fragmentTargetSize = 0;
    if (fragmentBlocks) fragmentBlocks->Clear();
    hasResults = false;
}

ScanContext& ScanContext::Global() {
    static ScanContext context;
    return context;
}

}  // namespace tabulon
