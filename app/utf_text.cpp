#include "app/utf_text.h"

#include "common/utf8_text.h"

namespace tabulon {

std::string ToUtf8(std::u16string_view text) { return Utf16ToUtf8(text); }
std::u16string FromUtf8(std::string_view text) { return Utf8ToUtf16(text); }

}  // namespace tabulon
