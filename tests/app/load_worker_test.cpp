#include <gtest/gtest.h>

#include <filesystem>

#include "app/load_worker.h"
#include "support/loop_device.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

struct RecordingEvents : WorkerEvents {
    void WorkStarted() override { log += "started "; }
    void WorkEnded() override { log += "ended "; }
    void TreeRebuilt() override { log += "tree "; }
    std::string log;
};

struct LoadFixture {
    ScanContext context;
    ProgressState progress;
    ScanSettings settings;
    RecordingEvents events;
    LoadOutcome outcome = LoadOutcome::FatAnalysed;

    LoadOutcome Load(const std::string& source) {
        context.sourceName = source;
        RunLoadWorker({context, progress, settings, &events, &outcome});
        return outcome;
    }
    void PlantOldResults() {
        context.rootCategory.AddChild(std::make_unique<ResultNode>(ResultNodeKind::File, u"old.xls"));
        context.listedStarts[5] = 1;
        context.hasResults = true;
    }
};

TEST(LoadWorker, AnUnopenableSourceKeepsThePreviousResults) {
    LoadFixture f;
    f.PlantOldResults();
    f.settings.blockSectors = 8;
    EXPECT_EQ(f.Load("/nonexistent/source.img"), LoadOutcome::SourceUnopenable);
    ASSERT_EQ(f.context.rootCategory.children.size(), 1u);
    EXPECT_TRUE(f.context.hasResults);
    EXPECT_EQ(f.settings.blockSectors, 8);
    EXPECT_EQ(f.events.log, "ended tree ");
    EXPECT_FALSE(f.progress.IsBusy());
    EXPECT_TRUE(f.progress.StopRequested());  // left set; the next worker resets it
}

TEST(LoadWorker, AVolumeWhoseFileSystemIsNotFatGivesEmptyCategories) {
    if (!test::HasProgram("mkfs.ext2") || !test::HasProgram("sfdisk")) GTEST_SKIP() << "needs mkfs.ext2 and sfdisk";
    test::TempDir dir;
    const std::string image = dir.File("disk.img");
    ASSERT_EQ(test::RunCommand("truncate -s 16M " + image + " && echo 'start=2048, type=83' | sfdisk -q " + image +
                               " && truncate -s 15M " + dir.File("p.img") + " && mkfs.ext2 -q " + dir.File("p.img") +
                               " && dd if=" + dir.File("p.img") + " of=" + image + " bs=512 seek=2048 conv=notrunc status=none")
                  .exitStatus,
              0);
    test::LoopDevice loop(image);
    if (loop.Path().empty() || !std::filesystem::exists(loop.Partition(1)))
        GTEST_SKIP() << "cannot attach a loop device with partitions here";
    LoadFixture f;
    f.PlantOldResults();
    EXPECT_EQ(f.Load(loop.Partition(1)), LoadOutcome::NotFatVolume);
    for (const ResultCategory* category : f.context.Categories()) EXPECT_TRUE(category->children.empty());
    EXPECT_TRUE(f.context.listedStarts.empty());
    EXPECT_FALSE(f.context.hasResults);
    EXPECT_EQ(f.events.log, "started tree ended tree ");
    EXPECT_EQ(f.context.rootCategory.name, u"根目录");
}

TEST(LoadWorker, OnlyOneWorkerRunsAtATime) {
    LoadFixture f;
    f.progress.SetBusy(true);
    EXPECT_FALSE(StartLoad({f.context, f.progress, f.settings, nullptr, nullptr}).joinable());
    f.progress.SetBusy(false);
    f.context.sourceName = "/nonexistent";
    std::thread worker = StartLoad({f.context, f.progress, f.settings, &f.events, &f.outcome});
    ASSERT_TRUE(worker.joinable());
    worker.join();
    EXPECT_EQ(f.outcome, LoadOutcome::SourceUnopenable);
    EXPECT_FALSE(f.progress.IsBusy());
}

}  // namespace
}  // namespace tabulon
