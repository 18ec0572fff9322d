// Runs the raw disk scan over small images built from the input, then reads every file of the volumes
// it rebuilt. The first two bytes give the image size (128 to about 4,400 sectors, so that window
// boundaries and the look-ahead are crossed), the third the spacing at which the rest of the input is
// laid down again and again, so that one directory-like sector becomes a row of folders the grouping
// has to sort out. The image lives in a memory file read through /proc/self/fd.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "fs/content_signature_scan.h"
#include "fs/disk_node.h"
#include "fs/name_pool.h"
#include "fs/raw_volume.h"

using namespace tabulon;

namespace {

void ReadFiles(VolumeAnalyser& volume, const FileEntry& entry, int depth, int& budget) {
    for (const auto& child : entry.children) {
        if (--budget < 0) return;
        if (child.IsDirectory()) {
            if (depth < 64) ReadFiles(volume, child, depth + 1, budget);
            continue;
        }
        ClusterChain chain;
        uint64_t allocated = 0, size = 0;
        if (!volume.GetSizes(child, chain, allocated, size)) continue;
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size, 1 << 16));
        std::vector<uint8_t> buffer(std::max<uint32_t>(count, 1));
        volume.ReadFileData(child, buffer.data(), buffer.size(), 0, count, chain);
        uint32_t start = 0;
        volume.GetExtent(child, allocated, start);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint64_t sectors = 128 + LoadU16(data) % 4300;
    const size_t spacing = (size_t(data[2]) + 1) * 512;  // bytes between copies of the payload
    const uint8_t* payload = data + 3;
    const size_t payloadSize = size - 3;

    std::vector<uint8_t> image(sectors * 512, 0);
    if (payloadSize != 0)
        for (size_t at = 0; at < image.size(); at += std::max(spacing, payloadSize))
            std::memcpy(image.data() + at, payload, std::min(payloadSize, image.size() - at));

    const int fd = memfd_create("raw-scan", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size())) {
        close(fd);
        return 0;
    }
    {
        SourceDisk disk;
        disk.Device().SetPath("/proc/self/fd/" + std::to_string(fd));
        if (disk.Device().Open()) {
            ContentFoundList::Global().Clear();
            RawVolume raw;
            raw.SetOwner(&disk);
            RawScanOptions options;
            options.scanByDirectory = data[2] != 0xFF;  // one spacing value turns the directory search off
            raw.SetScanOptions(options);
            raw.ScanRawDisk();
            int budget = 2000;
            for (int32_t i = 0; i < disk.VolumeCount(); ++i) {
                VolumeAnalyser* volume = disk.Volume(i);
                ReadFiles(*volume, *volume->RootEntry(), 0, budget);
                volume->DataStartSector();
                volume->SectorsPerCluster();
            }
        }
    }
    close(fd);
    NamePool::Global().Clear();
    return 0;
}
