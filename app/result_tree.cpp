#include "app/result_tree.h"

#include <cstdio>
#include <vector>

#include "app/compound_document_size.h"
#include "app/strings.h"
#include "source/sector_reader.h"

namespace tabulon {
namespace {

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

bool IsListed(const ScanContext& context, uint32_t start) { return context.listedStarts.count(start) != 0; }

// A copy of a file entry with its Deleted bit set, which makes the analyser take its clusters as
// consecutive from the start cluster. Files have no children to copy.
FileEntry ConsecutiveClustersCopy(const FileEntry& entry) {
    FileEntry copy;
    copy.flags = entry.flags | FileEntryFlags::Deleted;
    copy.attributes = entry.attributes;
    copy.name = entry.name;
    copy.creationTime = entry.creationTime;
    copy.creationDate = entry.creationDate;
    copy.accessDate = entry.accessDate;
    copy.modificationTime = entry.modificationTime;
    copy.modificationDate = entry.modificationDate;
    copy.sectorBias = entry.sectorBias;
    copy.size = entry.size;
    copy.start = entry.start;
    copy.ownCluster = entry.ownCluster;
    if (entry.runs) copy.runs = std::make_unique<ClusterChain>(*entry.runs);
    copy.foundSector = entry.foundSector;
    copy.confirmedSectorsPerCluster = entry.confirmedSectorsPerCluster;
    copy.parentCluster = entry.parentCluster;
    copy.parent = entry.parent;
    return copy;
}

// Turns the entry's chain into absolute sectors. Sectors at or past the end of the source cannot be
// read, so the list ends before the first of them (a save would stop there anyway); this also keeps a
// chain that a damaged entry makes absurdly long from filling memory.
void AppendSectors(ResultNode& node, VolumeAnalyser& analyser, const FileEntry& entry, const ClusterChain& chain) {
    const uint64_t limit = analyser.TotalSectors() ? analyser.TotalSectors() : (uint64_t(1) << 32);
    const uint64_t partitionStart = analyser.PartitionStart();
    const bool sectorRuns = entry.Has(FileEntryFlags::ContentFound);
    const uint64_t perRunUnit = sectorRuns ? 1 : analyser.SectorsPerCluster();
    for (const ClusterRun& run : chain.Runs()) {
        uint64_t first = partitionStart + (sectorRuns ? run.start : analyser.ClusterToSector(run.start));
        uint64_t count = perRunUnit * run.count;
        for (uint64_t j = 0; j < count; ++j) {
            uint64_t sector = first + j;
            if (sector >= limit || sector > UINT32_MAX) return;
            node.sectors.push_back(static_cast<uint32_t>(sector));
        }
    }
}

void FillFileNode(ResultNode& node, VolumeAnalyser& analyser, const FileEntry& entry) {
    ClusterChain chain;
    if (!analyser.BuildChain(entry, chain, nullptr)) {
        chain.Clear();
        FileEntry consecutive = ConsecutiveClustersCopy(entry);
        if (!analyser.BuildChain(consecutive, chain, nullptr)) chain.Clear();
    }
    AppendSectors(node, analyser, entry, chain);
    node.creationText = FormatEntryTime(entry.creationDate, entry.creationTime);
    node.modificationText = FormatEntryTime(entry.modificationDate, entry.modificationTime);
}

std::u16string TwoDigits(uint32_t value) {
    std::u16string text;
    for (char c : std::to_string(value)) text += char16_t(c);
    if (text.size() != 2) text.insert(text.begin(), u'0');
    return text;
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

bool HasXlsExtension(std::u16string_view name) {
    size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos || dot == 0) return false;
    std::u16string_view extension = name.substr(dot + 1);
    if (extension.size() != 3) return false;
    return LowerAscii(extension[0]) == u'x' && LowerAscii(extension[1]) == u'l' && LowerAscii(extension[2]) == u's';
}

uint32_t AbsoluteStart(const VolumeAnalyser& analyser, const FileEntry& entry) {
    return analyser.PartitionStart() + analyser.ClusterToSector(entry.start);
}

void MarkFolders(const ScanContext& context, const VolumeAnalyser& analyser, FileEntry& directory) {
    // Post-order walk with an explicit stack: a folder is marked once any child leads to an unlisted
    // workbook. Iterative so that no nesting depth found on a disk can exhaust the stack.
    struct Frame {
        FileEntry* folder;
        size_t next;
    };
    std::vector<Frame> stack {{&directory, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.folder->children.size()) {
            FileEntry* done = frame.folder;
            stack.pop_back();
            if (!stack.empty() && done->Has(FileEntryFlags::Marked)) stack.back().folder->flags |= FileEntryFlags::Marked;
            continue;
        }
        FileEntry& child = frame.folder->children[frame.next++];
        if (child.IsDirectory()) {
            stack.push_back({&child, 0});
        } else if (HasXlsExtension(child.Name())) {
            if (context.listedStarts.empty() || !IsListed(context, AbsoluteStart(analyser, child)))
                frame.folder->flags |= FileEntryFlags::Marked;
        }
    }
}

void CopyTree(ScanContext& context, ResultNode& parent, VolumeAnalyser& analyser, FileEntry& directory) {
    struct Frame {
        FileEntry* folder;
        ResultNode* node;
        size_t next;
        std::u16string_view previousFile;  // name of the previous file taken from this folder
        bool hasPrevious;
    };
    std::vector<Frame> stack {{&directory, &parent, 0, {}, false}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.folder->children.size()) {
            stack.pop_back();
            continue;
        }
        FileEntry& child = frame.folder->children[frame.next++];
        if (child.IsDirectory()) {
            if (!child.Has(FileEntryFlags::Marked)) continue;
        } else {
            if (!HasXlsExtension(child.Name())) continue;
            if (frame.hasPrevious && CompareNamesIgnoringCase(child.Name(), frame.previousFile) == 0) continue;
            uint32_t start = AbsoluteStart(analyser, child);
            if (IsListed(context, start)) continue;
            context.listedStarts[start] = 1;
            frame.previousFile = child.Name();
            frame.hasPrevious = true;
        }
        auto node = std::make_unique<ResultNode>();
        node->name = std::u16string(child.Name());
        node->flags = ResultNodeFlags::FromDirectory;
        if (child.Has(FileEntryFlags::OwnDeleted)) node->flags |= ResultNodeFlags::Deleted;
        if (child.IsDirectory()) {
            node->kind = ResultNodeKind::Folder;
            ResultNode& added = frame.node->AddChild(std::move(node));
            stack.push_back({&child, &added, 0, {}, false});  // `frame` is invalid from here on
        } else {
            node->kind = ResultNodeKind::File;
            FillFileNode(*node, analyser, child);
            frame.node->AddChild(std::move(node));
        }
    }
}

void AddOriginalFiles(ScanContext& context, ResultNode& category, SectorReader* reader) {
    const bool canRead = reader && reader->IsOpen();
    for (uint32_t start : context.originalStarts) {
        if (IsListed(context, start)) continue;
        uint64_t count = kContentFoundDefaultSectors;
        if (canRead) {
            uint64_t available = reader->SectorCount() > start ? uint64_t(reader->SectorCount()) - start : 0;
            if (uint32_t sized = CompoundDocumentSectors(*reader, start, available)) count = sized;
        }
        auto node = std::make_unique<ResultNode>(ResultNodeKind::File, u"File " + Ascii(std::to_string(start)) + u".xls");
        node->flags = ResultNodeFlags::Deleted | ResultNodeFlags::ContentFound;
        node->sectors.reserve(count);
        for (uint64_t j = 0; j < count && start + j <= UINT32_MAX; ++j) node->sectors.push_back(uint32_t(start + j));
        category.AddChild(std::move(node));
    }
}

std::u16string FormatEntryTime(uint16_t date, uint32_t time) {
    std::u16string text = Ascii(std::to_string(1980 + (date >> 9)));
    text += u'-';
    text += TwoDigits((date >> 5) & 0x0F);
    text += u'-';
    text += TwoDigits(date & 0x1F);
    text += u' ';
    text += TwoDigits((time >> 12) & 0x1F);
    text += u':';
    text += TwoDigits((time >> 6) & 0x3F);
    text += u':';
    text += TwoDigits(time & 0x3F);
    return text;
}

std::u16string SizeText(uint64_t bytes) {
    const bool megabytes = bytes > 1045504;
    double value = megabytes ? double(bytes) / 1048576.0 : double(bytes) / 1024.0;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%0.2f", value);
    std::string text = buffer;
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return Ascii(text) + (megabytes ? u"M" : u"K");
}

std::u16string InfoText(const ResultNode& node) {
    if (!node.IsFile()) return {};
    std::u16string size = SizeText(node.ByteSize());
    if (!node.creationText.empty()) size += u"  " + std::u16string(LoadString(StringId::CreatedLabel)) + node.creationText;
    if (!node.modificationText.empty())
        size += u"  " + std::u16string(LoadString(StringId::ModifiedLabel)) + node.modificationText;
    return FormatText(LoadString(StringId::FileInfo), {node.name, size});
}

}  // namespace tabulon
