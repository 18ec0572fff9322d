// tabulon ls SOURCE [--deleted] [--lost]: the directory tree of the FAT volume on a source, one entry a
// line, as a file lister for forensic work shows it.

#include <fmt/core.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "fs/boot_parameter_reconstruction.h"
#include "fs/boot_sector_kind.h"
#include "fs/code_page.h"
#include "fs/disk_node.h"
#include "fs/fat_volume.h"
#include "fs/partition_table.h"

namespace tabulon::cli {
namespace {

// Control characters from the disk are shown as \xNN rather than sent to the terminal.
std::string Utf8(std::u16string_view text) {
    std::u16string visible;
    for (char16_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            const std::string escaped = fmt::format("\\x{:02X}", unsigned(c));
            visible.append(escaped.begin(), escaped.end());
        } else {
            visible.push_back(c);
        }
    }
    return Utf16ToUtf8(visible);
}

std::string TimeText(uint16_t date, uint32_t time) {
    if (date == 0) return "-";
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", 1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F,
                       (time >> 12) & 0x1F, (time >> 6) & 0x3F, time & 0x3F);
}

// Prints the tree below `root`, iteratively; `prefix` is the path of the root.
void PrintTree(const FileEntry& root, const std::string& prefix, bool withDeleted) {
    struct Item {
        const FileEntry* entry;
        std::string path;
    };
    std::vector<Item> pending;
    for (auto it = root.children.rbegin(); it != root.children.rend(); ++it) pending.push_back({&*it, prefix});
    while (!pending.empty()) {
        Item item = std::move(pending.back());
        pending.pop_back();
        const FileEntry& e = *item.entry;
        if (e.IsDeleted() && !withDeleted) continue;
        std::string path = item.path + "/" + Utf8(e.Name());
        fmt::print("{}{}\t{}\t{}\t{}\t{}\n", path, e.IsDirectory() ? "/" : "", e.IsDeleted() ? "deleted" : "-",
                   e.size, e.start, TimeText(e.modificationDate, e.modificationTime));
        for (auto it = e.children.rbegin(); it != e.children.rend(); ++it) pending.push_back({&*it, path});
    }
}

int RunLs(const std::string& source, bool withDeleted, bool withLost) {
    auto disk = std::make_unique<SourceDisk>();
    disk->Device().SetPath(source);
    if (!disk->Device().Open()) {
        fmt::print(stderr, "tabulon: cannot open source '{}' for reading\n", source);
        return 1;
    }
    VolumeDevice& device = disk->Device();
    std::array<uint8_t, 512> boot {};
    uint32_t partitionStart = 0;
    device.Read(boot.data(), 512, 0);
    BootSectorKind kind = ClassifyBootSector(boot.data());
    if (kind != BootSectorKind::Fat1216 && kind != BootSectorKind::Fat32) {
        if (auto table = ReadPartitionTable(boot.data())) {
            for (const auto& entry : *table) {
                if (!IsFatPartitionType(entry.type) || entry.firstSector == 0 || entry.firstSector >= device.SectorCount())
                    continue;
                std::array<uint8_t, 512> candidate {};
                if (device.Read(candidate.data(), 512, entry.firstSector)) {
                    partitionStart = entry.firstSector;
                    boot = candidate;
                    kind = ClassifyBootSector(boot.data());
                }
                break;
            }
        }
    }
    if (kind != BootSectorKind::Fat1216 && kind != BootSectorKind::Fat32) {
        // Boot parameters rebuilt from the FAT copies, as the load does.
        std::array<uint8_t, 512> rebuilt {};
        if (ReconstructBootParameters(device, partitionStart, FatType::Fat16,
                                      static_cast<uint32_t>(std::min<uint64_t>(device.SectorCount() - partitionStart, 0xFFFFFFFFu)),
                                      true, rebuilt)) {
            boot = rebuilt;
            kind = ClassifyBootSector(boot.data());
        }
    }
    auto volume = std::make_unique<FatVolume>();
    volume->SetDeclaredFatType(kind == BootSectorKind::Fat32 ? FatType::Fat32 : FatType::Fat16);
    volume->SetOwner(disk.get());
    device.SetBootSnapshot(boot.data(), true);
    volume->SetBootCopyFlag(1);
    volume->SetTotalSectors(device.SectorCount());
    volume->SetPartitionStart(partitionStart);
    if ((kind != BootSectorKind::Fat1216 && kind != BootSectorKind::Fat32) || !volume->Mount()) {
        fmt::print(stderr, "tabulon: no FAT volume could be mounted on '{}'\n", source);
        return 1;
    }
    PrintTree(*volume->RootEntry(), "", withDeleted);
    if (withLost) {
        volume->ScanLostFolders();
        if (volume->GetFatType() == FatType::Fat32) volume->RecoverFirstClusters();
        PrintTree(*volume->LostEntry(), "/Recycle", true);
    }
    return 0;
}

}  // namespace

void AddLsCommand(CLI::App& app) {
    auto* command = app.add_subcommand(
        "ls", "List the directory tree of the FAT volume on a source: path, deleted mark, size, first cluster, "
              "modification time (tab-separated)");
    auto source = std::make_shared<std::string>();
    auto deleted = std::make_shared<bool>(false);
    auto lost = std::make_shared<bool>(false);
    command->add_option("SOURCE", *source, "Disk image file, block device (/dev/sdb, /dev/sdb1) or HDn")->required();
    command->add_flag("--deleted", *deleted, "Also list deleted files and folders");
    command->add_flag("--lost", *lost, "Also scan the data area for lost folders and list them under /Recycle");
    command->callback([source, deleted, lost] { ExitStatus() = RunLs(*source, *deleted, *lost); });
}

}  // namespace tabulon::cli
