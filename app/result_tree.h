#pragma once
// Filling the result tree from an analyser's FileEntry trees and from the content-found starts, and the
// texts shown for a node. Each file is listed once: the scan context's listedStarts remembers the
// absolute first sector of every file already placed.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/result_node.h"
#include "app/scan_context.h"
#include "fs/file_entry.h"
#include "fs/volume_analyser.h"

namespace tabulon {

class SectorReader;

// Sectors of a file found by content whose size cannot be told from its header (512,000 bytes).
constexpr uint32_t kContentFoundDefaultSectors = 1000;

// The text after the last "." of the name, lower-cased, equals "xls"; a dot that is the name's first
// character does not count.
bool HasXlsExtension(std::u16string_view name);

// The entry's first sector on the source: partition start + first sector of its start cluster.
uint32_t AbsoluteStart(const VolumeAnalyser& analyser, const FileEntry& entry);

// Marks (FileEntryFlags::Marked), in the analyser's own tree, the folders below `directory` that lead to
// workbooks not yet listed, and `directory` itself when it leads to one.
void MarkFolders(const ScanContext& context, const VolumeAnalyser& analyser, FileEntry& directory);

// Appends copies of the worth-showing children of `directory` to `parent`, recursively, and records the
// listed files' starts. Call MarkFolders with the same arguments first.
void CopyTree(ScanContext& context, ResultNode& parent, VolumeAnalyser& analyser, FileEntry& directory);

// One file node per content-found start that no listed file accounts for, named "File %d.xls". With an
// open reader, a file whose compound-document header is readable and consistent is sized from it;
// otherwise it gets kContentFoundDefaultSectors sectors (cut at the end of the source).
void AddOriginalFiles(ScanContext& context, ResultNode& category, SectorReader* reader);

// "2007-03-05 09:41:07" from a FAT date and a time with seconds in bits 0-5, minutes 6-11, hours 12-16.
std::u16string FormatEntryTime(uint16_t date, uint32_t time);

// 1536 bytes give "1.5K", 2048 "2K", 1,045,504 "1021K", 1,046,016 "1M".
std::u16string SizeText(uint64_t bytes);
// The name-and-length text of a file node, with its times when it has them; empty for other nodes.
std::u16string InfoText(const ResultNode& node);

}  // namespace tabulon
