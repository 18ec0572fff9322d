#pragma once
// SheetCell: one cell of a worksheet grid as callers edit it.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tabulon {

enum class CellKind : uint32_t { Empty = 0, Integer = 1, Real = 2, NarrowText = 3, WideText = 4 };

class SheetCell {
public:
    CellKind Kind() const { return static_cast<CellKind>(value_.index()); }
    bool IsEmpty() const { return value_.index() == 0; }
    int32_t IntegerValue() const;
    double RealValue() const;
    // The text of the current kind; empty for other kinds.
    const std::string& NarrowText() const;
    const std::u16string& WideText() const;

    // A non-empty text makes the cell a wide-text cell; an empty one empties the cell.
    void SetText(std::u16string_view text);
    // The same with 8-bit text (written as 8-bit characters, the first 256 code points).
    void SetNarrowText(std::string_view text);
    void SetInteger(int32_t value) { value_ = value; }
    void SetReal(double value) { value_ = value; }
    void Clear() { value_ = std::monostate(); }

private:
    std::variant<std::monostate, int32_t, double, std::string, std::u16string> value_;
};

}  // namespace tabulon
