#include "preview/preview_number_text.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>

namespace tabulon {
namespace {

std::u16string Widen(const char* text, size_t length) {
    std::u16string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
    return out;
}

}  // namespace

std::u16string PreviewNumberText(double value) {
    if (std::isnan(value)) return u"nan";
    if (std::isinf(value)) return value < 0 ? u"-inf" : u"inf";
    // The largest finite double prints 309 integer digits, a sign, a point and six decimals.
    std::array<char, 400> buffer {};
    int written = std::snprintf(buffer.data(), buffer.size(), "%.6f", value);
    if (written <= 0) return u"";
    size_t length = std::min(static_cast<size_t>(written), buffer.size() - 1);
    if (std::memchr(buffer.data(), '.', length) != nullptr) {
        while (length > 0 && buffer[length - 1] == '0') --length;
        if (length > 0 && buffer[length - 1] == '.') --length;
    }
    return Widen(buffer.data(), length);
}

double RkNumber(uint32_t rk) {
    double value = 0;
    if (rk & 2u) {
        value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
        if (rk & 1u) value /= 100.0;
    } else {
        uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
        if (rk & 1u) value *= 0.01;
    }
    return value;
}

std::u16string RkText(uint32_t rk) {
    if ((rk & 3u) == 2u) {
        std::array<char, 16> buffer {};
        int written = std::snprintf(buffer.data(), buffer.size(), "%d", static_cast<int32_t>(rk) >> 2);
        return Widen(buffer.data(), written > 0 ? static_cast<size_t>(written) : 0);
    }
    return PreviewNumberText(RkNumber(rk));
}

}  // namespace tabulon
