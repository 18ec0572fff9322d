#pragma once
// Realistic FAT images for tests, made the way users' sticks are: formatted with mkfs.fat and changed
// with mtools (files written, folders made, files and folders deleted, the volume formatted again).
// Every call runs the real tool on the image file; failures are reported, never hidden.

#include <cstdint>
#include <string>
#include <vector>

namespace tabulon::test {

class MtoolsImage {
public:
    struct Format {
        int fatBits = 32;            // 12, 16 or 32
        uint32_t sizeKiB = 65536;    // image size
        int sectorsPerCluster = 0;   // 0: the formatter's choice
        uint32_t volumeId = 0x1234ABCD;
        std::string label = "TABULON";

        static Format Of(int fatBits, uint32_t sizeKiB, int sectorsPerCluster = 0) {
            Format format;
            format.fatBits = fatBits;
            format.sizeKiB = sizeKiB;
            format.sectorsPerCluster = sectorsPerCluster;
            return format;
        }
    };

    // True when mkfs.fat and mtools are installed.
    static bool ToolsAvailable();

    explicit MtoolsImage(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Creates (or truncates) the image file and formats it.
    bool Create(const Format& format);
    // Formats the existing image again without touching its data area (a quick format).
    bool Reformat(const Format& format);

    // `target` is a path on the volume such as "/Reports/budget.xls" (UTF-8; mtools writes long names).
    bool WriteFile(const std::string& target, const std::vector<uint8_t>& bytes);
    bool CopyIn(const std::string& localPath, const std::string& target);
    bool MakeDirectory(const std::string& target);
    bool DeleteFile(const std::string& target);
    bool DeleteTree(const std::string& target);
    // Byte edits for damage the tools cannot make: reading and overwriting bytes in place.
    std::vector<uint8_t> ReadAt(uint64_t offset, size_t count) const;
    bool Patch(uint64_t offset, const std::vector<uint8_t>& bytes) const;

    // The last command's output, for failure messages.
    const std::string& LastOutput() const { return lastOutput_; }

private:
    bool Run(const std::string& command);

    std::string path_;
    std::string lastOutput_;
};

// Deterministic pseudo-random bytes: `seed` picks the sequence.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);

}  // namespace tabulon::test
