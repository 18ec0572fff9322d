#include "app/save_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/utf_text.h"
#include "source/sector_reader.h"

namespace tabulon {
namespace {

constexpr uint32_t kBatchSectors = 128;  // consecutive sectors read and written at once (64 KiB)

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// "%s_%d.xls" with the path's last four characters replaced. The cut never reaches into the folder
// part: a file name of four characters or fewer is kept whole.
std::string NumberedPath(const std::string& path, uint64_t number) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::u16string name = FromUtf8(slash == std::string::npos ? path : path.substr(slash + 1));
    if (name.size() > 4) name.resize(name.size() - 4);
    return folder + ToUtf8(name) + "_" + std::to_string(number) + ".xls";
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Creates a file under the first of `path`, "%s_1.xls", "%s_2.xls", ... that names nothing on disk
// (no file, folder or link). O_EXCL makes sure that a name taken in the meantime is never overwritten.
int CreateNewFile(const std::string& path, std::string& usedPath) {
    std::string candidate = path;
    for (uint64_t number = 1; number <= 1000000; ++number) {
        if (!Exists(candidate)) {
            int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd >= 0) {
                usedPath = candidate;
                return fd;
            }
            if (errno != EEXIST) return -1;
        }
        candidate = NumberedPath(path, number);
    }
    return -1;
}

}  // namespace

bool IsSaveFailure(SaveResult result) {
    return result == SaveResult::SourceUnreadable || result == SaveResult::NotCreated || result == SaveResult::Incomplete;
}

SaveFileOutcome SaveFile(const ResultNode& node, const std::string& sourceName, const std::string& path) {
    SaveFileOutcome outcome;
    if (node.sectors.empty()) {
        outcome.result = SaveResult::NoSectors;
        return outcome;
    }
    SectorReader reader;
    if (!reader.Open(sourceName)) {
        outcome.result = SaveResult::SourceUnreadable;
        return outcome;
    }
    int fd = CreateNewFile(path, outcome.path);
    if (fd < 0) {
        outcome.result = SaveResult::NotCreated;
        return outcome;
    }

    // Runs of consecutive sectors are read in one go; a run that fails is retried sector by sector so
    // that the file keeps every sector up to the first unreadable one.
    std::vector<uint8_t> buffer(size_t(kBatchSectors) * 512);
    bool complete = true;
    const std::vector<uint32_t>& sectors = node.sectors;
    size_t i = 0;
    while (i < sectors.size() && complete) {
        size_t run = 1;
        while (i + run < sectors.size() && run < kBatchSectors && sectors[i + run] == sectors[i] + run) ++run;
        size_t good = 0;
        if (reader.ReadSectors(buffer.data(), uint32_t(run * 512), sectors[i]) &&
            uint64_t(sectors[i]) + run <= reader.SectorCount()) {
            good = run;
        } else {
            while (good < run && sectors[i + good] < reader.SectorCount() &&
                   reader.ReadSectors(buffer.data() + good * 512, 512, sectors[i + good]))
                ++good;
        }
        if (!WriteAll(fd, buffer.data(), good * 512)) {
            complete = false;
            break;
        }
        outcome.bytesWritten += uint64_t(good) * 512;
        if (good < run) complete = false;
        i += run;
    }
    if (close(fd) != 0) complete = false;
    outcome.result = complete ? SaveResult::Written : SaveResult::Incomplete;
    return outcome;
}

}  // namespace tabulon
