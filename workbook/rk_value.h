#pragma once
// RK values: a number in 32 bits. Bit 0 set: divide by 100. Bit 1 set: bits 2..31 are a signed
// 30-bit integer; clear: bits 2..31 are the upper 30 bits of an IEEE 754 double.

#include <cstdint>
#include <optional>

namespace tabulon {

double DecodeRk(uint32_t rk);
bool RkIsInteger(uint32_t rk);  // integer form without the divide-by-100 flag
// The integer form of `value` (value x 4 + 2), when it fits 30 bits.
std::optional<uint32_t> IntegerRk(int64_t value);
// The RK form of a real, when one decodes back to exactly `value`: the upper half of the double
// itself, or of the double times 100 with the divide flag.
std::optional<uint32_t> RealRk(double value);

}  // namespace tabulon
