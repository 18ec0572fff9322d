#include <gtest/gtest.h>

#include <cstring>

#include "app/compound_document_size.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

// Reads 512-byte sectors of `bytes` (padded with `tail` bytes of filler behind the document).
DocumentSectorReader ReaderOver(const std::vector<uint8_t>& bytes) {
    return [&bytes](uint32_t sector, uint8_t* buffer) {
        size_t offset = size_t(sector) * 512;
        if (offset >= bytes.size()) return false;
        size_t n = std::min<size_t>(512, bytes.size() - offset);
        std::memset(buffer, 0, 512);
        std::memcpy(buffer, bytes.data() + offset, n);
        return true;
    };
}

uint32_t RoundedSectors(size_t bytes) { return uint32_t((bytes + 511) / 512); }

TEST(CompoundDocumentSize, SizesALargeWorkbookFromItsHeader) {
    test::TempDir dir;
    std::string path = dir.File("big.xls");
    ASSERT_TRUE(test::MakeWorkbook(path, 9000, 10, 2, 7));
    std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    ASSERT_GT(bytes.size(), 1'000'000u);
    std::vector<uint8_t> onDisk = bytes;
    onDisk.resize(bytes.size() + 3'000'000, 0x5A);  // whatever follows the file on the disk
    EXPECT_EQ(CompoundDocumentSectors(ReaderOver(onDisk), onDisk.size() / 512), RoundedSectors(bytes.size()));
    // A document that would run past the end of the source is not sized.
    EXPECT_EQ(CompoundDocumentSectors(ReaderOver(onDisk), RoundedSectors(bytes.size()) - 1), 0u);
}

// The prefix of each corpus file that the header accounts for must hold the whole document: an
// independent reader finds every stream of the full file in it (a broken file whose tables address
// sectors past its end may read on there).
TEST(CompoundDocumentSize, CorpusFilesKeepAllTheirStreams) {
    auto files = test::CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "workbook corpus not present";
    test::TempDir dir;
    std::string list;
    size_t sized = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> bytes = test::ReadFileBytes(files[i]);
        std::vector<uint8_t> onDisk = bytes;
        onDisk.resize(bytes.size() + 600'000, 0);
        uint32_t sectors = CompoundDocumentSectors(ReaderOver(onDisk), onDisk.size() / 512);
        if (sectors == 0) continue;
        ++sized;
        onDisk.resize(size_t(sectors) * 512);
        std::string cut = dir.File(std::to_string(i) + ".xls");
        ASSERT_TRUE(test::WriteFileBytes(cut, onDisk));
        list += files[i] + "\t" + cut + "\n";
    }
    EXPECT_GT(sized, files.size() / 2);
    ASSERT_TRUE(test::WriteFileBytes(dir.File("list.txt"), std::vector<uint8_t>(list.begin(), list.end())));
    std::string script = R"(
import sys, olefile
bad = 0
for line in open(sys.argv[1]):
    full, cut = line.rstrip('\n').split('\t')
    try:
        a = olefile.OleFileIO(full)
        streams = {'/'.join(s): a.openstream(s).read() for s in a.listdir()}
    except Exception:
        continue
    try:
        b = olefile.OleFileIO(cut)
        same = all(b.openstream(s.split("/")).read().startswith(data) for s, data in streams.items())
    except Exception as e:
        same = False
    if not same:
        bad += 1
        print('cut short:', full)
print('bad', bad)
)";
    ASSERT_TRUE(test::WriteFileBytes(dir.File("check.py"), std::vector<uint8_t>(script.begin(), script.end())));
    auto result = test::RunCommand("/usr/bin/python3 " + dir.File("check.py") + " " + dir.File("list.txt"));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("bad 0\n"), std::string::npos) << result.output;
}

TEST(CompoundDocumentSize, RefusesHeadersThatAreNotConsistent) {
    test::TempDir dir;
    std::string path = dir.File("small.xls");
    ASSERT_TRUE(test::MakeWorkbook(path, 50, 4));
    const std::vector<uint8_t> good = test::ReadFileBytes(path);
    const uint64_t available = good.size() / 512 + 2000;
    ASSERT_EQ(CompoundDocumentSectors(ReaderOver(good), available), RoundedSectors(good.size()));

    struct Case {
        const char* what;
        size_t offset;
        uint32_t value;
        int width;
    } cases[] = {
        {"signature", 0, 0, 4},
        {"byte order", 0x1C, 0xFEFF, 2},
        {"sector shift", 0x1E, 10, 2},
        {"mini sector shift", 0x20, 7, 2},
        {"no table sectors", 0x2C, 0, 4},
        {"huge table", 0x2C, 0x7FFFFFFF, 4},
        {"table sector out of range", 0x4C, 0x00FFFFFF, 4},
        {"directory out of range", 0x30, 0x00FFFFFF, 4},
        {"table sector that is not marked", 0x4C, 0, 4},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        for (int i = 0; i < c.width; ++i) bad[c.offset + i] = uint8_t(c.value >> (8 * i));
        EXPECT_EQ(CompoundDocumentSectors(ReaderOver(bad), available), 0u) << c.what;
    }
    std::vector<uint8_t> header(good.begin(), good.begin() + 512);
    EXPECT_EQ(CompoundDocumentSectors(ReaderOver(header), available), 0u) << "unreadable table";
    EXPECT_EQ(CompoundDocumentSectors(ReaderOver(good), 0), 0u);
}

}  // namespace
}  // namespace tabulon
