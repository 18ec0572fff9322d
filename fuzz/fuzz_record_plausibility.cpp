// Record rules and block classification on arbitrary bytes: IsPlausible at every position of the buffer
// and ClassifyBlock from several starts and ends, with the buffer allocated to its exact size so that
// any read beyond it is caught.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fragment/block_classification.h"
#include "fragment/record_plausibility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tabulon;
    // Blocks are at most 64 KiB (128 sectors); larger inputs only slow the run down.
    size = std::min<size_t>(size, 65536 + 8);
    const std::vector<uint8_t> buffer(data, data + size);
    const auto length = uint32_t(buffer.size());

    for (uint32_t position = 0; position <= length; ++position)
        (void)RecordPlausibility::IsPlausible(buffer.data(), position, length);

    if (length < 4) return 0;
    // Starts and ends chosen by the input's first bytes, plus the whole buffer and one past it.
    const uint32_t pick = uint32_t(buffer[0]) | (uint32_t(buffer[1]) << 8);
    const int32_t starts[] = {0, 4, int32_t(pick % length), int32_t(length - 1), int32_t(length)};
    const int32_t ends[] = {int32_t(length), int32_t(length > 8 ? length - 8 : 1), int32_t(length + 16)};
    for (int32_t start : starts) {
        for (int32_t end : ends) {
            BlockProfile profile;
            LastRecord last;
            if (ClassifyBlock(std::span<const uint8_t>(buffer), start, end, profile, last)) {
                // A pass leaves the last examined header inside the walked range.
                if (last.position < start || last.position >= std::min<int32_t>(end, int32_t(length))) __builtin_trap();
            }
        }
    }
    return 0;
}
