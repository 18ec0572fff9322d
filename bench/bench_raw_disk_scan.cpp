// The raw disk scan of a 1 GiB image against `cat` of the same image, both with the page cache warm.
// The image is a FAT32 volume (4 KiB clusters) holding folders of workbooks and about 900 MB of random
// file data, whose first 8 MiB (boot sector, reserved area, both FATs) are zeroed. Target: the scan
// takes at most 2 times as long as `cat`.
//
// usage: bench_raw_disk_scan [IMAGE]   (without IMAGE a fresh image is built in /tmp and removed)
#include <fmt/core.h>

#include "bench/bench_support.h"
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "fs/content_signature_scan.h"
#include "fs/disk_node.h"
#include "fs/raw_volume.h"

namespace {

using tabulon::bench::Quote;
using tabulon::bench::Run;
using tabulon::bench::SecondsOf;

bool BuildImage(const std::string& path, const std::string& work) {
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    const std::string image = Quote(path);
    if (!Run("truncate -s 1G " + image + " && mkfs.fat -F 32 -s 8 " + image + " >/dev/null")) return false;
    // Written first, so that the folders lie beyond the 8 MiB that are zeroed at the end.
    const std::string filler = work + "/filler.bin";
    if (!Run("head -c 9M /dev/urandom > " + Quote(filler) + " && " + mtools + "mcopy -i " + image + " " + Quote(filler) +
             " ::/"))
        return false;
    for (int folder = 0; folder < 30; ++folder) {
        const std::string dir = work + "/Folder" + std::to_string(folder);
        std::filesystem::create_directories(dir);
        for (int book = 0; book < 8; ++book) {
            const std::string out = dir + "/book" + std::to_string(book) + ".xls";
            if (!Run("/usr/bin/python3 " TABULON_SOURCE_DIR "/tools/make_workbook.py " + Quote(out) + " --rows " +
                     std::to_string(20 + 37 * book) + " --seed " + std::to_string(folder * 8 + book)))
                return false;
        }
    }
    if (!Run(mtools + "mcopy -s -i " + image + " " + work + "/Folder* ::/")) return false;
    for (int big = 0; big < 9; ++big) {
        const std::string file = work + "/data" + std::to_string(big) + ".bin";
        if (!Run("head -c 100M /dev/urandom > " + Quote(file))) return false;
        if (!Run(mtools + "mcopy -i " + image + " " + Quote(file) + " ::/")) return false;
        std::filesystem::remove(file);
    }
    return Run("dd if=/dev/zero of=" + image + " bs=1M count=8 conv=notrunc status=none");
}

}  // namespace

int main(int argc, char** argv) {
    std::string image = argc > 1 ? argv[1] : "";
    std::string work;
    if (image.empty()) {
        work = "/tmp/tabulon-bench-raw-" + std::to_string(getpid());
        std::filesystem::create_directories(work);
        image = work + "/disk.img";
        fmt::print("building {} ...\n", image);
        if (!BuildImage(image, work)) {
            fmt::print(stderr, "could not build the image (mkfs.fat, mtools and python3-xlwt needed)\n");
            std::filesystem::remove_all(work);
            return 1;
        }
    }

    tabulon::RawScanSummary summary;
    auto scan = [&] {
        tabulon::ContentFoundList::Global().Clear();
        tabulon::SourceDisk disk;
        disk.Device().SetPath(image);
        if (!disk.Device().Open()) return;
        tabulon::RawVolume raw;
        raw.SetOwner(&disk);
        raw.ScanRawDisk();
        summary = raw.LastScan();
    };
    auto cat = [&] { Run("cat " + Quote(image) + " > /dev/null"); };

    cat();  // warm the page cache
    double catBest = 1e9, scanBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        catBest = std::min(catBest, SecondsOf(cat));
        scanBest = std::min(scanBest, SecondsOf(scan));
    }
    fmt::print("image: {} ({} windows, {} workbooks, {} folders, {} volumes)\n", image, summary.windowsRead,
               summary.workbooksFound, summary.foldersFound, summary.volumesCreated);
    fmt::print("cat:            {:.3f} s (best of 3)\n", catBest);
    fmt::print("raw disk scan:  {:.3f} s (best of 3)\n", scanBest);
    fmt::print("ratio scan / cat: {:.2f} (target at most 2.00)\n", scanBest / catBest);
    if (!work.empty()) std::filesystem::remove_all(work);
    return 0;
}
