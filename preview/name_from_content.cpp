#include "preview/name_from_content.h"

#include "preview/preview_workbook.h"

namespace tabulon {
namespace {

constexpr size_t kNamePartCharacters = 30;
constexpr size_t kSheetNamesLimit = 60;

}  // namespace

bool NameFromContent(const uint8_t* data, size_t length, std::vector<std::u16string>& names, uint16_t row,
                     uint16_t column) {
    PreviewWorkbook workbook;
    if (!workbook.LoadForNaming(data, length)) return false;
    auto lock = workbook.Lock();
    const PreviewContent& content = workbook.Content();
    bool named = false;
    for (const PreviewSheet& sheet : content.sheets) {
        for (const PreviewCell& cell : sheet.cells) {
            if (cell.row != row || cell.column != column || cell.sharedStringIndex < 0 ||
                static_cast<size_t>(cell.sharedStringIndex) >= content.sharedStrings.size())
                continue;
            const std::u16string& text = content.sharedStrings[static_cast<size_t>(cell.sharedStringIndex)];
            names.push_back(text.substr(0, kNamePartCharacters) + u"__" + sheet.name.substr(0, kNamePartCharacters));
            named = true;
            break;
        }
    }
    if (named) return true;

    std::u16string joined;
    for (const PreviewSheet& sheet : content.sheets) {
        if (joined.size() + sheet.name.size() >= kSheetNamesLimit) break;
        joined += u"__";
        joined += sheet.name;
    }
    size_t first = joined.find_first_not_of(u'_');
    if (first == std::u16string::npos) return false;
    names.push_back(joined.substr(first));
    return true;
}

}  // namespace tabulon
