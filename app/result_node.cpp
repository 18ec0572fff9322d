#include "app/result_node.h"

namespace tabulon {

ResultNode::~ResultNode() { ClearChildren(); }

ResultNode& ResultNode::AddChild(std::unique_ptr<ResultNode> child) {
    children.push_back(std::move(child));
    return *children.back();
}

void ResultNode::ClearChildren() {
    // Move every descendant into one flat list first; each node then dies with no children left.
    std::vector<std::unique_ptr<ResultNode>> pending = std::move(children);
    children.clear();
    while (!pending.empty()) {
        std::unique_ptr<ResultNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children) pending.push_back(std::move(child));
        node->children.clear();
    }
}

}  // namespace tabulon
