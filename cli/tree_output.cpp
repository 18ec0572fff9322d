#include "cli/tree_output.h"

#include <fmt/core.h>

#include "app/result_tree.h"
#include "app/scan_settings.h"
#include "app/utf_text.h"
#include "fs/boot_sector_kind.h"
#include "source/sector_reader.h"

namespace tabulon::cli {
namespace {

std::string ChildId(const std::string& parent, size_t index) { return parent + "/" + std::to_string(index); }

void AppendText(std::string& out, const ResultNode& node, const std::string& id, int depth) {
    out.append(size_t(depth) * 2, ' ');
    out += fmt::format("[{}] {}", id, ToUtf8(node.name));
    if (node.IsFile()) {
        out += fmt::format("  {} sectors ({})", node.sectors.size(), ToUtf8(SizeText(node.ByteSize())));
        if (!node.sectors.empty()) out += fmt::format(" at sector {}", node.sectors.front());
    } else {
        out += "/";
    }
    if (node.Has(ResultNodeFlags::Deleted)) out += "  deleted";
    if (!node.creationText.empty()) out += "  created " + ToUtf8(node.creationText);
    if (!node.modificationText.empty()) out += "  modified " + ToUtf8(node.modificationText);
    out += "\n";
}

nlohmann::ordered_json NodeJson(const ResultNode& node, const std::string& id, bool withSectors) {
    nlohmann::ordered_json json;
    json["id"] = id;
    json["name"] = ToUtf8(node.name);
    json["kind"] = node.IsFile() ? "file" : "folder";
    json["deleted"] = node.Has(ResultNodeFlags::Deleted);
    json["flags"] = node.flags;
    json["sectorCount"] = node.sectors.size();
    json["firstSector"] = node.sectors.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(node.sectors.front());
    json["created"] = ToUtf8(node.creationText);
    json["modified"] = ToUtf8(node.modificationText);
    if (withSectors && node.IsFile()) json["sectors"] = node.sectors;
    if (!node.IsFile()) json["children"] = nlohmann::ordered_json::array();
    return json;
}

}  // namespace

std::string TreeText(const ScanContext& context, const SourceFacts& facts) {
    std::string out = fmt::format("source: {} ({} sectors)\n", facts.source, facts.sectorCount);
    if (context.fatFound)
        out += fmt::format("file system: {} volume at sector {}, cluster {} sectors, data from sector {}\n",
                           BootSectorKindName(context.fatKind), context.partitionStart, facts.blockSectors,
                           context.dataStartSector);
    else
        out += "file system: no FAT volume analysed through its directories\n";

    // Pre-order with an explicit stack; ids follow the child indexes.
    auto categories = context.Categories();
    for (size_t c = 0; c < categories.size(); ++c) {
        struct Item {
            const ResultNode* node;
            std::string id;
            int depth;
        };
        std::vector<Item> stack {{categories[c], std::to_string(c), 0}};
        while (!stack.empty()) {
            Item item = std::move(stack.back());
            stack.pop_back();
            if (item.depth == 0)
                out += fmt::format("[{}] {}\n", item.id, ToUtf8(item.node->name));
            else
                AppendText(out, *item.node, item.id, item.depth);
            const auto& children = item.node->children;
            for (size_t i = children.size(); i-- > 0;) stack.push_back({children[i].get(), ChildId(item.id, i), item.depth + 1});
        }
    }
    return out;
}

nlohmann::ordered_json TreeJson(const ScanContext& context, const SourceFacts& facts, bool withSectors) {
    nlohmann::ordered_json document;
    document["source"] = facts.source;
    document["sectorCount"] = facts.sectorCount;
    document["fatFound"] = context.fatFound;
    document["fatKind"] = context.fatFound ? nlohmann::ordered_json(BootSectorKindName(context.fatKind)) : nlohmann::ordered_json(nullptr);
    document["blockSectors"] = facts.blockSectors;
    document["dataStartSector"] = context.dataStartSector;
    document["categories"] = nlohmann::ordered_json::array();
    auto categories = context.Categories();
    for (size_t c = 0; c < categories.size(); ++c) {
        nlohmann::ordered_json category;
        category["id"] = std::to_string(c);
        category["title"] = ToUtf8(categories[c]->name);
        category["children"] = nlohmann::ordered_json::array();
        // Post-order with an explicit stack: a node's JSON joins its parent once its children are done.
        struct Frame {
            const ResultNode* node;
            std::string id;
            nlohmann::ordered_json json;
            size_t next;
        };
        std::vector<Frame> frames;
        frames.push_back({categories[c], std::to_string(c), std::move(category), 0});
        while (true) {
            Frame& frame = frames.back();
            if (frame.next < frame.node->children.size()) {
                size_t index = frame.next++;
                const ResultNode& child = *frame.node->children[index];
                std::string id = ChildId(frame.id, index);
                frames.push_back({&child, id, NodeJson(child, id, withSectors), 0});
                continue;
            }
            if (frames.size() == 1) break;
            nlohmann::ordered_json finished = std::move(frame.json);
            frames.pop_back();
            frames.back().json["children"].push_back(std::move(finished));
        }
        document["categories"].push_back(std::move(frames.back().json));
    }
    return document;
}

SourceFacts CurrentSourceFacts() {
    const ScanContext& context = ScanContext::Global();
    SourceFacts facts;
    facts.source = context.sourceName;
    SectorReader reader;
    if (reader.Open(context.sourceName)) facts.sectorCount = reader.SectorCount();
    facts.blockSectors = ScanSettings::Global().blockSectors;
    return facts;
}

}  // namespace tabulon::cli
