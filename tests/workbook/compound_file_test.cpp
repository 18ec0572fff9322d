#include "workbook/compound_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>

#include "common/little_endian.h"
#include "support/test_environment.h"
#include "workbook/independent_readers.h"

namespace tabulon {
namespace {

using test::ReadFileBytes;
using test::TempDir;

std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// Every sector the tables mark as used belongs to exactly one chain (a stream, the directory, the
// mini stream, the mini FAT) or is a FAT or DIFAT sector; the same for mini sectors.
void ExpectTablesConsistent(const CompoundFile& file) {
    const auto& fat = file.Fat();
    std::set<uint32_t> used;
    auto walk = [&](uint32_t first, const std::vector<uint32_t>& table, std::set<uint32_t>& seen) {
        size_t count = 0;
        for (uint32_t s = first; s != kEndOfChain; s = table[s]) {
            ASSERT_LT(s, table.size());
            ASSERT_TRUE(seen.insert(s).second) << "sector " << s << " used twice";
            ASSERT_LE(++count, table.size());
        }
    };
    walk(file.Header().firstDirectorySector, fat, used);
    if (file.Header().miniFatSectorCount) walk(file.Header().firstMiniFatSector, fat, used);
    std::set<uint32_t> miniUsed;
    for (const auto& entry : file.Entries()) {
        if (entry.type == CompoundEntryType::Root)
            walk(entry.startSector, fat, used);
        else if (entry.type == CompoundEntryType::Stream && entry.size >= kMiniStreamCutoff)
            walk(entry.startSector, fat, used);
        else if (entry.type == CompoundEntryType::Stream && entry.size > 0)
            walk(entry.startSector, file.MiniFat(), miniUsed);
    }
    for (uint32_t s : file.FatSectors()) {
        EXPECT_EQ(fat[s], kFatSector);
        used.insert(s);
    }
    for (uint32_t s : file.DifatSectors()) {
        EXPECT_EQ(fat[s], kDifatSector);
        used.insert(s);
    }
    for (uint32_t s = 0; s < fat.size(); ++s) EXPECT_EQ(fat[s] != kFreeSector, used.count(s) == 1) << "sector " << s;
    for (uint32_t s = 0; s < file.MiniFat().size(); ++s)
        EXPECT_EQ(file.MiniFat()[s] != kFreeSector, miniUsed.count(s) == 1) << "mini sector " << s;
    EXPECT_EQ(file.Header().miniFatSectorCount * kEntriesPerFatSector, file.MiniFat().size());
}

TEST(CompoundFileTest, NewContainerHoldsHeaderFatAndRootEntry) {
    TempDir dir;
    std::string path = dir.File("empty.cfb");
    CompoundFile file;
    ASSERT_TRUE(file.Create(path));
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 3u * 512);
    const uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    EXPECT_TRUE(std::equal(signature, signature + 8, bytes.begin()));
    EXPECT_EQ(LoadU16(&bytes[24]), 0x3B);
    EXPECT_EQ(LoadU16(&bytes[26]), 3);
    EXPECT_EQ(LoadU16(&bytes[28]), 0xFFFE);
    EXPECT_EQ(LoadU16(&bytes[30]), 9);
    EXPECT_EQ(LoadU16(&bytes[32]), 6);
    EXPECT_EQ(LoadU32(&bytes[44]), 1u);                // one FAT sector
    EXPECT_EQ(LoadU32(&bytes[48]), 1u);                // directory in sector 1
    EXPECT_EQ(LoadU32(&bytes[56]), 4096u);
    EXPECT_EQ(LoadU32(&bytes[60]), kEndOfChain);       // no mini FAT
    EXPECT_EQ(LoadU32(&bytes[68]), kEndOfChain);       // no DIFAT
    EXPECT_EQ(LoadU32(&bytes[76]), 0u);
    EXPECT_EQ(LoadU32(&bytes[80]), kFreeSector);
    // FAT sector 0 (block 1): itself, the directory's end of chain, then free.
    EXPECT_EQ(LoadU32(&bytes[512]), kFatSector);
    EXPECT_EQ(LoadU32(&bytes[516]), kEndOfChain);
    EXPECT_EQ(LoadU32(&bytes[520]), kFreeSector);
    // Root entry (block 2).
    const uint8_t* root = &bytes[1024];
    EXPECT_EQ(LoadU16(root), u'R');
    EXPECT_EQ(LoadU16(root + 64), 22);
    EXPECT_EQ(root[66], 5);
    EXPECT_EQ(LoadU32(root + 76), kNoEntry);
    EXPECT_EQ(LoadU32(root + 116), kEndOfChain);
    // Unused slots name no entry.
    EXPECT_EQ(bytes[1024 + 128 + 66], 0);
    EXPECT_EQ(LoadU32(&bytes[1024 + 128 + 68]), kNoEntry);

    auto ole = test::ReadWithOlefile(path);
    EXPECT_TRUE(ole.opened) << ole.output;
    EXPECT_TRUE(ole.streams.empty());
}

TEST(CompoundFileTest, EntriesAreSortedByLengthThenNameAndTreesStaySearchable) {
    TempDir dir;
    std::string path = dir.File("names.cfb");
    CompoundFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_EQ(file.MakeStream(u"B"), kCompoundOk);
    ASSERT_EQ(file.MakeStream(u"AA"), kCompoundOk);
    ASSERT_EQ(file.MakeStream(u"A"), kCompoundOk);
    ASSERT_EQ(file.Entries().size(), 4u);
    EXPECT_EQ(file.Entries()[1].name, u"A");
    EXPECT_EQ(file.Entries()[2].name, u"B");
    EXPECT_EQ(file.Entries()[3].name, u"AA");

    // Five children of one storage: the third is the tree's root, two hang off each side.
    ASSERT_EQ(file.MakeStorage(u"S"), kCompoundOk);
    for (const char16_t* name : {u"S\\e", u"S\\c", u"S\\a", u"S\\d", u"S\\b"}) ASSERT_EQ(file.MakeStream(name), kCompoundOk);
    const auto& entries = file.Entries();
    auto number = [&](std::u16string_view name, uint32_t parentChild = kNoEntry) {
        for (uint32_t i = 0; i < entries.size(); ++i)
            if (entries[i].name == name && (parentChild == kNoEntry || i != parentChild)) return i;
        return kNoEntry;
    };
    uint32_t storage = number(u"S");
    ASSERT_NE(storage, kNoEntry);
    uint32_t top = entries[storage].child;
    ASSERT_LT(top, entries.size());
    EXPECT_EQ(entries[top].name, u"c");
    uint32_t left = entries[top].leftSibling;
    ASSERT_LT(left, entries.size());
    EXPECT_EQ(entries[left].name, u"b");
    EXPECT_EQ(entries[entries[left].leftSibling].name, u"a");
    uint32_t right = entries[top].rightSibling;
    ASSERT_LT(right, entries.size());
    EXPECT_EQ(entries[right].name, u"d");
    EXPECT_EQ(entries[entries[right].rightSibling].name, u"e");
    EXPECT_EQ(entries[left].rightSibling, kNoEntry);
    EXPECT_EQ(entries[right].leftSibling, kNoEntry);

    for (const char16_t* name : {u"A", u"B", u"AA", u"S\\a", u"S\\b", u"S\\c", u"S\\d", u"S\\e"}) {
        std::vector<uint8_t> data = Pattern(100, static_cast<uint32_t>(std::u16string_view(name).size() + name[0]));
        ASSERT_EQ(file.WriteStream(name, data), kCompoundOk);
    }
    auto ole = test::ReadWithOlefile(path);
    ASSERT_TRUE(ole.opened) << ole.output;
    EXPECT_EQ(ole.streams.size(), 8u);
    for (const char* name : {"A", "B", "AA", "S/a", "S/b", "S/c", "S/d", "S/e"}) EXPECT_EQ(ole.streams.count(name), 1u) << name;
    ExpectTablesConsistent(file);
}

TEST(CompoundFileTest, RefusedNamesLeaveTheContainerUnchanged) {
    TempDir dir;
    std::string path = dir.File("refused.cfb");
    CompoundFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_EQ(file.MakeStream(u"Workbook"), kCompoundOk);
    std::vector<uint8_t> before = ReadFileBytes(path);

    struct Case {
        std::u16string path;
        int code;
    };
    const Case cases[] = {
        {std::u16string(32, u'x'), kCompoundBadName},
        {u"Deep\\" + std::u16string(32, u'x'), kCompoundBadName},  // no storage made for a bad name
        {u"", kCompoundBadName},
        {u"Store\\", kCompoundBadName},
        {u"Workbook", kCompoundNameExists},
        {u"WORKBOOK", kCompoundNameExists},  // names that differ only in case are the same entry
        {u"\\Workbook", kCompoundNameExists},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file.MakeStream(c.path), c.code);
        EXPECT_EQ(file.MakeStorage(c.path), c.code);
    }
    EXPECT_EQ(file.Entries().size(), 2u);
    EXPECT_EQ(ReadFileBytes(path), before);

    EXPECT_EQ(file.MakeStream(std::u16string(31, u'x')), kCompoundOk);
    EXPECT_EQ(file.WriteStream(u"Missing", Pattern(10, 1)), kCompoundStreamNotFound);
    EXPECT_EQ(file.ChangeStorage(u"Missing"), kCompoundStorageNotFound);
    EXPECT_EQ(file.ChangeStorage(u"Workbook"), kCompoundStorageNotFound);  // a stream is not a storage
}

TEST(CompoundFileTest, StoragePathsAreCreatedAndWalked) {
    TempDir dir;
    std::string path = dir.File("tree.cfb");
    CompoundFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_EQ(file.MakeStream(u"\\One\\Two\\Data"), kCompoundOk);  // makes One and One\Two on the way
    ASSERT_EQ(file.ChangeStorage(u"One"), kCompoundOk);
    ASSERT_EQ(file.MakeStream(u"Two\\More"), kCompoundOk);           // relative to One
    ASSERT_EQ(file.ChangeStorage(u"Two"), kCompoundOk);
    ASSERT_EQ(file.WriteStream(u"Data", Pattern(300, 7)), kCompoundOk);
    ASSERT_EQ(file.ChangeStorage(u".."), kCompoundOk);
    ASSERT_EQ(file.WriteStream(u"Two\\More", Pattern(5000, 8)), kCompoundOk);
    ASSERT_EQ(file.ChangeStorage(u"\\"), kCompoundOk);
    ASSERT_EQ(file.ChangeStorage(u".."), kCompoundOk);  // the root stays the root
    ASSERT_EQ(file.MakeStream("Top"), kCompoundOk);     // 8-bit path variant
    ASSERT_EQ(file.WriteStream(u"\\Top", Pattern(1, 9)), kCompoundOk);

    auto ole = test::ReadWithOlefile(path);
    ASSERT_TRUE(ole.opened) << ole.output;
    EXPECT_EQ(ole.streams["One/Two/Data"], Pattern(300, 7));
    EXPECT_EQ(ole.streams["One/Two/More"], Pattern(5000, 8));
    EXPECT_EQ(ole.streams["Top"], Pattern(1, 9));
    ExpectTablesConsistent(file);
}

TEST(CompoundFileTest, StreamSizesAroundEveryBoundaryReadBackExactly) {
    TempDir dir;
    std::string path = dir.File("sizes.cfb");
    CompoundFile file;
    ASSERT_TRUE(file.Create(path));
    // Mini stream below 4096 bytes, ordinary sectors from 4096 on; sector and mini-sector edges;
    // twelve 4095-byte streams need 768 mini sectors, six mini-FAT sectors.
    std::vector<size_t> sizes = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8192, 8193};
    for (int i = 0; i < 12; ++i) sizes.push_back(4095);
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::u16string name = u"S" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        ASSERT_EQ(file.MakeStream(name), kCompoundOk);
        ASSERT_EQ(file.WriteStream(name, Pattern(sizes[i], static_cast<uint32_t>(i))), kCompoundOk);
    }
    EXPECT_GE(file.Header().miniFatSectorCount, 6u);
    for (const auto& entry : file.Entries()) {
        if (entry.name == u"SJ") {
            EXPECT_EQ(entry.size, 4096u);
        }
    }

    auto ole = test::ReadWithOlefile(path);
    ASSERT_TRUE(ole.opened) << ole.output;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string name = "S" + std::string(1, static_cast<char>('A' + i));
        EXPECT_EQ(ole.streams[name], Pattern(sizes[i], static_cast<uint32_t>(i))) << name << " size " << sizes[i];
    }
    ExpectTablesConsistent(file);
    // Sector-multiple streams have no padding sector; the file ends with the last sector written.
    EXPECT_EQ(ReadFileBytes(path).size() % 512, 0u);
}

TEST(CompoundFileTest, StreamBeyondHeaderFatCapacityUsesDifatSectors) {
    TempDir dir;
    std::string path = dir.File("large.cfb");
    CompoundFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_EQ(file.MakeStream(u"Workbook"), kCompoundOk);
    // 109 FAT sectors address 109 x 128 x 512 bytes (about 7.1 MB); write more than that.
    std::vector<uint8_t> data = Pattern(7'500'000, 3);
    ASSERT_EQ(file.WriteStream(u"Workbook", data), kCompoundOk);
    EXPECT_GT(file.Header().fatSectorCount, 109u);
    EXPECT_EQ(file.Header().difatSectorCount, 1u);
    ExpectTablesConsistent(file);
    auto ole = test::ReadWithOlefile(path);
    ASSERT_TRUE(ole.opened) << ole.output;
    EXPECT_TRUE(ole.streams["Workbook"] == data);
}

TEST(CompoundFileTest, RewrittenStreamsReleaseWhatTheyNoLongerUse) {
    TempDir dir;
    std::string path = dir.File("rewrite.cfb");
    CompoundFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_EQ(file.MakeStream(u"Moving"), kCompoundOk);
    ASSERT_EQ(file.MakeStream(u"Steady"), kCompoundOk);
    ASSERT_EQ(file.WriteStream(u"Steady", Pattern(700, 2)), kCompoundOk);
    // Ordinary -> mini -> ordinary, shrinking and growing chains, and finally empty.
    for (size_t size : {20000, 9000, 100, 3000, 40000, 5000, 0, 1500}) {
        ASSERT_EQ(file.WriteStream(u"Moving", Pattern(size, 5)), kCompoundOk) << size;
        ExpectTablesConsistent(file);
        auto ole = test::ReadWithOlefile(path);
        ASSERT_TRUE(ole.opened) << ole.output;
        EXPECT_EQ(ole.streams["Moving"], Pattern(size, 5)) << size;
        EXPECT_EQ(ole.streams["Steady"], Pattern(700, 2));
    }
}

TEST(CompoundFileTest, FailedWritesAreReported) {
    CompoundFile closed;
    EXPECT_EQ(closed.MakeStream(u"Workbook"), kCompoundWriteFailed);
    EXPECT_EQ(closed.WriteStream(u"Workbook", Pattern(10, 1)), kCompoundWriteFailed);

    CompoundFile full;
    EXPECT_FALSE(full.Create(std::string("/dev/full")));  // the device refuses every write
    EXPECT_FALSE(full.Create(std::string("/nonexistent-folder/out.cfb")));

    // A file-size limit lets the empty container through and stops the stream: the write must
    // fail, not report success. Run in a child so that the limit stays there.
    TempDir dir;
    std::string path = dir.File("limited.cfb");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        CompoundFile file;
        if (!file.Create(path) || file.MakeStream(u"Workbook") != kCompoundOk) _exit(10);
        int code = file.WriteStream(u"Workbook", Pattern(1 << 20, 4));
        int again = file.MakeStream(u"Later");  // the file stays failed
        _exit(code == kCompoundWriteFailed && again == kCompoundWriteFailed ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tabulon
