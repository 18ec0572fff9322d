#pragma once
// The nodes of the result tree: categories, folders and files that a load or a fragment scan found.
// They outlive the analysers and carry everything that preview, saving and fragment scanning need: the
// name, two time texts and the ordered absolute sectors of the file's data.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tabulon {

namespace ResultNodeKind {
constexpr uint16_t Category = 1;
constexpr uint16_t Folder = 2;
constexpr uint16_t File = 3;
}  // namespace ResultNodeKind

namespace ResultNodeFlags {
constexpr uint16_t Deleted = 1u << 0;         // shown as deleted
constexpr uint16_t FragmentResult = 1u << 1;  // made by fragment scanning; cannot be fragment-scanned again
constexpr uint16_t FromDirectory = 1u << 2;   // copied from a directory entry
constexpr uint16_t ContentFound = 1u << 3;    // found by content (original files)
}  // namespace ResultNodeFlags

struct ResultNode {
    uint16_t kind = ResultNodeKind::File;
    uint16_t flags = 0;
    std::u16string name;
    std::u16string creationText;
    std::u16string modificationText;
    std::vector<uint32_t> sectors;  // absolute 512-byte sectors of the file's data, in file order
    std::vector<std::unique_ptr<ResultNode>> children;

    ResultNode() = default;
    ResultNode(uint16_t nodeKind, std::u16string nodeName) : kind(nodeKind), name(std::move(nodeName)) {}
    ResultNode(const ResultNode&) = delete;
    ResultNode& operator=(const ResultNode&) = delete;
    // Children are freed depth-first without recursion, so no tree depth can exhaust the stack.
    ~ResultNode();

    bool IsFile() const { return kind == ResultNodeKind::File; }
    bool Has(uint16_t flag) const { return (flags & flag) != 0; }
    ResultNode& AddChild(std::unique_ptr<ResultNode> child);
    void ClearChildren();
    uint64_t ByteSize() const { return uint64_t(sectors.size()) * 512; }
};

// A top-level entry of the tree: a node of kind 1 titled from the string table.
using ResultCategory = ResultNode;

}  // namespace tabulon
