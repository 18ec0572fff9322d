#pragma once
// Putting found folders back together: a found folder whose key (the cluster its "." slot names, or
// the cluster where it was found) is the first cluster of a folder entry inside another found folder
// is that entry's content.

#include <cstdint>
#include <vector>

#include "fs/file_entry.h"

namespace tabulon {

// A found folder's key: its own cluster, or its start when that is 0.
inline uint32_t LostFolderKey(const FileEntry& entry) { return entry.ownCluster != 0 ? entry.ownCluster : entry.start; }

// From the last record to the first: when a directory entry below another remaining record has the
// same key, the record's children are appended to that entry's children (re-sorted, duplicate names
// resolved) and the record is dropped. The remaining records keep their order. Merges that would nest
// folders deeper than `maxDepth` levels are not made (the record stays on its own). Parent links of the
// records' subtrees are fixed; the records' own parent links are left to the caller.
void MergeLostFolders(std::vector<FileEntry>& records, int maxDepth);

}  // namespace tabulon
