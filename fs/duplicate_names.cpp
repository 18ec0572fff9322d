#include "fs/duplicate_names.h"

#include <utility>
#include <vector>

namespace tabulon {
namespace {

// True when `p` should stay chosen against `r`.
bool KeepsAgainst(const FileEntry& p, const FileEntry& r) {
    const bool notOlder = p.modificationDate > r.modificationDate ||
                          (p.modificationDate == r.modificationDate && p.modificationTime >= r.modificationTime);
    const bool deletionOk = r.IsDeleted() || !p.IsDeleted();
    const bool sizeOk = r.size == 0 || p.size != 0;
    return notOlder && deletionOk && sizeOk;
}

void ResolveOneLevel(std::vector<FileEntry>& children) {
    const size_t n = children.size();
    for (size_t i = 0; i < n; ++i) {
        if (children[i].IsDirectory() || !children[i].IsDeleted()) continue;
        const std::u16string_view name = children[i].Name();
        size_t chosen = i;
        for (size_t j = i + 1; j < n && children[j].Name() == name && children[chosen].IsDeleted(); ++j)
            if (!KeepsAgainst(children[chosen], children[j])) chosen = j;
        if (chosen != i) std::swap(children[i], children[chosen]);
    }
}

}  // namespace

void ResolveDuplicateNames(FileEntry& parent) {
    std::vector<FileEntry*> pending {&parent};
    while (!pending.empty()) {
        FileEntry* current = pending.back();
        pending.pop_back();
        ResolveOneLevel(current->children);
        for (auto& child : current->children)
            if (child.IsDirectory() && !child.children.empty()) pending.push_back(&child);
    }
    FixParentLinks(parent);
}

}  // namespace tabulon
