#pragma once
// The length of a compound document told from its own header: a file found by content has no directory
// entry to give its size, but its header, allocation tables and directory say which sectors it uses.

#include <cstdint>
#include <functional>

namespace tabulon {

class SectorReader;

// Reads the 512-byte sector `relativeSector` of the document (0 = its header) into `buffer`.
using DocumentSectorReader = std::function<bool(uint32_t relativeSector, uint8_t* buffer)>;

// Number of 512-byte sectors the document occupies, counted from its header sector: the header and
// every sector up to the last one that its allocation table marks as used. 0 when the header is not a
// readable, consistent compound-document header, a table sector cannot be read, or the document would
// run past `availableSectors`. The document is taken to be contiguous, as files found by content are.
uint32_t CompoundDocumentSectors(const DocumentSectorReader& read, uint64_t availableSectors);

// The same for a document whose header is at absolute sector `start` of an open reader.
uint32_t CompoundDocumentSectors(SectorReader& reader, uint32_t start, uint64_t availableSectors);

}  // namespace tabulon
