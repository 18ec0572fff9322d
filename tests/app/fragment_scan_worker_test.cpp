// Fragment scanning of a file of the loaded tree, on images made with mkfs.fat and mtools: a deleted
// workbook that mtools wrote into a hole and then after a live file comes back among the candidates;
// files that cannot be scanned end the scan with their reason and add nothing.

#include "app/fragment_scan_worker.h"

#include <gtest/gtest.h>

#include "app/load_worker.h"
#include "app/save_file.h"
#include "app/utf_text.h"
#include "fragment/block_store.h"
#include "fragment/record_succession_table.h"
#include "support/mtools_image.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::MtoolsImage;
using Bytes = std::vector<uint8_t>;

class FragmentScanWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MtoolsImage::ToolsAvailable()) GTEST_SKIP() << "mkfs.fat and mtools are not installed";
        ASSERT_EQ(LoadProcessSuccessionTable(), SuccessionTableError::None);
    }

    void Load(const std::string& source) {
        context.sourceName = source;
        LoadOutcome outcome = LoadOutcome::SourceUnopenable;
        RunLoadWorker({context, progress, settings, nullptr, &outcome});
    }

    const ResultNode* FileNamed(const std::u16string& name) const {
        for (const auto& child : context.rootCategory.children)
            if (child->IsFile() && child->name == name) return child.get();
        return nullptr;
    }

    FragmentScanOutcome Scan(const ResultNode& node, ResultNode*& folder, uint32_t firstSectorShift = 0) {
        FragmentScanOutcome outcome = FragmentScanOutcome::NoBlocks;
        FragmentScanJob job {context, progress, settings, RecordSuccessionTable::Process(), nullptr, {}, 0, 0, 0, {},
                             &outcome, &folder};
        job.baseName = FragmentBaseName(node.name);
        job.firstSector = node.sectors.front() + firstSectorShift;
        job.sizeLimit = node.ByteSize();
        RunFragmentScanWorker(job);
        EXPECT_FALSE(progress.IsBusy());
        return outcome;
    }

    test::TempDir temp;
    ScanContext context;
    ProgressState progress;
    ScanSettings settings;
};

TEST_F(FragmentScanWorkerTest, ADeletedWorkbookWrittenAroundALiveFileIsRebuilt) {
    ASSERT_TRUE(test::MakeWorkbook(temp.File("book.xls"), 900, 6, 2, 7));
    const Bytes book = test::ReadFileBytes(temp.File("book.xls"));
    MtoolsImage image(temp.File("stick.img"));
    ASSERT_TRUE(image.Create(MtoolsImage::Format::Of(16, 16384, 4))) << image.LastOutput();
    const size_t b = 4 * 512;
    // hole.bin leaves a hole of 20 clusters before live.bin; mtools fills it first with Book1.xls, whose
    // rest goes after live.bin.
    ASSERT_TRUE(image.WriteFile("/hole.bin", test::PatternBytes(b * 20, 1)));
    ASSERT_TRUE(image.WriteFile("/live.bin", test::PatternBytes(b * 5, 2)));
    ASSERT_TRUE(image.DeleteFile("/hole.bin"));
    ASSERT_TRUE(image.CopyIn(temp.File("book.xls"), "/Book1.xls"));
    ASSERT_TRUE(image.DeleteFile("/Book1.xls"));
    Load(image.Path());
    ASSERT_TRUE(context.fatFound);
    const ResultNode* deleted = FileNamed(u"Book1.xls");  // its long name survives the deletion
    ASSERT_NE(deleted, nullptr);
    ASSERT_TRUE(deleted->Has(ResultNodeFlags::Deleted));
    const std::string base = ToUtf8(FragmentBaseName(deleted->name));
    // Saved as the directory entry has it (contiguous clusters), the workbook is broken: it is fragmented.
    const SaveFileOutcome plain = SaveFile(*deleted, image.Path(), temp.File("plain.xls"));
    ASSERT_EQ(plain.result, SaveResult::Written);
    const Bytes plainBytes = test::ReadFileBytes(plain.path);
    ASSERT_FALSE(plainBytes.size() >= book.size() && std::equal(book.begin(), book.end(), plainBytes.begin()));

    for (bool inMemory : {false, true}) {
        SCOPED_TRACE(inMemory ? "in memory" : "direct");
        context.FragmentBlocks().Clear();
        context.fragmentCategory.ClearChildren();
        settings.loadIntoMemory = inMemory;
        ResultNode* folder = nullptr;
        ASSERT_EQ(Scan(*deleted, folder), FragmentScanOutcome::CandidatesFound);
        ASSERT_NE(folder, nullptr);
        ASSERT_EQ(context.fragmentCategory.children.size(), 1u);
        EXPECT_EQ(context.fragmentCategory.children[0].get(), folder);
        EXPECT_EQ(ToUtf8(folder->name), base);
        EXPECT_TRUE(context.hasResults);
        EXPECT_EQ(context.FragmentBlocks().InMemory(), inMemory);
        bool found = false;
        for (size_t n = 0; n < folder->children.size(); ++n) {
            const ResultNode& candidate = *folder->children[n];
            EXPECT_EQ(ToUtf8(candidate.name), base + "_" + std::to_string(n + 1) + ".xls");
            EXPECT_TRUE(candidate.Has(ResultNodeFlags::FragmentResult));
            EXPECT_EQ(candidate.sectors.size() % 4, 0u);
            const SaveFileOutcome saved = SaveFile(candidate, image.Path(), temp.File("c" + std::to_string(n) + ".xls"));
            ASSERT_EQ(saved.result, SaveResult::Written);
            const Bytes bytes = test::ReadFileBytes(saved.path);
            found = found || (bytes.size() >= book.size() && std::equal(book.begin(), book.end(), bytes.begin()));
        }
        EXPECT_TRUE(found) << folder->children.size() << " candidates, none is the workbook";
    }
}

// The workbook's first piece ends with its stream; its allocation table and directory went after a live
// file, and the blocks right after the first piece belong to another deleted file. Taking the blocks
// that follow on disk would save that file's bytes as the workbook's table; the candidate is completed
// with the piece that agrees with the workbook's header instead.
TEST_F(FragmentScanWorkerTest, ATailBrokenOffAfterTheStreamIsCompletedFromItsOwnPiece) {
    ASSERT_TRUE(test::MakeWorkbook(temp.File("book.xls"), 300, 6, 1, 5));
    const Bytes book = test::ReadFileBytes(temp.File("book.xls"));
    // xlwt writes the stream from sector 0, then the allocation table: the first piece is the header and
    // the stream, one 512-byte cluster each.
    const uint32_t fatSector = uint32_t(book[76]) | uint32_t(book[77]) << 8 | uint32_t(book[78]) << 16 | uint32_t(book[79]) << 24;
    const size_t streamClusters = fatSector + 1;
    ASSERT_LT(streamClusters, book.size() / 512);
    MtoolsImage image(temp.File("tail.img"));
    ASSERT_TRUE(image.Create(MtoolsImage::Format::Of(16, 16384, 1))) << image.LastOutput();
    ASSERT_TRUE(image.WriteFile("/hole.bin", test::PatternBytes(512 * streamClusters, 1)));
    ASSERT_TRUE(image.WriteFile("/other.bin", test::PatternBytes(512 * 40, 2)));
    ASSERT_TRUE(image.WriteFile("/live.bin", test::PatternBytes(512 * 8, 3)));
    ASSERT_TRUE(image.DeleteFile("/hole.bin"));
    ASSERT_TRUE(image.CopyIn(temp.File("book.xls"), "/Book1.xls"));
    ASSERT_TRUE(image.DeleteFile("/Book1.xls"));
    ASSERT_TRUE(image.DeleteFile("/other.bin"));
    Load(image.Path());
    ASSERT_TRUE(context.fatFound);
    const ResultNode* deleted = FileNamed(u"Book1.xls");
    ASSERT_NE(deleted, nullptr);

    ResultNode* folder = nullptr;
    ASSERT_EQ(Scan(*deleted, folder), FragmentScanOutcome::CandidatesFound);
    ASSERT_NE(folder, nullptr);
    bool found = false;
    for (size_t n = 0; n < folder->children.size(); ++n) {
        const SaveFileOutcome saved = SaveFile(*folder->children[n], image.Path(), temp.File("t" + std::to_string(n) + ".xls"));
        ASSERT_EQ(saved.result, SaveResult::Written);
        const Bytes bytes = test::ReadFileBytes(saved.path);
        found = found || (bytes.size() >= book.size() && std::equal(book.begin(), book.end(), bytes.begin()));
    }
    EXPECT_TRUE(found) << folder->children.size() << " candidates, none is the workbook";
}

TEST_F(FragmentScanWorkerTest, FilesThatCannotBeScannedAddNothing) {
    ASSERT_TRUE(test::MakeWorkbook(temp.File("book.xls"), 300, 4, 1, 3));
    MtoolsImage image(temp.File("stick.img"));
    ASSERT_TRUE(image.Create(MtoolsImage::Format::Of(16, 16384, 4))) << image.LastOutput();
    ASSERT_TRUE(image.CopyIn(temp.File("book.xls"), "/LIVE.XLS"));
    ASSERT_TRUE(image.WriteFile("/TEXT.XLS", Bytes(5000, 'x')));
    ASSERT_TRUE(image.CopyIn(temp.File("book.xls"), "/GONE.XLS"));
    Bytes headerOnly(8192, 0);
    const uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(signature), std::end(signature), headerOnly.begin());
    ASSERT_TRUE(image.WriteFile("/HEAD.XLS", headerOnly));
    ASSERT_TRUE(image.DeleteFile("/HEAD.XLS"));
    ASSERT_TRUE(image.DeleteFile("/TEXT.XLS"));
    ASSERT_TRUE(image.DeleteFile("/GONE.XLS"));
    Load(image.Path());
    const ResultNode* live = FileNamed(u"LIVE.XLS");
    const ResultNode* text = FileNamed(u" EXT.XLS");
    const ResultNode* gone = FileNamed(u" ONE.XLS");
    const ResultNode* header = FileNamed(u" EAD.XLS");
    ASSERT_TRUE(live && text && gone && header);

    struct Case {
        const char* what;
        const ResultNode* node;
        uint32_t shift;
        FragmentScanOutcome expected;
    };
    const Case cases[] = {
        {"first block of a live file", live, 0, FragmentScanOutcome::FirstBlockInUse},
        {"no compound document", text, 0, FragmentScanOutcome::NoCompoundDocument},
        {"first sector off the block grid", gone, 1, FragmentScanOutcome::NotOnBlockGrid},
        {"a block inside the file", gone, 4, FragmentScanOutcome::NoCompoundDocument},
        {"no workbook stream after the header", header, 0, FragmentScanOutcome::NoWorkbookStream},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResultNode* folder = nullptr;
        EXPECT_EQ(Scan(*c.node, folder, c.shift), c.expected);
        EXPECT_EQ(folder, nullptr);
        EXPECT_TRUE(context.fragmentCategory.children.empty());
    }

    // While another worker runs, no scan starts.
    progress.SetBusy(true);
    FragmentScanJob job {context, progress, settings, RecordSuccessionTable::Process(), nullptr, {}, 0, 0, 0, {},
                         nullptr, nullptr};
    job.firstSector = gone->sectors.front();
    std::thread refused = StartFragmentScan(job);
    EXPECT_FALSE(refused.joinable());
    progress.SetBusy(false);
    std::thread started = StartFragmentScan(job);
    ASSERT_TRUE(started.joinable());
    started.join();
    EXPECT_FALSE(progress.IsBusy());
    EXPECT_EQ(context.fragmentCategory.children.size(), 1u);
}

TEST_F(FragmentScanWorkerTest, WithoutAFileSystemTheBlockSizeIsAskedFor) {
    // Workbooks on bare space: the load finds them by content only.
    ASSERT_TRUE(test::MakeWorkbook(temp.File("book.xls"), 200, 4, 1, 5));
    const Bytes book = test::ReadFileBytes(temp.File("book.xls"));
    Bytes disk(512 * 4096, 0);
    std::copy(book.begin(), book.end(), disk.begin() + 512 * 1000);
    ASSERT_TRUE(test::WriteFileBytes(temp.File("bare.img"), disk));
    Load(temp.File("bare.img"));
    ASSERT_FALSE(context.fatFound);
    ASSERT_EQ(context.originalCategory.children.size(), 1u);
    const ResultNode& found = *context.originalCategory.children[0];
    ASSERT_EQ(found.sectors.front(), 1000u);
    settings.blockSectors = 0;

    ResultNode* folder = nullptr;
    FragmentScanOutcome outcome = FragmentScanOutcome::NoBlocks;
    int asked = 0;
    FragmentScanJob job {context, progress, settings, RecordSuccessionTable::Process(), nullptr, {}, 0, 0, 0, {},
                         &outcome, &folder};
    job.baseName = FragmentBaseName(found.name);
    job.firstSector = found.sectors.front();
    job.askBlockSize = [&] { return ++asked == 1 ? 0 : 8; };  // cancelled first, 8 sectors the second time
    RunFragmentScanWorker(job);
    EXPECT_EQ(outcome, FragmentScanOutcome::NoBlockSize);
    EXPECT_TRUE(context.FragmentBlocks().Empty());
    RunFragmentScanWorker(job);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(settings.blockSectors, 8);
    ASSERT_EQ(outcome, FragmentScanOutcome::CandidatesFound);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(context.FragmentBlocks().FirstSector(), 0u);  // 1000 mod 8
    const SaveFileOutcome saved = SaveFile(*folder->children[0], temp.File("bare.img"), temp.File("out.xls"));
    ASSERT_EQ(saved.result, SaveResult::Written);
    const Bytes bytes = test::ReadFileBytes(saved.path);
    ASSERT_GE(bytes.size(), book.size());
    EXPECT_TRUE(std::equal(book.begin(), book.end(), bytes.begin()));
}

}  // namespace
}  // namespace tabulon
