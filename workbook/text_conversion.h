#pragma once
// UTF-8 <-> UTF-16 conversion at the workbook library's edges (paths, 8-bit entry names).
// Invalid sequences and lone surrogates become U+FFFD; conversion never fails.

#include <string>
#include <string_view>

namespace tabulon {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tabulon
