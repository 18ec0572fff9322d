// The lost-folder scan of a 1 GiB FAT32 image that is mostly file data, against `cat` of the same
// image, both with the page cache warm. Target: the scan takes at most 1.4 times as long as `cat`.
//
// usage: bench_lost_folder_scan [IMAGE]   (without IMAGE a fresh image is built in /tmp and removed)
#include <fmt/core.h>

#include "bench/bench_support.h"
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fs/boot_sector_kind.h"
#include "fs/content_signature_scan.h"
#include "fs/disk_node.h"
#include "fs/fat_volume.h"

namespace {

using tabulon::bench::Quote;
using tabulon::bench::Run;
using tabulon::bench::SecondsOf;


// 1 GiB FAT32, 4 KiB clusters: 40 folders of small files, then about 900 MB of random file data.
bool BuildImage(const std::string& path, const std::string& work) {
    const std::string env = "MTOOLS_SKIP_CHECK=1 ";
    if (!Run("truncate -s 1G " + Quote(path) + " && mkfs.fat -F 32 -s 8 " + Quote(path) + " >/dev/null")) return false;
    std::mt19937 random(7);
    std::vector<char> chunk(1 << 20);
    for (int folder = 0; folder < 40; ++folder) {
        const std::string dir = work + "/Folder" + std::to_string(folder);
        std::filesystem::create_directories(dir);
        for (int file = 0; file < 20; ++file) {
            std::ofstream out(dir + "/file" + std::to_string(file) + ".bin", std::ios::binary);
            std::generate(chunk.begin(), chunk.begin() + 20000, [&] { return char(random()); });
            out.write(chunk.data(), 20000);
        }
    }
    if (!Run(env + "mcopy -s -i " + Quote(path) + " " + work + "/Folder* ::/")) return false;
    for (int big = 0; big < 9; ++big) {
        const std::string file = work + "/big" + std::to_string(big) + ".bin";
        std::ofstream out(file, std::ios::binary);
        for (int mb = 0; mb < 100; ++mb) {
            std::generate(chunk.begin(), chunk.end(), [&] { return char(random()); });
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        out.close();
        if (!Run(env + "mcopy -i " + Quote(path) + " " + Quote(file) + " ::/")) return false;
        std::filesystem::remove(file);
    }
    // Quick format: the folders are lost, their clusters remain for the scan to find.
    return Run("mkfs.fat -F 32 -s 8 " + Quote(path) + " >/dev/null");
}

}  // namespace

int main(int argc, char** argv) {
    std::string image = argc > 1 ? argv[1] : "";
    std::string work;
    if (image.empty()) {
        work = "/tmp/tabulon-bench-" + std::to_string(getpid());
        std::filesystem::create_directories(work);
        image = work + "/volume.img";
        fmt::print("building {} ...\n", image);
        if (!BuildImage(image, work)) {
            fmt::print(stderr, "could not build the image (mkfs.fat and mtools needed)\n");
            return 1;
        }
    }

    size_t folders = 0;
    auto scan = [&] {
        tabulon::ContentFoundList::Global().Clear();
        tabulon::SourceDisk disk;
        disk.Device().SetPath(image);
        if (!disk.Device().Open()) return;
        std::array<uint8_t, 512> boot {};
        disk.Device().Read(boot.data(), 512, 0);
        tabulon::FatVolume volume;
        volume.SetDeclaredFatType(tabulon::ClassifyBootSector(boot.data()) == tabulon::BootSectorKind::Fat32
                                      ? tabulon::FatType::Fat32
                                      : tabulon::FatType::Fat16);
        volume.SetOwner(&disk);
        disk.Device().SetBootSnapshot(boot.data(), true);
        volume.SetBootCopyFlag(1);
        volume.Mount();
        volume.ScanLostFolders();
        folders = volume.LostEntry()->children.size();
    };
    auto cat = [&] { Run("cat " + Quote(image) + " > /dev/null"); };

    cat();  // warm the page cache
    double catBest = 1e9, scanBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        catBest = std::min(catBest, SecondsOf(cat));
        scanBest = std::min(scanBest, SecondsOf(scan));
    }
    fmt::print("image: {} ({} lost folders found)\n", image, folders);
    fmt::print("cat:               {:.3f} s (best of 3)\n", catBest);
    fmt::print("lost-folder scan:  {:.3f} s (best of 3)\n", scanBest);
    fmt::print("ratio scan / cat:  {:.2f} (target at most 1.40)\n", scanBest / catBest);
    if (!work.empty()) std::filesystem::remove_all(work);
    return 0;
}
