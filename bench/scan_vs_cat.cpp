// Whole-process comparison: `tabulon scan` of a 1 GiB FAT32 image full of workbooks, folders and filler,
// against `cat` of the same image, in the same run. Prints both times, their ratio and the scan's peak
// memory: with the image in the page cache (both sides limited by copying from memory), and, where the
// machine lets the page cache be dropped, from the device (both sides limited by reading it). The image
// is built once with mkfs.fat and mtools and kept below the build folder.
//
// usage: scan_vs_cat [IMAGE] [--rounds N]

#include <fmt/core.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Builds the image: 48 folders of 8 workbooks (xlwt-written, 20 KB to 1.5 MB), some deleted, and
// filler files between them until about 1 GiB is in use.
bool BuildImage(const std::string& image) {
    std::string work = image + ".work";
    fs::create_directories(work);
    std::string tools = std::string(TABULON_SOURCE_DIR) + "/tools";
    std::string script = "set -e\nexport MTOOLS_SKIP_CHECK=1\nimg='" + image + "'\nw='" + work + "'\n";
    script += "rm -f \"$img\"; truncate -s 1G \"$img\"; mkfs.fat -F 32 -s 8 -n BENCH \"$img\" >/dev/null\n";
    for (int b = 0; b < 8; ++b)
        script += fmt::format("/usr/bin/python3 {}/make_workbook.py \"$w/book{}.xls\" --rows {} --cols 8 --seed {}\n", tools, b,
                              200 + b * b * 250, b + 1);
    script += "/usr/bin/python3 -c \"import os,sys; sys.stdout.buffer.write(os.urandom(14<<20))\" >\"$w/filler.bin\"\n";
    for (int f = 0; f < 48; ++f) {
        script += fmt::format("mmd -i \"$img\" ::/folder{:02}\n", f);
        script += fmt::format("mcopy -i \"$img\" \"$w\"/book*.xls ::/folder{:02}/\n", f);
        script += fmt::format("mcopy -i \"$img\" \"$w/filler.bin\" ::/folder{:02}/filler.bin\n", f);
        if (f % 4 == 0) script += fmt::format("mdel -i \"$img\" ::/folder{:02}/book3.xls\n", f);
    }
    std::string scriptPath = work + "/build.sh";
    FILE* file = std::fopen(scriptPath.c_str(), "w");
    if (!file) return false;
    std::fputs(script.c_str(), file);
    std::fclose(file);
    bool ok = Shell("bash '" + scriptPath + "'") == 0;
    fs::remove_all(work);
    return ok;
}

struct Measure {
    double seconds = 0;
    long maxRssKiB = 0;
    int status = -1;
};

// Runs argv with stdout to /dev/null and returns wall time and the child's peak resident size.
Measure Run(const std::vector<std::string>& args) {
    Measure m;
    std::fflush(stdout);  // the child must not inherit unwritten output
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.maxRssKiB = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

// Empties the page cache so that the next run reads from the device; false where that is not allowed.
bool DropPageCache() {
    sync();
    FILE* file = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!file) return false;
    bool ok = std::fputs("1\n", file) >= 0;
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

struct Figures {
    double cat = 0, scan = 0;
    long peakKiB = 0;
};

Figures Compare(const std::string& cli, const std::string& image, int rounds, bool cold) {
    std::vector<double> scans, cats;
    Figures figures;
    for (int r = 0; r < rounds; ++r) {
        if (cold) DropPageCache();
        Measure c = Run({"cat", image});
        if (cold) DropPageCache();
        Measure s = Run({cli, "scan", image});
        if (s.status != 0) fmt::print(stderr, "scan exited with status {}\n", s.status);
        cats.push_back(c.seconds);
        scans.push_back(s.seconds);
        figures.peakKiB = std::max(figures.peakKiB, s.maxRssKiB);
    }
    std::sort(cats.begin(), cats.end());
    std::sort(scans.begin(), scans.end());
    figures.cat = cats[cats.size() / 2];
    figures.scan = scans[scans.size() / 2];
    return figures;
}

void Print(const char* what, const Figures& f, int rounds) {
    fmt::print("{}: cat median {:.3f} s, scan median {:.3f} s over {} rounds; ratio scan/cat {:.2f} (target at most 1.4); "
               "scan peak memory {:.1f} MiB\n",
               what, f.cat, f.scan, rounds, f.scan / f.cat, double(f.peakKiB) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    std::string image = fs::absolute("bench-data/scan-1g.img").string();
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            image = arg;
    }
    if (!fs::exists(image)) {
        fs::create_directories(fs::path(image).parent_path());
        fmt::print(stderr, "building {} ...\n", image);
        if (!BuildImage(image)) {
            fmt::print(stderr, "could not build the image (needs mkfs.fat, mtools, python3-xlwt)\n");
            return 1;
        }
    }
    const std::string cli = TABULON_CLI_PATH;
    fmt::print("image: {} ({:.0f} MiB)\n", image, double(fs::file_size(image)) / 1048576.0);
    Run({"cat", image});  // warm the page cache so both sides read from memory alike
    Print("page cache", Compare(cli, image, rounds, false), rounds);
    if (DropPageCache())
        Print("from the device", Compare(cli, image, rounds, true), rounds);
    else
        fmt::print("from the device: not measured (the page cache cannot be dropped here)\n");
    return 0;
}
