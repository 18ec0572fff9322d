#pragma once
// Conversion between the core's UTF-16 text and UTF-8 at the edges (paths, console, JSON). Malformed
// input (a lone surrogate, a broken UTF-8 sequence) becomes U+FFFD; conversion never fails.

#include <string>
#include <string_view>

namespace tabulon {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace tabulon
