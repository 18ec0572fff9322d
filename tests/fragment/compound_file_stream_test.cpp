#include "fragment/compound_file_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>

#include "common/little_endian.h"
#include "support/test_environment.h"

namespace tabulon {
namespace {

using test::ReadFileBytes;

// python3-olefile, an independent reader, writes each file's workbook stream next to a listing of
// "name<TAB>contiguous<TAB>tail" lines for the files it could read (contiguous -1: a mini-stream stream).
std::map<std::string, std::pair<int, uint64_t>> ExtractWithOlefile(const std::vector<std::string>& files,
                                                                     const std::string& outDir) {
    const std::string script = R"PY(
import os, sys, olefile
out = sys.argv[1]
with open(os.path.join(out, "listing.tsv"), "w") as listing:
    for path in sys.argv[2:]:
        try:
            ole = olefile.OleFileIO(path)
            name = "Workbook" if ole.exists("Workbook") else ("Book" if ole.exists("Book") else None)
            if name is None:
                continue
            data = ole.openstream(name).read()
            if len(data) != ole.get_size(name):
                continue  # olefile returns what it could of a broken chain; only whole streams are compared
            base = os.path.basename(path)
            if len(data) < ole.minisectorcutoff:
                with open(os.path.join(out, base + ".stream"), "wb") as f:
                    f.write(data)
                listing.write(f"{base}\t-1\t0\n")
                continue
            entry = ole.direntries[ole._find(name)]
            chain, sector = [], entry.isectStart
            while len(chain) * ole.sectorsize < entry.size:
                chain.append(sector)
                sector = ole.fat[sector]
            contiguous = all(b == a + 1 for a, b in zip(chain, chain[1:]))
            end = (chain[-1] + 2) * ole.sectorsize
            with open(os.path.join(out, base + ".stream"), "wb") as f:
                f.write(data)
            listing.write(f"{base}\t{int(contiguous)}\t{max(0, os.path.getsize(path) - end)}\n")
        except Exception:
            pass
)PY";
    const std::string scriptPath = outDir + "/extract.py";
    std::ofstream(scriptPath) << script;
    std::string command = "/usr/bin/python3 " + test::ShellQuote(scriptPath) + " " + test::ShellQuote(outDir);
    for (const auto& file : files) command += " " + test::ShellQuote(file);
    std::map<std::string, std::pair<int, uint64_t>> listing;
    if (test::RunCommand(command).exitStatus != 0) return listing;
    std::ifstream in(outDir + "/listing.tsv");
    std::string name;
    int contiguous = 0;
    uint64_t tail = 0;
    while (in >> name >> contiguous >> tail) listing[name] = {contiguous, tail};
    return listing;
}

TEST(CompoundFileStream, AgreesWithAnIndependentReaderOnTheCorpus) {
    const auto files = test::CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "workbook corpus not found";
    test::TempDir dir;
    const auto expected = ExtractWithOlefile(files, dir.Path());
    ASSERT_GT(expected.size(), 100u);
    size_t compared = 0;
    for (const auto& path : files) {
        const std::string base = std::filesystem::path(path).filename().string();
        const auto bytes = ReadFileBytes(path);
        CompoundStream stream;
        const bool read = ReadWorkbookStream(bytes, stream);
        auto it = expected.find(base);
        if (it == expected.end()) continue;  // olefile could not read it: ours need only not crash
        ASSERT_TRUE(read) << base;
        EXPECT_EQ(stream.bytes, ReadFileBytes(dir.File(base + ".stream"))) << base;
        EXPECT_EQ(stream.inMiniStream, it->second.first < 0) << base;
        if (!stream.inMiniStream) {
            EXPECT_EQ(stream.IsContiguous(), it->second.first == 1) << base;
            EXPECT_EQ(stream.TailBytes(bytes.size()), it->second.second) << base;
        }
        ++compared;
    }
    EXPECT_EQ(compared, expected.size());
}

TEST(CompoundFileStream, SmallStreamsComeFromTheMiniStream) {
    const std::string path = test::CorpusDir() + "/poi__48325.xls";  // a workbook stream of 1648 bytes
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus workbook " << path << " not found";
    const auto bytes = ReadFileBytes(path);
    CompoundStream stream;
    ASSERT_TRUE(ReadWorkbookStream(bytes, stream));
    ASSERT_TRUE(stream.inMiniStream);
    EXPECT_EQ(stream.sectorSize, 64u);
    EXPECT_EQ(stream.bytes.size(), 1648u);
    ASSERT_GE(stream.bytes.size(), 8u);
    EXPECT_EQ(LoadU16(stream.bytes.data()), 0x0809);
    // The recorded offsets point at the stream's bytes inside the file.
    for (size_t i = 0; i < stream.sectorOffsets.size(); ++i) {
        const size_t n = std::min<size_t>(64, stream.bytes.size() - i * 64);
        ASSERT_LE(stream.sectorOffsets[i] + n, bytes.size());
        EXPECT_TRUE(std::equal(stream.bytes.begin() + long(i * 64), stream.bytes.begin() + long(i * 64 + n),
                               bytes.begin() + long(stream.sectorOffsets[i])));
    }
}

TEST(CompoundFileStream, DamagedContainersAreRefused) {
    test::TempDir dir;
    const std::string path = dir.File("book.xls");
    ASSERT_TRUE(test::MakeWorkbook(path, 400, 6));
    const auto good = ReadFileBytes(path);
    CompoundStream stream;
    ASSERT_TRUE(ReadWorkbookStream(good, stream));

    auto damaged = good;
    damaged[0] = 0;  // signature
    EXPECT_FALSE(ReadWorkbookStream(damaged, stream));
    damaged = good;
    StoreU16(damaged.data() + 0x1E, 10);  // sector shift
    EXPECT_FALSE(ReadWorkbookStream(damaged, stream));
    damaged = good;
    StoreU32(damaged.data() + 0x4C, 0x7FFFFFFF);  // first table sector beyond the file
    EXPECT_FALSE(ReadWorkbookStream(damaged, stream));
    // Cut short: the stream's chain runs off the end of the file.
    EXPECT_FALSE(ReadWorkbookStream(std::span(good).first(good.size() / 2), stream));
    EXPECT_FALSE(ReadWorkbookStream(std::span(good).first(100), stream));
}

TEST(CompoundFileStream, ACyclicChainEnds) {
    test::TempDir dir;
    const std::string path = dir.File("book.xls");
    ASSERT_TRUE(test::MakeWorkbook(path, 400, 6));
    auto bytes = ReadFileBytes(path);
    CompoundStream stream;
    ASSERT_TRUE(ReadWorkbookStream(bytes, stream));
    ASSERT_GT(stream.sectorOffsets.size(), 3u);
    // Point the stream's third sector back at its first in the allocation table.
    const uint32_t firstTableSector = LoadU32(bytes.data() + 0x4C);
    const uint32_t third = uint32_t(stream.sectorOffsets[2] / 512 - 1);
    const uint32_t first = uint32_t(stream.sectorOffsets[0] / 512 - 1);
    ASSERT_LT(third, 128u);
    StoreU32(bytes.data() + (firstTableSector + 1) * 512 + third * 4, first);
    EXPECT_FALSE(ReadWorkbookStream(bytes, stream));
}

}  // namespace
}  // namespace tabulon
