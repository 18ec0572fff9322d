#include "app/fragment_scan_worker.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "app/result_node.h"
#include "app/strings.h"
#include "fragment/block_store.h"
#include "fragment/container_tail.h"
#include "fragment/fragment_search.h"
#include "fragment/search_context.h"
#include "fragment/workbook_stream_seed.h"

namespace tabulon {
namespace {

constexpr std::u16string_view kPreparingData = u"正在准备数据....";
constexpr std::u16string_view kScanningContent = u"正在扫描文件内容.... 找到 %d 个";

std::u16string FoundText(int32_t found) {
    std::u16string text(kScanningContent);
    const std::string number = std::to_string(found);
    text.replace(text.find(u"%d"), 2, std::u16string(number.begin(), number.end()));
    return text;
}

std::u16string CandidateName(const std::u16string& baseName, size_t n) {
    const std::string number = std::to_string(n);
    return baseName + u"_" + std::u16string(number.begin(), number.end()) + u".xls";
}

BlockStoreLayout LayoutOf(const ScanContext& context, const ScanSettings& settings) {
    BlockStoreLayout layout;
    layout.sourceName = context.sourceName;
    layout.fatFound = context.fatFound;
    layout.bootCopy = context.bootCopy;
    layout.partitionStart = context.partitionStart;
    layout.dataStartSector = context.dataStartSector;
    layout.blockSectors = settings.blockSectors;
    layout.contentStarts = context.originalStarts;
    layout.inMemory = settings.loadIntoMemory;
    return layout;
}

class FragmentScanRun {
public:
    explicit FragmentScanRun(const FragmentScanJob& job)
        : job_(job), context_(job.context), progress_(job.progress), store_(job.context.FragmentBlocks()) {}

    void Run() {
        Start();
        outcome_ = Scan();
        End();
    }

private:
    void Start() {
        progress_.SetBusy(true);
        progress_.SetStopRequested(false);
        progress_.SetMax(0);
        progress_.SetPos(0);
        if (job_.events) job_.events->WorkStarted();
    }

    FragmentScanOutcome Scan() {
        if (store_.Empty()) {
            if (const auto failed = PrepareStore()) return *failed;
        }
        progress_.SetMax(0);
        progress_.SetPos(0);
        progress_.SetStatusText(FoundText(0));

        const int32_t g = store_.BlockAtSector(job_.firstSector);
        if (g < 0) return FragmentScanOutcome::NotOnBlockGrid;
        const auto first = store_.GetBlock(g);
        if (first.empty()) return FragmentScanOutcome::FirstBlockInUse;
        static constexpr uint8_t kSignature[4] = {0xD0, 0xCF, 0x11, 0xE0};
        if (first.size() < 4 || !std::equal(kSignature, kSignature + 4, first.begin()))
            return FragmentScanOutcome::NoCompoundDocument;
        WorkbookStreamSeed seed;
        if (!FindWorkbookStreamSeed(store_, g, store_.SectorsPerBlock(), seed))
            return FragmentScanOutcome::NoWorkbookStream;

        SearchContext search(store_, job_.table);
        search.baseName = job_.baseName;
        search.firstSector = job_.firstSector;
        search.sizeLimit = job_.sizeLimit;
        search.stopRequested = &progress_.stopRequested;
        search.maxSteps = job_.maxSteps;
        search.onFound = [this](int32_t found) { progress_.SetStatusText(FoundText(found)); };
        SearchFragments(search, std::move(seed));
        if (search.results.empty()) return FragmentScanOutcome::NoCandidates;
        AddCandidates(search.results);
        return FragmentScanOutcome::CandidatesFound;
    }

    // Nothing when the store is ready, else why it is not.
    std::optional<FragmentScanOutcome> PrepareStore() {
        BlockStoreLayout layout = LayoutOf(context_, job_.settings);
        if (!layout.fatFound && layout.blockSectors == 0) {
            progress_.SetStatusText(LoadString(StringId::SetBlockSize));
            if (job_.events) job_.events->Notice(LoadString(StringId::SetBlockSize));
            const int32_t entered = job_.askBlockSize ? job_.askBlockSize() : 0;
            if (entered < 1 || entered > BlockStore::kMaxBlockSectors) return FragmentScanOutcome::NoBlockSize;
            job_.settings.blockSectors = entered;
            layout.blockSectors = entered;
        }
        progress_.SetStatusText(kPreparingData);
        switch (store_.Prepare(layout, &progress_)) {
            case BlockStore::PrepareResult::Ready: return std::nullopt;
            case BlockStore::PrepareResult::NoBlockSize: return FragmentScanOutcome::NoBlockSize;
            case BlockStore::PrepareResult::Stopped: return FragmentScanOutcome::Stopped;
            case BlockStore::PrepareResult::BadLayout:
            case BlockStore::PrepareResult::Unreadable:
            case BlockStore::PrepareResult::OutOfMemory: break;
        }
        return FragmentScanOutcome::NoBlocks;
    }

    // One folder named after the scanned file; candidate n holds the sectors of its blocks in order. Each
    // result is completed to the file's size; where two blocks tie in the first result's container tail,
    // the other completion follows it as a candidate of its own (a looser search may list hundreds of
    // results, each one another guess already).
    void AddCandidates(const std::vector<std::vector<int32_t>>& results) {
        auto folder = std::make_unique<ResultNode>(ResultNodeKind::Folder, job_.baseName);
        folder->flags = ResultNodeFlags::FragmentResult;
        const int32_t perBlock = store_.SectorsPerBlock();
        size_t n = 0;
        for (const auto& result : results) {
            for (const auto& blocks : CompletedCandidates(store_, result, job_.sizeLimit, n == 0)) {
                auto file = std::make_unique<ResultNode>(ResultNodeKind::File, CandidateName(job_.baseName, ++n));
                file->flags = ResultNodeFlags::FragmentResult;
                file->sectors.reserve(blocks.size() * size_t(perBlock));
                for (int32_t block : blocks) {
                    const uint64_t first = store_.SectorOfBlock(block);
                    for (int32_t j = 0; j < perBlock && first + uint64_t(j) <= 0xFFFFFFFFu; ++j)
                        file->sectors.push_back(uint32_t(first + uint64_t(j)));
                }
                folder->AddChild(std::move(file));
            }
        }
        added_ = &context_.fragmentCategory.AddChild(std::move(folder));
        context_.hasResults = true;
    }

    void End() {
        progress_.EndWork();
        if (job_.outcome) *job_.outcome = outcome_;
        if (job_.addedFolder) *job_.addedFolder = added_;
        if (job_.events) {
            job_.events->WorkEnded();
            if (added_) job_.events->FragmentFolderAdded(*added_);
        }
    }

    const FragmentScanJob& job_;
    ScanContext& context_;
    ProgressState& progress_;
    BlockStore& store_;
    FragmentScanOutcome outcome_ = FragmentScanOutcome::NoBlocks;
    ResultNode* added_ = nullptr;
};

}  // namespace

std::u16string FragmentBaseName(const std::u16string& fileName) {
    return fileName.size() >= 4 ? fileName.substr(0, fileName.size() - 4) : std::u16string();
}

void RunFragmentScanWorker(const FragmentScanJob& job) { FragmentScanRun(job).Run(); }

std::thread StartFragmentScan(const FragmentScanJob& job) {
    if (!job.progress.ClaimIdle()) return {};
    return std::thread([job] { RunFragmentScanWorker(job); });
}

}  // namespace tabulon
