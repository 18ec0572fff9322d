#pragma once
// Texts of numeric cells as the preview shows them.

#include <cstdint>
#include <string>

namespace tabulon {

// The value printed with six decimals, then trailing zeros removed, then a trailing point removed:
// 1.5 -> "1.5", 2.0 -> "2", 1/3 -> "0.333333". Infinities and NaN print as "inf", "-inf", "nan".
std::u16string PreviewNumberText(double value);

// An RK value's number: bit 1 set means a signed 30-bit integer in bits 2-31, else the bits with the
// two low bits cleared are the high half of a double whose low half is zero; bit 0 set divides by 100.
double RkNumber(uint32_t rk);

// An RK value's text: a plain integer prints as its decimal digits, every other value like
// PreviewNumberText.
std::u16string RkText(uint32_t rk);

}  // namespace tabulon
