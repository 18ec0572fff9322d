#include "fs/lost_folder_merge.h"

#include <algorithm>
#include <unordered_map>

#include "fs/duplicate_names.h"

namespace tabulon {
namespace {

constexpr uint32_t kNone = ~uint32_t(0);

// The records are first taken apart into nodes addressed by index, so that merging moves indexes only
// and every lookup goes through a key index instead of searching all subtrees again and again.
struct Node {
    FileEntry entry;  // children moved out into `kids`
    std::vector<uint32_t> kids;
    uint32_t parent = kNone;
    uint32_t height = 0;  // levels of folders below this node
    bool merged = false;
};

struct Forest {
    std::vector<Node> nodes;
    std::unordered_multimap<uint32_t, uint32_t> directoriesByKey;  // entries below the records only

    uint32_t Add(FileEntry&& entry, uint32_t parent) {
        const uint32_t index = static_cast<uint32_t>(nodes.size());
        std::vector<FileEntry> children = std::move(entry.children);
        entry.children.clear();
        nodes.push_back(Node {std::move(entry), {}, parent, 0, false});
        if (parent != kNone && nodes[index].entry.IsDirectory())
            directoriesByKey.emplace(LostFolderKey(nodes[index].entry), index);
        // Breadth of the nesting is bounded by what the records already hold, which was built with the
        // same depth bound, so this recursion is shallow.
        for (auto& child : children) {
            const uint32_t kid = Add(std::move(child), index);
            nodes[index].kids.push_back(kid);
            nodes[index].height = std::max(nodes[index].height, nodes[kid].height + 1);
        }
        return index;
    }

    uint32_t Root(uint32_t node, uint32_t& depth) const {
        depth = 0;
        while (nodes[node].parent != kNone) {
            node = nodes[node].parent;
            ++depth;
        }
        return node;
    }

    void RaiseHeights(uint32_t node) {
        while (nodes[node].parent != kNone) {
            const uint32_t parent = nodes[node].parent;
            if (nodes[parent].height >= nodes[node].height + 1) break;
            nodes[parent].height = nodes[node].height + 1;
            node = parent;
        }
    }

    // Rebuilds the FileEntry tree of one node, children first.
    FileEntry Build(uint32_t index) {
        Node& node = nodes[index];
        FileEntry entry = std::move(node.entry);
        entry.children.reserve(node.kids.size());
        for (uint32_t kid : node.kids) entry.children.push_back(Build(kid));
        if (node.merged && entry.children.size() > 1) {
            SortChildren(entry);
            ResolveDuplicateNames(entry);
        }
        return entry;
    }
};

}  // namespace

void MergeLostFolders(std::vector<FileEntry>& records, int maxDepth) {
    if (records.size() < 2) return;
    Forest forest;
    forest.nodes.reserve(records.size());
    std::vector<uint32_t> roots;
    roots.reserve(records.size());
    for (auto& record : records) roots.push_back(forest.Add(std::move(record), kNone));
    records.clear();

    std::vector<bool> dropped(roots.size(), false);
    for (size_t r = roots.size(); r-- > 0;) {
        const uint32_t recordNode = roots[r];
        const uint32_t key = LostFolderKey(forest.nodes[recordNode].entry);
        auto [begin, end] = forest.directoriesByKey.equal_range(key);
        uint32_t target = kNone;
        for (auto it = begin; it != end; ++it) {
            uint32_t depth = 0;
            if (forest.Root(it->second, depth) == recordNode) continue;  // inside the record itself
            if (int64_t(depth) + forest.nodes[recordNode].height > maxDepth) continue;
            if (target == kNone || it->second < target) target = it->second;
        }
        if (target == kNone) continue;
        Node& record = forest.nodes[recordNode];
        Node& into = forest.nodes[target];
        for (uint32_t kid : record.kids) {
            forest.nodes[kid].parent = target;
            into.kids.push_back(kid);
        }
        into.height = std::max(into.height, record.height);
        into.merged = true;
        record.kids.clear();
        forest.RaiseHeights(target);
        dropped[r] = true;
    }
    for (size_t r = 0; r < roots.size(); ++r)
        if (!dropped[r]) records.push_back(forest.Build(roots[r]));
    for (auto& record : records) FixParentLinks(record);
}

}  // namespace tabulon
