#include "workbook/block_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tabulon {
namespace {

// Queued bytes are written out once the run reaches this size, so that a large stream does not
// sit in memory twice.
constexpr size_t kMaxRunBytes = size_t(1) << 20;

}  // namespace

BlockFile::~BlockFile() { Close(); }

bool BlockFile::Create(const std::string& path) {
    Close();
    failed_ = false;
    blockCount_ = 0;
    run_.clear();
    if (path.empty()) return false;
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0;
}

void BlockFile::Close() {
    if (fd_ < 0) return;
    Flush();
    close(fd_);
    fd_ = -1;
    run_.clear();
}

bool BlockFile::WriteBlock(uint64_t index, const uint8_t* data) {
    if (fd_ < 0 || failed_) return false;
    uint64_t runBlocks = run_.size() / kBlockSize;
    if (!run_.empty() && index >= runStart_ && index < runStart_ + runBlocks) {
        std::memcpy(run_.data() + (index - runStart_) * kBlockSize, data, kBlockSize);
    } else {
        if (run_.empty() || index != runStart_ + runBlocks || run_.size() >= kMaxRunBytes) {
            if (!WriteRun()) return false;
            runStart_ = index;
        }
        run_.insert(run_.end(), data, data + kBlockSize);
    }
    if (index >= blockCount_) blockCount_ = index + 1;
    return true;
}

bool BlockFile::WriteRun() {
    if (run_.empty()) return !failed_;
    size_t done = 0;
    while (done < run_.size()) {
        ssize_t n = pwrite(fd_, run_.data() + done, run_.size() - done, static_cast<off_t>(runStart_ * kBlockSize + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        done += static_cast<size_t>(n);
    }
    run_.clear();
    return !failed_;
}

bool BlockFile::Flush() {
    if (fd_ < 0) return false;
    return WriteRun();
}

}  // namespace tabulon
