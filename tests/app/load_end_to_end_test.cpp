// The whole load on realistic images made with mkfs.fat and mtools, checked against the planted
// workbooks: which category lists each file, under which name, and that the saved bytes are the file's.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/load_worker.h"
#include "app/save_tree.h"
#include "app/utf_text.h"
#include "support/fat_image_builder.h"
#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::MtoolsImage;

struct Loaded {
    ScanContext context;
    ProgressState progress;
    ScanSettings settings;
    LoadOutcome outcome = LoadOutcome::SourceUnopenable;

    void Load(const std::string& source) {
        context.sourceName = source;
        RunLoadWorker({context, progress, settings, nullptr, &outcome});
    }
};

// Every file node below `node` by its "/"-joined path of names.
void CollectFiles(const ResultNode& node, const std::string& prefix, std::multimap<std::string, const ResultNode*>& out) {
    for (const auto& child : node.children) {
        std::string path = prefix + ToUtf8(child->name);
        if (child->IsFile())
            out.emplace(path, child.get());
        else
            CollectFiles(*child, path + "/", out);
    }
}

std::multimap<std::string, const ResultNode*> Files(const ResultNode& category) {
    std::multimap<std::string, const ResultNode*> files;
    CollectFiles(category, "", files);
    return files;
}

// The node's data as saved: its first `size` bytes must be the original's.
void ExpectSavedBytes(const ResultNode& node, const std::string& source, const std::vector<uint8_t>& original,
                      const std::string& folder) {
    SaveFileOutcome outcome = SaveFile(node, source, folder + "/" + ToUtf8(node.name));
    ASSERT_EQ(outcome.result, SaveResult::Written) << ToUtf8(node.name);
    std::vector<uint8_t> saved = test::ReadFileBytes(outcome.path);
    ASSERT_GE(saved.size(), original.size()) << ToUtf8(node.name);
    EXPECT_EQ(saved.size() % 512, 0u);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), saved.begin())) << ToUtf8(node.name);
}

class LoadEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "needs mkfs.fat and mtools";
        out = dir.File("out");
        std::filesystem::create_directory(out);
    }
    std::vector<uint8_t> Workbook(const std::string& name, int rows, int cols, int sheets, int seed) {
        std::string path = dir.File(name);
        EXPECT_TRUE(test::MakeWorkbook(path, rows, cols, sheets, seed));
        return test::ReadFileBytes(path);
    }
    test::TempDir dir;
    std::string out;
};

TEST_F(LoadEndToEnd, LiveAndDeletedWorkbooksAreListedOnceWithTheirBytes) {
    const std::vector<uint8_t> budget = Workbook("budget.xls", 40, 6, 1, 1);
    const std::vector<uint8_t> stock = Workbook("stock.xls", 400, 8, 2, 2);
    const std::vector<uint8_t> gone = Workbook("gone.xls", 90, 5, 1, 3);
    const struct {
        int fatBits;
        uint32_t sizeKiB;
    } formats[] = {{12, 1440}, {16, 32768}, {32, 65536}};
    for (const auto& format : formats) {
        SCOPED_TRACE(format.fatBits);
        MtoolsImage image(dir.File("fat" + std::to_string(format.fatBits) + ".img"));
        MtoolsImage::Format layout;
        layout.fatBits = format.fatBits;
        layout.sizeKiB = format.sizeKiB;
        ASSERT_TRUE(image.Create(layout)) << image.LastOutput();
        ASSERT_TRUE(image.MakeDirectory("/Reports"));
        ASSERT_TRUE(image.MakeDirectory("/Reports/年度"));
        ASSERT_TRUE(image.WriteFile("/budget.xls", budget));
        ASSERT_TRUE(image.WriteFile("/Reports/年度/库存 stock.xls", stock));
        ASSERT_TRUE(image.WriteFile("/Reports/gone.xls", gone));
        ASSERT_TRUE(image.WriteFile("/Reports/notes.txt", {'n', 'o'}));
        ASSERT_TRUE(image.DeleteFile("/Reports/gone.xls")) << image.LastOutput();

        Loaded loaded;
        loaded.Load(image.Path());
        EXPECT_EQ(loaded.outcome, LoadOutcome::FatAnalysed);
        EXPECT_TRUE(loaded.context.fatFound);
        EXPECT_TRUE(loaded.context.hasResults);
        EXPECT_GT(loaded.settings.blockSectors, 0);
        auto files = Files(loaded.context.rootCategory);
        // A deleted entry keeps its short name, whose first letter the deletion mark replaced (a blank).
        ASSERT_EQ(files.size(), 3u);
        ASSERT_EQ(files.count("budget.xls"), 1u);
        ASSERT_EQ(files.count("Reports/年度/库存 stock.xls"), 1u);
        ASSERT_EQ(files.count("Reports/ one.xls"), 1u);
        EXPECT_FALSE(files.find("budget.xls")->second->Has(ResultNodeFlags::Deleted));
        EXPECT_TRUE(files.find("Reports/ one.xls")->second->Has(ResultNodeFlags::Deleted));
        EXPECT_TRUE(loaded.context.lostCategory.children.empty());
        // Files that a directory lists are not listed again as found by content.
        EXPECT_TRUE(loaded.context.originalCategory.children.empty());
        ExpectSavedBytes(*files.find("budget.xls")->second, image.Path(), budget, out);
        ExpectSavedBytes(*files.find("Reports/年度/库存 stock.xls")->second, image.Path(), stock, out);
        ExpectSavedBytes(*files.find("Reports/ one.xls")->second, image.Path(), gone, out);
    }
}

TEST_F(LoadEndToEnd, AReformattedVolumeListsLostDirectoriesAndContentOnlyFiles) {
    const std::vector<uint8_t> archive = Workbook("archive.xls", 200, 6, 1, 11);
    const std::vector<uint8_t> contracts = Workbook("contracts.xls", 80, 5, 1, 12);
    // 1.5 MB: larger than the 1000 sectors a file found by content used to get.
    const std::vector<uint8_t> ledger = Workbook("ledger.xls", 9000, 10, 2, 13);
    ASSERT_GT(ledger.size(), 1'400'000u);
    const std::vector<uint8_t> fresh = Workbook("fresh.xls", 30, 3, 1, 14);

    MtoolsImage image(dir.File("reformatted.img"));
    MtoolsImage::Format layout;
    layout.fatBits = 32;
    layout.sizeKiB = 65536;
    layout.sectorsPerCluster = 1;
    ASSERT_TRUE(image.Create(layout));
    ASSERT_TRUE(image.WriteFile("/filler.bin", test::PatternBytes(4 << 20, 5)));
    ASSERT_TRUE(image.MakeDirectory("/Archive"));
    ASSERT_TRUE(image.WriteFile("/Archive/archive.xls", archive));
    ASSERT_TRUE(image.WriteFile("/Archive/contracts.xls", contracts));
    ASSERT_TRUE(image.WriteFile("/ledger.xls", ledger));
    ASSERT_TRUE(image.Reformat(layout));
    ASSERT_TRUE(image.WriteFile("/fresh.xls", fresh));

    Loaded loaded;
    loaded.Load(image.Path());
    ASSERT_EQ(loaded.outcome, LoadOutcome::FatAnalysed);
    auto root = Files(loaded.context.rootCategory);
    ASSERT_EQ(root.size(), 1u);
    ASSERT_EQ(root.count("fresh.xls"), 1u);

    auto lost = Files(loaded.context.lostCategory);
    std::vector<const ResultNode*> archiveNodes, contractNodes;
    for (const auto& [path, node] : lost) {
        if (path.size() >= 12 && path.substr(path.size() - 12) == "/archive.xls") archiveNodes.push_back(node);
        if (path.size() >= 14 && path.substr(path.size() - 14) == "/contracts.xls") contractNodes.push_back(node);
    }
    ASSERT_EQ(archiveNodes.size(), 1u);
    ASSERT_EQ(contractNodes.size(), 1u);
    ExpectSavedBytes(*archiveNodes[0], image.Path(), archive, out);
    ExpectSavedBytes(*contractNodes[0], image.Path(), contracts, out);

    // The workbook of the old root directory is found by content only, and sized from its header.
    const auto& original = loaded.context.originalCategory.children;
    ASSERT_EQ(original.size(), 1u);
    const ResultNode& found = *original[0];
    EXPECT_EQ(found.flags, ResultNodeFlags::Deleted | ResultNodeFlags::ContentFound);
    EXPECT_EQ(found.sectors.size(), (ledger.size() + 511) / 512);
    ExpectSavedBytes(found, image.Path(), ledger, out);
}

TEST_F(LoadEndToEnd, APartitionedWholeDiskImageIsReadAtItsPartition) {
    if (!test::HasProgram("sfdisk")) GTEST_SKIP() << "needs sfdisk";
    const std::vector<uint8_t> book = Workbook("book.xls", 120, 6, 1, 21);
    MtoolsImage volume(dir.File("part.img"));
    MtoolsImage::Format layout;
    layout.fatBits = 16;
    layout.sizeKiB = 30720;
    ASSERT_TRUE(volume.Create(layout));
    ASSERT_TRUE(volume.MakeDirectory("/Data"));
    ASSERT_TRUE(volume.WriteFile("/Data/book.xls", book));
    const std::string disk = dir.File("disk.img");
    ASSERT_EQ(test::RunCommand("truncate -s 32M " + disk + " && printf 'start=2048, size=61440, type=6\\n' | sfdisk -q " +
                               disk + " && dd if=" + volume.Path() + " of=" + disk + " bs=512 seek=2048 conv=notrunc status=none")
                  .exitStatus,
              0);

    Loaded loaded;
    loaded.Load(disk);
    ASSERT_EQ(loaded.outcome, LoadOutcome::FatAnalysed);
    EXPECT_EQ(loaded.context.partitionStart, 2048u);
    auto files = Files(loaded.context.rootCategory);
    ASSERT_EQ(files.count("Data/book.xls"), 1u);
    const ResultNode& node = *files.find("Data/book.xls")->second;
    EXPECT_GT(node.sectors.front(), 2048u);
    ExpectSavedBytes(node, disk, book, out);
    EXPECT_TRUE(loaded.context.originalCategory.children.empty());
}

// A long name from the disk that tries to climb out of the target folder is saved inside it.
TEST_F(LoadEndToEnd, NamesFromTheDiskCannotLeaveTheTargetFolder) {
    const std::vector<uint8_t> book = Workbook("evil.xls", 20, 3, 1, 31);
    auto image = test::FatImageBuilder::Fat16(8192, 4);
    const uint32_t cluster = 5;
    const uint32_t clusters = uint32_t((book.size() + image.ClusterBytes() - 1) / image.ClusterBytes());
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < clusters; ++i) chain.push_back(cluster + i);
    image.Chain(chain);
    image.WriteData(chain, book);
    auto slot = test::FatImageBuilder::ShortSlot("EVIL    XLS", 0x20, cluster, uint32_t(book.size()));
    image.WriteSlots(image.RootDirSector(), 0, test::FatImageBuilder::NamedSlots(u"../../evil.xls", slot));
    const std::string path = dir.File("crafted.img");
    ASSERT_TRUE(image.SaveTo(path));

    Loaded loaded;
    loaded.Load(path);
    auto files = Files(loaded.context.rootCategory);
    ASSERT_EQ(files.count("../../evil.xls"), 1u);
    const std::string target = out + "/a/b";
    std::filesystem::create_directories(target);
    // The load leaves the stop request set; the save worker clears it before it starts.
    SaveReport report = RunSaveWorker(loaded.context.rootCategory, target, path, loaded.progress, nullptr);
    EXPECT_TRUE(report.Ok());
    EXPECT_EQ(report.filesWritten, 1u);
    std::vector<uint8_t> saved = test::ReadFileBytes(target + "/根目录/.._.._evil.xls");
    ASSERT_GE(saved.size(), book.size());
    EXPECT_TRUE(std::equal(book.begin(), book.end(), saved.begin()));
    size_t entries = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(out); it != std::filesystem::recursive_directory_iterator(); ++it)
        ++entries;
    EXPECT_EQ(entries, 4u);  // a, a/b, a/b/根目录 and the file: nothing outside
}

}  // namespace
}  // namespace tabulon

namespace tabulon {
namespace {

TEST_F(LoadEndToEnd, WithoutAllocationTablesTheRawScanRebuildsTheFolders) {
    const std::vector<uint8_t> plan = Workbook("plan.xls", 60, 4, 1, 21);
    const std::vector<uint8_t> costs = Workbook("costs.xls", 120, 6, 1, 22);
    MtoolsImage image(dir.File("zeroed.img"));
    MtoolsImage::Format layout;
    layout.fatBits = 32;
    layout.sizeKiB = 65536;
    layout.sectorsPerCluster = 1;
    ASSERT_TRUE(image.Create(layout));
    ASSERT_TRUE(image.MakeDirectory("/Plans"));
    ASSERT_TRUE(image.MakeDirectory("/Plans/Old"));
    ASSERT_TRUE(image.WriteFile("/Plans/plan.xls", plan));
    ASSERT_TRUE(image.WriteFile("/Plans/Old/costs.xls", costs));
    // Boot sector, reserved area and both allocation tables gone; the data area stays.
    const std::vector<uint8_t> boot = image.ReadAt(0, 512);
    ASSERT_EQ(boot.size(), 512u);
    const uint32_t reserved = boot[14] | (boot[15] << 8);
    const uint32_t perFat = boot[36] | (boot[37] << 8) | (boot[38] << 16) | (uint32_t(boot[39]) << 24);
    ASSERT_TRUE(image.Patch(0, std::vector<uint8_t>(size_t(reserved + 2 * perFat) * 512, 0)));

    Loaded loaded;
    loaded.Load(image.Path());
    ASSERT_EQ(loaded.outcome, LoadOutcome::RawScanned);
    EXPECT_FALSE(loaded.context.fatFound);
    const ResultNode* planNode = nullptr;
    const ResultNode* costsNode = nullptr;
    for (const auto& [path, node] : Files(loaded.context.rootCategory)) {
        if (path.size() >= 14 && path.substr(path.size() - 14) == "Plans/plan.xls") planNode = node;
        if (path.size() >= 19 && path.substr(path.size() - 19) == "Plans/Old/costs.xls") costsNode = node;
    }
    ASSERT_NE(planNode, nullptr);
    ASSERT_NE(costsNode, nullptr);
    ExpectSavedBytes(*planNode, image.Path(), plan, out);
    ExpectSavedBytes(*costsNode, image.Path(), costs, out);
    // Listed through their folders, they are not listed again as found by content.
    EXPECT_TRUE(loaded.context.originalCategory.children.empty());
}

TEST_F(LoadEndToEnd, WorkbooksOnBareSpaceAreFoundAndNamedByContent) {
    const std::vector<uint8_t> plan = Workbook("plan.xls", 60, 4, 1, 23);
    std::vector<uint8_t> disk(8u << 20, 0);
    std::copy(plan.begin(), plan.end(), disk.begin() + 3000 * 512);
    const std::string path = dir.File("bare.img");
    ASSERT_TRUE(test::WriteFileBytes(path, disk));

    Loaded loaded;
    loaded.Load(path);
    ASSERT_EQ(loaded.outcome, LoadOutcome::RawScanned);
    const auto& original = loaded.context.originalCategory.children;
    ASSERT_EQ(original.size(), 1u);
    // Named after its first sheet's A1 text and sheet name (tools/make_workbook.py writes "Column 1" in A1).
    EXPECT_EQ(ToUtf8(original[0]->name), "File3000__Column 1__Sales.xls");
    ExpectSavedBytes(*original[0], path, plan, out);
}

TEST_F(LoadEndToEnd, ASourceWithoutFatGivesFourEmptyCategories) {
    const std::string path = dir.File("ext.img");
    ASSERT_TRUE(test::WriteFileBytes(path, test::PatternBytes(4u << 20, 9)));
    Loaded loaded;
    loaded.Load(path);
    EXPECT_EQ(loaded.outcome, LoadOutcome::RawScanned);
    EXPECT_TRUE(loaded.context.rootCategory.children.empty());
    EXPECT_TRUE(loaded.context.lostCategory.children.empty());
    EXPECT_TRUE(loaded.context.originalCategory.children.empty());
    EXPECT_TRUE(loaded.context.fragmentCategory.children.empty());
    EXPECT_FALSE(loaded.context.hasResults);
}

}  // namespace
}  // namespace tabulon
