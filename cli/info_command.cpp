// tabulon info SOURCE: what the source is, how large, and what its first sectors hold.

#include <fmt/core.h>

#include <array>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "fs/boot_sector_kind.h"
#include "fs/partition_table.h"
#include "source/sector_reader.h"
#include "source/source_name.h"

namespace tabulon::cli {
namespace {

const char* KindName(SourceKind kind) {
    switch (kind) {
        case SourceKind::Volume: return "volume";
        case SourceKind::Disk: return "disk";
        case SourceKind::Image: return "image";
    }
    return "image";
}

int RunInfo(const std::string& source) {
    auto name = SourceName::Parse(source);
    SectorReader reader;
    if (!name || !reader.Open(source)) {
        fmt::print(stderr, "tabulon: cannot open source '{}' for reading\n", source);
        return 1;
    }
    fmt::print("source: {}\n", source);
    fmt::print("kind: {}\n", KindName(name->kind));
    fmt::print("path: {}\n", name->devicePath);
    fmt::print("total bytes: {}\n", reader.TotalBytes());
    fmt::print("sectors: {}\n", reader.SectorCount());
    fmt::print("sectors per cylinder: {}\n", reader.SectorsPerCylinder());
    if (name->kind == SourceKind::Volume)
        fmt::print("file system: {}\n", reader.FileSystemName().empty() ? "unknown" : reader.FileSystemName());

    std::array<uint8_t, 512> sector {};
    if (reader.SectorCount() == 0 || !reader.ReadSectors(sector.data(), 512, 0)) {
        fmt::print("sector 0: unreadable\n");
        return 0;
    }
    fmt::print("sector 0 boot sector: {}\n", BootSectorKindName(ClassifyBootSector(sector.data())));
    auto table = ReadPartitionTable(sector.data());
    if (!table) {
        fmt::print("partition table: none (sector 0 does not end in 55 AA)\n");
        return 0;
    }
    fmt::print("partition table:\n");
    for (size_t i = 0; i < table->size(); ++i) {
        const PartitionEntry& entry = (*table)[i];
        fmt::print("  {}: type 0x{:02X} boot 0x{:02X} first sector {} sectors {}", i + 1, entry.type, entry.bootFlag,
                   entry.firstSector, entry.sectorCount);
        if (IsFatPartitionType(entry.type)) {
            std::array<uint8_t, 512> boot {};
            if (entry.firstSector != 0 && entry.firstSector < reader.SectorCount() &&
                reader.ReadSectors(boot.data(), 512, entry.firstSector))
                fmt::print(", boot sector: {}", BootSectorKindName(ClassifyBootSector(boot.data())));
            else
                fmt::print(", boot sector: unreadable");
        }
        fmt::print("\n");
    }
    return 0;
}

}  // namespace

void AddInfoCommand(CLI::App& app) {
    auto* command = app.add_subcommand("info", "Show a source's size, sectors, geometry, partition table and boot-sector kind");
    auto source = std::make_shared<std::string>();
    command->add_option("SOURCE", *source, "Disk image file, block device (/dev/sdb, /dev/sdb1) or HDn for the n-th disk")
        ->required();
    command->callback([source] { ExitStatus() = RunInfo(*source); });
}

}  // namespace tabulon::cli
