#pragma once
// An output file seen as a sequence of 512-byte blocks. Writes are gathered into one contiguous run
// and written out by Flush(), which the container calls once at the end of every operation; a
// failed write is remembered until the next Create() so that the operation reports it.

#include <cstdint>
#include <string>
#include <vector>

namespace tabulon {

class BlockFile {
public:
    static constexpr uint32_t kBlockSize = 512;

    BlockFile() = default;
    ~BlockFile();
    BlockFile(const BlockFile&) = delete;
    BlockFile& operator=(const BlockFile&) = delete;

    // Creates (or truncates) the file at `path` for reading and writing.
    bool Create(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Queues one block; false when the file is not open or an earlier write failed.
    bool WriteBlock(uint64_t index, const uint8_t* data);
    // Writes every queued block; false when any write since Create() failed.
    bool Flush();
    bool Failed() const { return failed_; }
    // Blocks in the file, counting queued ones.
    uint64_t BlockCount() const { return blockCount_; }

private:
    bool WriteRun();

    int fd_ = -1;
    bool failed_ = false;
    uint64_t blockCount_ = 0;
    uint64_t runStart_ = 0;
    std::vector<uint8_t> run_;  // queued blocks runStart_, runStart_ + 1, ...
};

}  // namespace tabulon
