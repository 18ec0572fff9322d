#include "preview/preview_export.h"

#include <algorithm>
#include <cctype>

#include "workbook/workbook.h"

namespace tabulon {
namespace {

std::u16string FoldCase(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return folded;
}

bool Contains(const std::vector<std::u16string>& folded, std::u16string_view name) {
    return std::find(folded.begin(), folded.end(), FoldCase(name)) != folded.end();
}

std::u16string NumberedName(const char16_t* prefix, size_t number) {
    std::u16string name(prefix);
    for (char digit : std::to_string(number)) name.push_back(static_cast<char16_t>(digit));
    return name;
}

}  // namespace

std::vector<std::u16string> ExportSheetNames(const PreviewContent& content) {
    size_t count = content.sheets.size();
    std::vector<std::u16string> names(count);
    std::vector<std::u16string> taken;
    // Usable previewed names first, so that a generated name never takes one of them.
    for (size_t i = 0; i < count; ++i) {
        const std::u16string& name = content.sheets[i].name;
        if (name.empty() || name.size() > kMaxSheetNameLength || Contains(taken, name)) continue;
        names[i] = name;
        taken.push_back(FoldCase(name));
    }
    for (size_t i = 0; i < count; ++i) {
        if (!names[i].empty()) continue;
        for (size_t number = i + 1;; ++number) {
            std::u16string candidate = NumberedName(u"Sheet", number);
            if (Contains(taken, candidate)) continue;
            names[i] = candidate;
            taken.push_back(FoldCase(candidate));
            break;
        }
    }
    return names;
}

SavePreviewResult SavePreview(const PreviewContent& content, const std::string& path) {
    int count = static_cast<int>(content.sheets.size());
    bool hasText = std::any_of(content.sheets.begin(), content.sheets.end(), [](const PreviewSheet& sheet) {
        return std::any_of(sheet.cells.begin(), sheet.cells.end(), [](const PreviewCell& cell) { return !cell.text.empty(); });
    });
    if (count < 1 || !hasText) return SavePreviewResult::NothingToSave;

    Workbook book;
    book.NewWorkbook(count);
    if (book.SheetCount() != count) return SavePreviewResult::WriteFailed;
    // The new sheets carry default names that a previewed name may equal (a workbook whose sheets
    // were named Sheet3, Sheet2, Sheet1): every sheet takes a placeholder first, then its name.
    std::vector<std::u16string> names = ExportSheetNames(content);
    std::vector<std::u16string> folded;
    for (const auto& name : names) folded.push_back(FoldCase(name));
    for (int i = 0; i < count; ++i) {
        std::u16string placeholder = NumberedName(u"~", static_cast<size_t>(i));
        while (Contains(folded, placeholder)) placeholder.insert(placeholder.begin(), u'~');
        book.WorksheetAt(i)->Rename(placeholder);
    }
    for (int i = 0; i < count; ++i) {
        Worksheet* sheet = book.WorksheetAt(i);
        if (!sheet->Rename(names[i])) return SavePreviewResult::WriteFailed;
        for (const PreviewCell& cell : content.sheets[i].cells) {
            if (SheetCell* target = sheet->CellAt(cell.row, cell.column)) target->SetText(cell.text);
        }
    }
    return book.SaveAs(path) ? SavePreviewResult::Saved : SavePreviewResult::WriteFailed;
}

std::string WithXlsExtension(const std::string& path) {
    if (path.size() >= 4) {
        std::string tail = path.substr(path.size() - 4);
        std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (tail == ".xls") return path;
    }
    return path + ".xls";
}

}  // namespace tabulon
