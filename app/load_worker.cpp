#include "app/load_worker.h"

#include <array>
#include <cstring>
#include <memory>

#include "app/restore_original_names.h"
#include "app/result_tree.h"
#include "app/strings.h"
#include "fs/boot_parameter_reconstruction.h"
#include "fs/boot_sector_kind.h"
#include "fs/content_signature_scan.h"
#include "fs/fat_volume.h"
#include "fs/disk_node.h"
#include "fs/partition_table.h"
#include "fs/raw_volume.h"
#include "preview/name_from_content.h"
#include "fs/volume_analyser.h"
#include "source/sector_reader.h"
#include "source/source_name.h"

namespace tabulon {
namespace {

// What an analysis path keeps for the common tail.
struct PathResult {
    uint32_t dataStartSector = 0;
    uint32_t sectorsPerCluster = 0;
};

class LoadRun {
public:
    explicit LoadRun(const LoadJob& job) : job_(job), context_(job.context), progress_(job.progress) {}

    void Run() {
        sourceName_ = context_.sourceName;  // step 1
        progress_.SetBusy(true);            // step 2
        progress_.SetStopRequested(false);
        progress_.SetMax(0);
        progress_.SetPos(0);
        // Step 3: an unopenable source keeps the previous results.
        outcome_ = reader_.Open(sourceName_) ? Load() : LoadOutcome::SourceUnopenable;
        End();
        if (job_.outcome) *job_.outcome = outcome_;
    }

private:
    LoadOutcome Load() {
        progress_.SetStatusText(LoadString(StringId::LoadingRoot));  // step 4
        Notify(&WorkerEvents::WorkStarted);

        context_.ResetForLoad();  // step 5
        ContentFoundList::Global().Clear();
        job_.settings.blockSectors = 0;
        context_.TitleCategories();
        Notify(&WorkerEvents::TreeRebuilt);

        const bool byDirectory = job_.settings.scanByDirectory;
        if (byDirectory && !reader_.ReadSectors(buffer_.data(), 512, 0)) return LoadOutcome::SectorZeroUnreadable;  // step 6

        int64_t start = -1;  // d: the sector that holds the boot sector, -1 while unknown
        auto name = SourceName::Parse(sourceName_);
        if (name && name->kind == SourceKind::Volume) {  // step 7
            if (reader_.FileSystemName().find("FAT") == std::string::npos) return LoadOutcome::NotFatVolume;
            BootSectorKind volumeKind = ClassifyBootSector(buffer_.data());
            if (volumeKind == BootSectorKind::Fat1216 || volumeKind == BootSectorKind::Fat32) start = 0;
        }

        if (byDirectory && start == -1) {  // step 8
            if (auto table = ReadPartitionTable(buffer_.data())) {
                for (const PartitionEntry& entry : *table) {
                    if (!IsFatPartitionType(entry.type)) continue;
                    if (entry.firstSector <= reader_.SectorCount()) start = entry.firstSector;
                    break;
                }
            }
        }
        if (start > 0) reader_.ReadSectors(buffer_.data(), 512, uint32_t(start));  // step 9

        BootSectorKind kind = ClassifyBootSector(buffer_.data());  // step 10
        bool fatPath = kind == BootSectorKind::Fat1216 || kind == BootSectorKind::Fat32;
        uint32_t partitionStart = start > 0 ? uint32_t(start) : 0;
        if (!fatPath && byDirectory && ReconstructBootSector()) {
            kind = ClassifyBootSector(buffer_.data());
            fatPath = kind != BootSectorKind::None;
            partitionStart = 0;
        }

        PathResult result;
        bool analysed = fatPath ? RunFatPath(kind, partitionStart, result) : RunRawPath(result);
        if (!analysed) {
            // The path could not run: the categories stay as they are, empty of what it would have found,
            // but files found by content elsewhere are still listed.
            AddOriginalFiles(context_, context_.originalCategory, &reader_);
        }
        Tail(result);
        if (!analysed) return LoadOutcome::AnalysisUnavailable;
        return fatPath ? LoadOutcome::FatAnalysed : LoadOutcome::RawScanned;
    }

    // Boot parameter reconstruction on the source's first sectors, for a source whose boot sector is
    // unusable, with the sectors-per-cluster probe that also finds FAT32 volumes. On success the buffer
    // holds the rebuilt boot sector. The device stays open until the load ends.
    bool ReconstructBootSector() {
        reconstructionDevice_.SetPath(sourceName_);
        if (!reconstructionDevice_.Open()) return false;
        std::array<uint8_t, 512> rebuilt {};
        if (!ReconstructBootParameters(reconstructionDevice_, 0, FatType::Fat16,
                                       uint32_t(reconstructionDevice_.SectorCount()), true, rebuilt))
            return false;
        buffer_ = rebuilt;
        return true;
    }

    // Step 11: the volume analysed through its directories.
    bool RunFatPath(BootSectorKind kind, uint32_t partitionStart, PathResult& result) {
        auto disk = std::make_unique<SourceDisk>();
        disk->Device().SetPath(sourceName_);
        disk->Device().Open();
        auto volume = std::make_unique<FatVolume>();
        volume->SetDeclaredFatType(kind == BootSectorKind::Fat1216 ? FatType::Fat16 : FatType::Fat32);
        volume->SetOwner(disk.get());
        volume->SetDevice(&disk->Device());
        disk->Device().SetBootSnapshot(buffer_.data(), true);
        std::copy_n(buffer_.begin(), context_.bootCopy.size(), context_.bootCopy.begin());
        volume->SetBootCopyFlag(1);
        volume->SetPartitionStart(partitionStart);
        volume->SetTotalSectors(disk->Device().SectorCount());

        volume->Mount();
        progress_.SetStatusText(LoadString(StringId::ScanningLost));
        volume->SetProgress(&progress_);
        volume->ScanLostFolders();
        if (volume->GetFatType() == FatType::Fat32) volume->RecoverFirstClusters();
        context_.originalStarts = ContentFoundList::Global().Sectors();

        CopyAnalyserTrees(*volume);
        AddOriginalFiles(context_, context_.originalCategory, &reader_);

        result.dataStartSector = volume->DataStartSector();
        result.sectorsPerCluster = volume->SectorsPerCluster();
        context_.fatKind = kind;
        context_.fatFound = true;
        context_.partitionStart = partitionStart;
        volume.reset();  // the analyser goes before the disk it reads through
        disk.reset();
        return true;
    }

    // The root tree first: a file listed there is not listed again among the lost folders.
    void CopyAnalyserTrees(VolumeAnalyser& analyser) {
        if (FileEntry* root = analyser.RootEntry()) {
            MarkFolders(context_, analyser, *root);
            CopyTree(context_, context_.rootCategory, analyser, *root);
        }
        if (FileEntry* lost = analyser.LostEntry()) {
            MarkFolders(context_, analyser, *lost);
            CopyTree(context_, context_.lostCategory, analyser, *lost);
        }
    }

    // Step 12: the whole source scanned by content; FAT32 volumes rebuilt from the directory data met.
    bool RunRawPath(PathResult& result) {
        auto disk = std::make_unique<SourceDisk>();
        disk->Device().SetPath(sourceName_);
        if (!disk->Device().Open()) return false;
        auto raw = std::make_unique<RawVolume>();
        raw->SetDeclaredFatType(FatType::None);
        raw->SetOwner(disk.get());
        raw->SetDevice(&disk->Device());
        raw->SetPartitionStart(0);
        raw->SetTotalSectors(disk->Device().SectorCount());
        disk->Device().SetRegion(512, 0, disk->Device().SectorCount(), false);
        RawScanOptions options;
        options.scanByDirectory = job_.settings.scanByDirectory;
        raw->SetScanOptions(options);
        raw->SetProgress(&progress_);
        progress_.SetStatusText(LoadString(StringId::ScanningLost));
        raw->ScanRawDisk();
        context_.originalStarts = ContentFoundList::Global().Sectors();

        for (int32_t i = 0; i < disk->VolumeCount(); ++i) {
            VolumeAnalyser* volume = disk->Volume(i);
            if (!volume) continue;
            FatType type = volume->GetFatType();
            if (type != FatType::Fat16 && type != FatType::Fat32) continue;
            CopyAnalyserTrees(*volume);
            result.dataStartSector = volume->DataStartSector();
            result.sectorsPerCluster = volume->SectorsPerCluster();
        }
        AddOriginalFiles(context_, context_.originalCategory, &reader_);
        raw.reset();
        disk.reset();
        return true;
    }

    // Step 13.
    void Tail(const PathResult& result) {
        if (!progress_.StopRequested()) NameContentFoundFiles();
        job_.settings.blockSectors = int32_t(result.sectorsPerCluster);
        context_.dataStartSector = result.dataStartSector;
        context_.hasResults = !context_.rootCategory.children.empty() || !context_.lostCategory.children.empty() ||
                              !context_.originalCategory.children.empty();
    }

    void NameContentFoundFiles() {
        if (context_.originalCategory.children.empty()) return;
        RestoreOriginalNames(reader_, context_.originalCategory, progress_, [](const uint8_t* data, size_t length) {
            std::vector<std::u16string> names;
            NameFromContent(data, length, names);
            return names;
        });
    }

    // Step 14, reached from every path.
    void End() {
        progress_.EndWork();
        context_.TitleCategories();
        Notify(&WorkerEvents::WorkEnded);
        Notify(&WorkerEvents::TreeRebuilt);
        reader_.Close();
    }

    void Notify(void (WorkerEvents::*event)()) {
        if (job_.events) (job_.events->*event)();
    }

    const LoadJob& job_;
    ScanContext& context_;
    ProgressState& progress_;
    std::string sourceName_;
    SectorReader reader_;
    std::array<uint8_t, 512> buffer_ {};
    VolumeDevice reconstructionDevice_;
    LoadOutcome outcome_ = LoadOutcome::SourceUnopenable;
};

}  // namespace

void RunLoadWorker(const LoadJob& job) { LoadRun(job).Run(); }

std::thread StartLoad(const LoadJob& job) {
    if (!job.progress.ClaimIdle()) return {};
    return std::thread([job] { RunLoadWorker(job); });
}

}  // namespace tabulon
