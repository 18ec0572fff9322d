#pragma once
// A block source held in memory for tests of the fragment search: blocks placed at chosen indices, every
// other index offers nothing. Each block is offered with the first 8 bytes of the next index's block
// after it, like the in-memory block store, or with as many as `bytesAfter` says (512: the direct mode's
// extra sector). Records which indices were asked for. Header-only so that
// fuzz targets can use it too.

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "fragment/block_source.h"

namespace tabulon::test {

class MemoryBlockSource : public BlockSource {
public:
    MemoryBlockSource(int32_t blockBytes, int32_t blockCount, size_t bytesAfter = 8)
        : blockBytes_(blockBytes), blockCount_(blockCount), bytesAfter_(bytesAfter) {}

    // Places `bytes` (cut or zero-padded to one block) at `index`.
    void Put(int32_t index, std::span<const uint8_t> bytes) {
        fillers_.erase(index);
        std::vector<uint8_t>& block = blocks_[index];
        block.assign(size_t(blockBytes_), 0);
        std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    }
    // Places `bytes` over consecutive blocks from `index`; returns the number of blocks used.
    int32_t PutRun(int32_t index, std::span<const uint8_t> bytes) {
        int32_t used = 0;
        for (size_t at = 0; at < bytes.size(); at += size_t(blockBytes_), ++used)
            Put(index + used, bytes.subspan(at, std::min(bytes.size() - at, size_t(blockBytes_))));
        return used;
    }
    void Remove(int32_t index) { blocks_.erase(index); }
    // Marks `index` as a free block holding `byte` throughout: not offered, like a block store's.
    void PutFiller(int32_t index, uint8_t byte) {
        blocks_.erase(index);
        fillers_[index] = byte;
    }

    int32_t BlockCount() const override { return blockCount_; }
    int32_t BlockBytes() const override { return blockBytes_; }
    std::span<const uint8_t> GetBlock(int32_t index) override {
        requests_.push_back(index);
        auto it = blocks_.find(index);
        if (index < 2 || index >= blockCount_ || it == blocks_.end()) return {};
        buffer_ = it->second;
        auto next = blocks_.find(index + 1);
        const auto filler = fillers_.find(index + 1);
        for (size_t i = 0; i < bytesAfter_; ++i)
            buffer_.push_back(next != blocks_.end() ? next->second[i] : filler != fillers_.end() ? filler->second : 0);
        return buffer_;
    }

    int FillerByte(int32_t index) override {
        auto it = fillers_.find(index);
        return it == fillers_.end() ? -1 : it->second;
    }

    const std::vector<int32_t>& Requests() const { return requests_; }
    void ClearRequests() { requests_.clear(); }

private:
    int32_t blockBytes_;
    int32_t blockCount_;
    size_t bytesAfter_;
    std::map<int32_t, std::vector<uint8_t>> blocks_;
    std::map<int32_t, uint8_t> fillers_;
    std::vector<uint8_t> buffer_;
    std::vector<int32_t> requests_;
};

}  // namespace tabulon::test
