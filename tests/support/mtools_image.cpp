#include "support/mtools_image.h"

#include <filesystem>
#include <fstream>

#include "support/test_environment.h"

namespace tabulon::test {
namespace {

std::string FormatArguments(const MtoolsImage::Format& format) {
    std::string args = "-F " + std::to_string(format.fatBits);
    if (format.sectorsPerCluster > 0) args += " -s " + std::to_string(format.sectorsPerCluster);
    char id[16];
    std::snprintf(id, sizeof id, "%08X", format.volumeId);
    args += " -i " + std::string(id) + " -n " + ShellQuote(format.label);
    return args;
}

std::string Target(const std::string& path) { return ShellQuote("::" + path); }

}  // namespace

bool MtoolsImage::ToolsAvailable() { return HasProgram("mkfs.fat") && HasProgram("mcopy") && HasProgram("mdeltree"); }

bool MtoolsImage::Run(const std::string& command) {
    CommandResult result = RunCommand("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + command);
    lastOutput_ = command + "\n" + result.output;
    return result.exitStatus == 0;
}

bool MtoolsImage::Create(const Format& format) {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    if (!Run("truncate -s " + std::to_string(format.sizeKiB) + "K " + ShellQuote(path_))) return false;
    return Reformat(format);
}

bool MtoolsImage::Reformat(const Format& format) {
    return Run("mkfs.fat " + FormatArguments(format) + " " + ShellQuote(path_) + " >/dev/null");
}

bool MtoolsImage::WriteFile(const std::string& target, const std::vector<uint8_t>& bytes) {
    TempDir temp;
    const std::string local = temp.File("data.bin");
    if (!WriteFileBytes(local, bytes)) return false;
    return CopyIn(local, target);
}

bool MtoolsImage::CopyIn(const std::string& localPath, const std::string& target) {
    return Run("mcopy -o -i " + ShellQuote(path_) + " " + ShellQuote(localPath) + " " + Target(target));
}

bool MtoolsImage::MakeDirectory(const std::string& target) {
    return Run("mmd -i " + ShellQuote(path_) + " " + Target(target));
}

bool MtoolsImage::DeleteFile(const std::string& target) {
    return Run("mdel -i " + ShellQuote(path_) + " " + Target(target));
}

bool MtoolsImage::DeleteTree(const std::string& target) {
    return Run("mdeltree -i " + ShellQuote(path_) + " " + Target(target));
}

std::vector<uint8_t> MtoolsImage::ReadAt(uint64_t offset, size_t count) const {
    std::vector<uint8_t> bytes(count);
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

bool MtoolsImage::Patch(uint64_t offset, const std::vector<uint8_t>& bytes) const {
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) return false;
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

}  // namespace tabulon::test
