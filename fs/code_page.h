#pragma once
// Conversion of the 8-bit short names of directory entries to UTF-16, and of UTF-16 text to UTF-8. The code page is process-wide:
// CP936 (GBK) unless changed (a setting, `--codepage`). Conversion never fails: a byte that does not
// convert becomes U+FFFD.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/utf8_text.h"  // Utf16ToUtf8 for callers that print names

namespace tabulon {

constexpr const char* kDefaultShortNameCodePage = "CP936";

// Accepts an iconv name ("CP936", "GBK", "CP1252") or a bare number ("936" means "CP936"). Returns
// false and keeps the current code page when the system does not know the name.
bool SetShortNameCodePage(const std::string& name);
std::string ShortNameCodePage();

// Converts `count` bytes in the current code page.
std::u16string DecodeShortNameBytes(const uint8_t* bytes, size_t count);

}  // namespace tabulon
