#include "fs/file_entry.h"

#include <algorithm>

namespace tabulon {
namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

}  // namespace

int CompareNamesIgnoringCase(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = FoldAscii(a[i]);
        char16_t y = FoldAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int CompareEntries(const FileEntry& a, const FileEntry& b) {
    const bool aDir = a.IsDirectory();
    const bool bDir = b.IsDirectory();
    if (aDir != bDir) return aDir ? -1 : 1;
    int byName = CompareNamesIgnoringCase(a.Name(), b.Name());
    if (byName != 0) return byName;
    if (aDir) return 0;
    const bool aDeleted = a.IsDeleted();
    const bool bDeleted = b.IsDeleted();
    if (aDeleted == bDeleted) return 0;
    return aDeleted ? 1 : -1;
}

std::u16string EntryExtension(const FileEntry& entry) {
    const std::u16string_view name = entry.Name();
    const size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos || dot == 0) return {};
    return std::u16string(name.substr(dot + 1));
}

void FixParentLinks(FileEntry& entry) {
    // Iterative: a crafted volume may nest folders deeper than the stack allows.
    std::vector<FileEntry*> pending {&entry};
    while (!pending.empty()) {
        FileEntry* current = pending.back();
        pending.pop_back();
        for (auto& child : current->children) {
            child.parent = current;
            if (!child.children.empty()) pending.push_back(&child);
        }
    }
}

void SortChildren(FileEntry& entry) {
    std::stable_sort(entry.children.begin(), entry.children.end(),
                     [](const FileEntry& a, const FileEntry& b) { return CompareEntries(a, b) < 0; });
    FixParentLinks(entry);
}

}  // namespace tabulon
