// Checking arbitrary bytes as a PNG picture, from its first signature on.
#include "fragment/png_chunk_check.h"
#include "picture_check_fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr uint8_t kStart[] = {0x89, 'P', 'N', 'G'};
    FuzzPictureCheck<tabulon::PngChunkCheck>(data, size, kStart);
    return 0;
}
