#include "workbook/rk_value.h"

#include <bit>
#include <cmath>

namespace tabulon {
namespace {

uint32_t UpperHalf(double value) { return static_cast<uint32_t>(std::bit_cast<uint64_t>(value) >> 32) & ~3u; }

// Truncation to a 32-bit integer, or nothing when the value does not fit one.
std::optional<int64_t> Truncate32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::nullopt;
    return static_cast<int64_t>(value);
}

}  // namespace

double DecodeRk(uint32_t rk) {
    double value;
    if (rk & 2)
        value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    else
        value = std::bit_cast<double>(uint64_t(rk & ~3u) << 32);
    return (rk & 1) ? value / 100 : value;
}

bool RkIsInteger(uint32_t rk) { return (rk & 3) == 2; }

std::optional<uint32_t> IntegerRk(int64_t value) {
    if (value < -(int64_t(1) << 29) || value >= (int64_t(1) << 29)) return std::nullopt;
    return static_cast<uint32_t>(value * 4) | 2u;
}

std::optional<uint32_t> RealRk(double value) {
    // Only values with at most two decimals are tried, as the check on truncated 32-bit
    // integers tells; the chosen form must give the value back exactly.
    auto hundred = Truncate32(value * 100);
    auto tenThousand = Truncate32(value * 10000);
    if (!hundred || !tenThousand || *hundred * 100 != *tenThousand) return std::nullopt;
    auto whole = Truncate32(value);
    uint32_t rk = (whole && *whole * 100 == *hundred) ? UpperHalf(value) : (UpperHalf(value * 100) | 1u);
    if (DecodeRk(rk) != value || std::signbit(DecodeRk(rk)) != std::signbit(value)) return std::nullopt;
    return rk;
}

}  // namespace tabulon
