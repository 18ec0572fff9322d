#include "support/fat_volume_fixture.h"

#include <array>

#include "fs/boot_sector_kind.h"
#include "fs/code_page.h"

namespace tabulon::test {

std::string Utf8Name(const FileEntry& entry) { return Utf16ToUtf8(entry.Name()); }

OpenedVolume OpenFatImage(const std::string& imagePath, uint32_t partitionStart, bool mount, FatType declaredType) {
    OpenedVolume result;
    result.disk = std::make_unique<SourceDisk>();
    result.disk->Device().SetPath(imagePath);
    result.opened = result.disk->Device().Open();
    if (!result.opened) return result;
    std::array<uint8_t, 1024> boot {};
    result.disk->Device().Read(boot.data(), 1024, partitionStart);
    FatType type = declaredType;
    if (type == FatType::None) {
        const BootSectorKind kind = ClassifyBootSector(boot.data());
        type = kind == BootSectorKind::Fat32 ? FatType::Fat32 : FatType::Fat16;
    }
    result.volume = std::make_unique<FatVolume>();
    result.volume->SetDeclaredFatType(type);
    result.volume->SetOwner(result.disk.get());
    result.volume->SetDevice(&result.disk->Device());
    result.disk->Device().SetBootSnapshot(boot.data(), true);
    result.volume->SetBootCopyFlag(1);
    result.volume->SetTotalSectors(result.disk->Device().SectorCount());
    result.volume->SetPartitionStart(partitionStart);
    if (mount) result.mounted = result.volume->Mount();
    return result;
}

const FileEntry* FindEntry(const FileEntry& root, std::string_view path, bool deleted) {
    const FileEntry* current = &root;
    while (!path.empty()) {
        if (path.front() == '/') {
            path.remove_prefix(1);
            continue;
        }
        const size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        const bool last = path.empty();
        const FileEntry* next = nullptr;
        for (const auto& child : current->children) {
            if (Utf8Name(child) != part) continue;
            if (last && child.IsDeleted() != deleted) continue;
            next = &child;
            break;
        }
        if (!next) return nullptr;
        current = next;
    }
    return current;
}

bool ReadEntry(FatVolume& volume, const FileEntry& entry, std::vector<uint8_t>& out) {
    ClusterChain chain;
    if (!volume.BuildChain(entry, chain, nullptr)) return false;
    out.assign(entry.size, 0);
    if (entry.size == 0) return true;
    return volume.ReadFileData(entry, out.data(), out.size(), 0, static_cast<uint32_t>(entry.size), chain);
}

}  // namespace tabulon::test
