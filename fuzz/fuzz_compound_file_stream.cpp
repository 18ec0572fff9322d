// The compound-document stream reader over arbitrary files.
#include <cstdint>
#include <span>

#include "fragment/compound_file_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tabulon::CompoundStream stream;
    if (tabulon::ReadWorkbookStream(std::span(data, size), stream)) {
        volatile bool contiguous = stream.IsContiguous();
        volatile uint64_t tail = stream.TailBytes(size);
        (void)contiguous;
        (void)tail;
    }
    return 0;
}
