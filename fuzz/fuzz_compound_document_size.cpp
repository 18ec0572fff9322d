// Sizing a document found by content from its compound-document header, over arbitrary bytes. The
// last input byte chooses how much space the source claims to have from the header on, so that whole
// workbooks serve as seeds.
#include <cstdint>
#include <cstring>

#include "app/compound_document_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t last = data[size - 1];
    const uint32_t sectors = uint32_t((size + 511) / 512);
    const uint32_t claimed = (last & 1) ? sectors / 2 : sectors + uint32_t(last) * 64;
    tabulon::DocumentSectorReader read = [data, size](uint32_t sector, uint8_t* buffer) {
        uint64_t offset = uint64_t(sector) * 512;
        if (offset >= size) return false;
        size_t n = size - offset < 512 ? size_t(size - offset) : 512;
        std::memset(buffer, 0, 512);
        std::memcpy(buffer, data + offset, n);
        return true;
    };
    uint32_t sized = tabulon::CompoundDocumentSectors(read, claimed);
    if (sized > claimed) __builtin_trap();
    return 0;
}
