// Checking arbitrary bytes as a JPEG picture, from its first start-of-picture marker on.
#include "fragment/jpeg_scan_check.h"
#include "picture_check_fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr uint8_t kStart[] = {0xFF, 0xD8, 0xFF};
    FuzzPictureCheck<tabulon::JpegScanCheck>(data, size, kStart);
    return 0;
}
