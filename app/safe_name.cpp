#include "app/safe_name.h"

#include "app/utf_text.h"

namespace tabulon {
namespace {

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::string SafeFileName(std::u16string_view name) {
    std::u16string cleaned(name);
    for (char16_t& c : cleaned)
        if (c == u'/' || c == u'\0') c = u'_';
    if (cleaned.empty()) return "_";
    if (cleaned == u"." || cleaned == u"..") cleaned.insert(cleaned.begin(), u'_');
    std::string utf8 = ToUtf8(cleaned);
    if (utf8.size() <= kMaxSafeNameBytes) return utf8;

    std::string extension;
    size_t dot = utf8.rfind('.');
    if (dot != std::string::npos && dot > 0 && utf8.size() - dot <= 16) extension = utf8.substr(dot);
    std::string stem = CutUtf8(utf8.substr(0, utf8.size() - extension.size()), kMaxSafeNameBytes - extension.size());
    return stem + extension;
}

std::string JoinSafe(const std::string& parent, std::u16string_view name) {
    std::string path = parent;
    if (path.empty() || path.back() != '/') path += '/';
    return path + SafeFileName(name);
}

}  // namespace tabulon
