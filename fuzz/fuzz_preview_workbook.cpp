// The preview reader over arbitrary bytes: the full walk, one record on its own, and naming by content.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "preview/name_from_content.h"
#include "preview/preview_workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exactly sized copy, so that AddressSanitizer reports any read past the end.
    auto bytes = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
    if (size > 0) std::memcpy(bytes.get(), data, size);

    tabulon::PreviewWorkbook workbook;
    workbook.Load(bytes.get(), size);
    // Small inputs rarely reach offset 512: walk them as a stream behind an empty header as well.
    if (size < 4096) {
        std::vector<uint8_t> padded(512 + size);
        if (size > 0) std::memcpy(padded.data() + 512, data, size);
        auto exact = std::make_unique<uint8_t[]>(padded.size());
        std::memcpy(exact.get(), padded.data(), padded.size());
        workbook.Load(exact.get(), padded.size());
    }
    tabulon::PreviewContent content = workbook.Snapshot();
    size_t texts = 0;
    for (const auto& sheet : content.sheets)
        for (const auto& cell : sheet.cells) texts += cell.text.size();
    volatile size_t sink = texts;
    (void)sink;

    tabulon::PreviewWorkbook single;
    single.ReadRecord(bytes.get(), 0, size);

    std::vector<std::u16string> names;
    tabulon::NameFromContent(bytes.get(), size, names);
    return 0;
}
