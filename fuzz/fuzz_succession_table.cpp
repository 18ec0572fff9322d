// Loading a stored record-succession table from arbitrary bytes, then asking it.
#include <cstdint>
#include <span>

#include "fragment/record_succession_table.h"
#include "resources/embedded_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tabulon::RecordSuccessionTable table;
    const tabulon::EmbeddedResource resource {"fuzz", std::span(data, size)};
    if (table.Load(&resource) == tabulon::SuccessionTableError::None) {
        for (const auto& entry : table.Entries()) {
            volatile bool follows = table.MayFollow(entry.type, uint16_t(entry.type + 1));
            volatile uint32_t length = table.LengthOf(entry.type, 7, 4095, 4096);
            (void)follows;
            (void)length;
        }
    }
    return 0;
}
