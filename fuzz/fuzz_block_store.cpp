// Prepares the fragment block store over arbitrary bytes taken as a volume: the boot parameters, the
// allocation table of any width and the data area all come from the input, as do the recorded data
// start, the block size and the content-found starts of a source without a file system. Then blocks
// are asked for, in and out of range, in both modes, and in disk order against the source's bytes.
// The image lives in a memory file read through /proc/self/fd.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "fragment/block_store.h"

using namespace tabulon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 80) return 0;
    static const int fd = memfd_create("fuzz-block-store", MFD_CLOEXEC);
    if (fd < 0) return 0;
    // The volume: the input, padded to whole sectors and at least 64 sectors, so tables and blocks exist.
    const size_t bytes = std::max<size_t>((size + 511) / 512 * 512, 64 * 512);
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, off_t(bytes)) != 0) return 0;
    if (pwrite(fd, data, size, 0) != ssize_t(size)) return 0;

    BlockStoreLayout layout;
    layout.sourceName = "/proc/self/fd/" + std::to_string(fd);
    std::memcpy(layout.bootCopy.data(), data, layout.bootCopy.size());
    layout.fatFound = (data[62] & 1) != 0;
    layout.inMemory = (data[62] & 2) != 0;
    layout.partitionStart = data[63] % 8;
    layout.dataStartSector = LoadU16(data + 64);
    layout.blockSectors = int32_t(data[66]);
    for (size_t i = 0; i < 6; ++i) layout.contentStarts.push_back(LoadU16(data + 67 + 2 * i));

    BlockStore store;
    if (store.Prepare(layout, nullptr) != BlockStore::PrepareResult::Ready) return 0;
    const int32_t count = store.BlockCount();
    const size_t b = size_t(store.BlockBytes());
    if (count < 0 || b == 0 || b > 128 * 512) __builtin_trap();
    for (int32_t i : {-1, 0, 1, 2, 3, count / 2, count - 1, count, count + 1}) {
        const auto block = store.GetBlock(i);
        if (!block.empty() && (block.size() < b || i < 2 || i >= count)) __builtin_trap();
        uint32_t sum = 0;
        for (uint8_t byte : block) sum += byte;  // every byte offered must be readable
        (void)sum;
        // A block is either offered or told as a filler, never both; a filler holds 0x00 or 0xFF.
        const int filler = store.FillerByte(i);
        if (filler != -1 && (filler != 0x00 && filler != 0xFF)) __builtin_trap();
        if (filler != -1 && !store.GetBlock(i).empty()) __builtin_trap();
    }
    // A scan in disk order, read ahead in direct mode, gives each offered block as the source holds it.
    if (!store.InMemory()) {
        std::vector<uint8_t> expected(b);
        for (int32_t i = 2; i < count && i < 600; i += 1 + int32_t(data[size_t(i) % size] % 3)) {
            const auto block = store.GetBlock(i);
            if (block.empty()) continue;
            const off_t at = off_t(store.SectorOfBlock(i) * 512);
            if (pread(fd, expected.data(), b, at) != ssize_t(b)) __builtin_trap();
            if (std::memcmp(block.data(), expected.data(), b) != 0) __builtin_trap();
        }
    }
    return 0;
}
