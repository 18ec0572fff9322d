#include "fs/content_signature_scan.h"

#include <cstring>

namespace tabulon {
namespace {

constexpr uint8_t kBiff8Bof[6] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06};
constexpr uint8_t kCompoundSignature[4] = {0xD0, 0xCF, 0x11, 0xE0};

}  // namespace

ContentFoundList& ContentFoundList::Global() {
    static ContentFoundList list;
    return list;
}

void ContentFoundList::Clear() {
    std::lock_guard lock(mutex_);
    sectors_.clear();
}

void ContentFoundList::Append(uint32_t sector) {
    std::lock_guard lock(mutex_);
    sectors_.push_back(sector);
}

void ContentFoundList::Append(const std::vector<uint32_t>& sectors) {
    std::lock_guard lock(mutex_);
    sectors_.insert(sectors_.end(), sectors.begin(), sectors.end());
}

void ContentFoundList::Assign(std::vector<uint32_t> sectors) {
    std::lock_guard lock(mutex_);
    sectors_ = std::move(sectors);
}

std::vector<uint32_t> ContentFoundList::Sectors() const {
    std::lock_guard lock(mutex_);
    return sectors_;
}

size_t ContentFoundList::Size() const {
    std::lock_guard lock(mutex_);
    return sectors_.size();
}

void FindCompoundDocuments(const uint8_t* buffer, size_t byteCount, uint32_t firstSector, size_t firstTestedSector,
                           std::vector<uint32_t>& hits) {
    if (buffer == nullptr) return;
    const size_t sectors = byteCount / 512;
    for (size_t i = firstTestedSector < 1 ? 1 : firstTestedSector; i < sectors; ++i) {
        if (std::memcmp(buffer + i * 512, kBiff8Bof, sizeof kBiff8Bof) != 0) continue;
        if (std::memcmp(buffer + (i - 1) * 512, kCompoundSignature, sizeof kCompoundSignature) == 0)
            hits.push_back(static_cast<uint32_t>(firstSector + (i - 1)));
        else if (i > 2 && std::memcmp(buffer + (i - 3) * 512, kCompoundSignature, sizeof kCompoundSignature) == 0)
            hits.push_back(static_cast<uint32_t>(firstSector + (i - 3)));
    }
}

void ScanForCompoundDocuments(const uint8_t* buffer, size_t byteCount, uint32_t firstSector,
                              size_t firstTestedSector) {
    std::vector<uint32_t> hits;
    FindCompoundDocuments(buffer, byteCount, firstSector, firstTestedSector, hits);
    if (!hits.empty()) ContentFoundList::Global().Append(hits);
}

}  // namespace tabulon
