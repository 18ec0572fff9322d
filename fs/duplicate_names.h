#pragma once
// Among same-named deleted files of one folder, the newest non-empty one is listed first.

#include "fs/file_entry.h"

namespace tabulon {

// Runs over the sorted children of `parent` and, without recursion, of every directory below it.
// Parent links below `parent` are fixed afterwards.
void ResolveDuplicateNames(FileEntry& parent);

}  // namespace tabulon
