#include "fs/code_page.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <mutex>

namespace tabulon {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// One converter for the process; iconv descriptors keep state, so every use holds the lock.
struct Converter {
    std::mutex mutex;
    std::string name = kDefaultShortNameCodePage;
    iconv_t handle = reinterpret_cast<iconv_t>(-1);
    bool opened = false;

    ~Converter() {
        if (opened) iconv_close(handle);
    }
};

Converter& TheConverter() {
    static Converter converter;
    return converter;
}

iconv_t OpenToUtf16(const std::string& name) { return iconv_open("UTF-16LE", name.c_str()); }

std::string NormalisedName(const std::string& name) {
    bool digits = !name.empty();
    for (char c : name) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    return digits ? "CP" + name : name;
}

}  // namespace

bool SetShortNameCodePage(const std::string& name) {
    std::string normalised = NormalisedName(name);
    if (normalised.empty()) return false;
    iconv_t handle = OpenToUtf16(normalised);
    if (handle == reinterpret_cast<iconv_t>(-1)) return false;
    Converter& converter = TheConverter();
    std::lock_guard lock(converter.mutex);
    if (converter.opened) iconv_close(converter.handle);
    converter.handle = handle;
    converter.opened = true;
    converter.name = normalised;
    return true;
}

std::string ShortNameCodePage() {
    Converter& converter = TheConverter();
    std::lock_guard lock(converter.mutex);
    return converter.name;
}

std::u16string DecodeShortNameBytes(const uint8_t* bytes, size_t count) {
    std::u16string out;
    bool ascii = true;
    for (size_t i = 0; i < count; ++i) ascii = ascii && bytes[i] < 0x80;
    if (ascii) {
        // Most names are plain ASCII, which every supported code page maps to itself.
        out.reserve(count);
        for (size_t i = 0; i < count; ++i) out.push_back(bytes[i]);
        return out;
    }

    Converter& converter = TheConverter();
    std::lock_guard lock(converter.mutex);
    if (!converter.opened) {
        converter.handle = OpenToUtf16(converter.name);
        converter.opened = converter.handle != reinterpret_cast<iconv_t>(-1);
    }
    if (!converter.opened) {
        for (size_t i = 0; i < count; ++i) out.push_back(bytes[i] < 0x80 ? bytes[i] : kReplacement);
        return out;
    }
    iconv(converter.handle, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    size_t inLeft = count;
    char unitsBuffer[256];
    while (inLeft > 0) {
        char* outPtr = unitsBuffer;
        size_t outLeft = sizeof unitsBuffer;
        size_t result = iconv(converter.handle, &in, &inLeft, &outPtr, &outLeft);
        const size_t produced = sizeof unitsBuffer - outLeft;
        for (size_t i = 0; i + 1 < produced; i += 2)
            out.push_back(static_cast<char16_t>(static_cast<uint8_t>(unitsBuffer[i]) |
                                                (static_cast<uint8_t>(unitsBuffer[i + 1]) << 8)));
        if (result == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // An invalid or incomplete sequence: one byte becomes the replacement character.
            out.push_back(kReplacement);
            ++in;
            --inLeft;
            iconv(converter.handle, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

}  // namespace tabulon
