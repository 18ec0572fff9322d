#include "source/sector_reader.h"

#include "source/source_name.h"

namespace tabulon {

bool SectorReader::Open(const std::string& sourceName) {
    auto name = SourceName::Parse(sourceName);
    if (!name) return false;
    Close();
    sourceName_ = sourceName;
    if (!handle_.Open(name->devicePath)) return false;

    totalBytes_ = handle_.Size();
    if (auto geometry = handle_.Geometry())
        sectorsPerCylinder_ = geometry->tracksPerCylinder * geometry->sectorsPerTrack;
    if (name->kind == SourceKind::Volume) fileSystemName_ = handle_.FileSystemName();
    sectorCount_ = static_cast<uint32_t>(totalBytes_ >> 9);
    isOpen_ = true;
    return true;
}

void SectorReader::Close() {
    handle_.Close();
    isOpen_ = false;
    totalBytes_ = 0;
    sectorCount_ = 0;
    sectorsPerCylinder_ = kDefaultSectorsPerCylinder;
    fileSystemName_.clear();
}

bool SectorReader::ReadSectors(void* buffer, uint32_t byteCount, uint32_t firstSector) {
    if (!isOpen_ || buffer == nullptr || firstSector > sectorCount_) return false;
    return handle_.ReadAt(buffer, byteCount, uint64_t(firstSector) * 512);
}

}  // namespace tabulon
