#include "workbook/workbook.h"

#include <algorithm>

#include "common/utf8_text.h"

namespace tabulon {
namespace {

constexpr int kDefaultFonts = 4;
constexpr int kDefaultXfs = 21;
constexpr int kDefaultStyles = 6;

bool SameSheetName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = (a[i] >= u'a' && a[i] <= u'z') ? static_cast<char16_t>(a[i] - 32) : a[i];
        char16_t y = (b[i] >= u'a' && b[i] <= u'z') ? static_cast<char16_t>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

Workbook::Workbook() = default;

Workbook::~Workbook() { file_.Close(); }

void Workbook::NewWorkbook(int sheetCount) {
    globals_ = WorkbookGlobals();
    globals_.fonts.resize(kDefaultFonts);
    globals_.xfs.resize(kDefaultXfs);
    globals_.styles.resize(kDefaultStyles);
    BoundSheetRecord first;
    first.name = BiffText::Narrow("Sheet1");
    globals_.boundSheets.push_back(std::move(first));
    sheetRecords_.clear();
    sheetRecords_.push_back(SheetRecordSet::Default(true));
    sheets_.clear();
    sheets_.push_back(std::make_unique<Worksheet>(*this, 0));
    sheets_.front()->LoadFromRecords(sheetRecords_.front(), globals_.sst);
    for (int i = 1; i < sheetCount; ++i) AddNumberedWorksheet(-1);
}

Worksheet* Workbook::AddNumberedWorksheet(int position) {
    for (size_t number = sheets_.size() + 1;; ++number) {
        std::string name = "Sheet" + std::to_string(number);
        if (Worksheet* sheet = AddWorksheet(std::u16string(name.begin(), name.end()), position)) return sheet;
    }
}

Worksheet* Workbook::AddWorksheet(std::u16string_view name, int position) {
    if (name.empty() || name.size() > kMaxSheetNameLength || NameIsTaken(name, -1)) return nullptr;
    size_t at = (position < 0 || static_cast<size_t>(position) >= sheets_.size()) ? sheets_.size() : size_t(position);
    BoundSheetRecord bound;
    bound.name = BiffText::Wide(name);
    globals_.boundSheets.insert(globals_.boundSheets.begin() + at, std::move(bound));
    sheetRecords_.insert(sheetRecords_.begin() + at, SheetRecordSet::Default(false));
    auto sheet = std::make_unique<Worksheet>(*this, static_cast<int>(at));
    sheet->LoadFromRecords(sheetRecords_[at], globals_.sst);
    Worksheet* added = sheet.get();
    sheets_.insert(sheets_.begin() + at, std::move(sheet));
    for (size_t i = at + 1; i < sheets_.size(); ++i) sheets_[i]->index_ = static_cast<int>(i);
    return added;
}

Worksheet* Workbook::WorksheetAt(int index) {
    if (index < 0 || static_cast<size_t>(index) >= sheets_.size()) return nullptr;
    return sheets_[index].get();
}

std::u16string Workbook::SheetName(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= globals_.boundSheets.size()) return {};
    return globals_.boundSheets[index].name.ToWide();
}

bool Workbook::NameIsTaken(std::u16string_view name, int except) const {
    for (size_t i = 0; i < globals_.boundSheets.size(); ++i)
        if (static_cast<int>(i) != except && SameSheetName(globals_.boundSheets[i].name.ToWide(), name)) return true;
    return false;
}

bool Workbook::RenameSheet(int index, std::u16string_view name) {
    if (index < 0 || static_cast<size_t>(index) >= globals_.boundSheets.size()) return false;
    if (name.empty() || name.size() > kMaxSheetNameLength || NameIsTaken(name, index)) return false;
    globals_.boundSheets[index].name = BiffText::Wide(name);
    return true;
}

bool Workbook::SaveAs(std::u16string_view path) { return SaveAs(Utf16ToUtf8(path)); }

}  // namespace tabulon
