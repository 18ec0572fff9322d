#include "workbook/sheet_cell.h"

namespace tabulon {
namespace {

const std::string kNoNarrowText;
const std::u16string kNoWideText;

}  // namespace

int32_t SheetCell::IntegerValue() const {
    const auto* value = std::get_if<int32_t>(&value_);
    return value ? *value : 0;
}

double SheetCell::RealValue() const {
    const auto* value = std::get_if<double>(&value_);
    return value ? *value : 0.0;
}

const std::string& SheetCell::NarrowText() const {
    const auto* value = std::get_if<std::string>(&value_);
    return value ? *value : kNoNarrowText;
}

const std::u16string& SheetCell::WideText() const {
    const auto* value = std::get_if<std::u16string>(&value_);
    return value ? *value : kNoWideText;
}

void SheetCell::SetText(std::u16string_view text) {
    if (text.empty())
        Clear();
    else
        value_ = std::u16string(text);
}

void SheetCell::SetNarrowText(std::string_view text) {
    if (text.empty())
        Clear();
    else
        value_ = std::string(text);
}

}  // namespace tabulon
