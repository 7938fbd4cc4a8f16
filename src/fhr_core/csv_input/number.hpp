// The number grammar of CSV value cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fhr_core/model/compact.hpp"

namespace fhr_core::csv_input {

namespace detail {

inline constexpr std::size_t kMaxShortDigits = 15;  // 10^15 < 2^53
inline constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Plain decimals with few digits ("146.25", "3", "12.") are read exactly: the
// digits form an integer below 2^53 and the power of ten is exact, so one IEEE
// division gives the correctly rounded value. Anything else returns nothing.
// One pass without an early exit: every character is a digit or the point,
// and the point comes at most once. The mantissa never wraps.
inline OptionalValue parse_short_decimal(std::string_view s) {
    if (s.size() > kMaxShortDigits + 1) return std::nullopt;
    std::uint64_t mantissa = 0;
    std::size_t points = 0;
    std::size_t point_at = 0;
    bool stray = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const unsigned d = unsigned{c} - unsigned{'0'};
        const bool point = c == '.';
        stray |= (d >= 10) & !point;
        points += point ? 1 : 0;
        point_at = point ? i : point_at;
        mantissa = point ? mantissa : mantissa * 10 + d;
    }
    const std::size_t digits = s.size() - points;
    if (stray || points > 1 || digits == 0 || digits > kMaxShortDigits) return std::nullopt;
    const std::size_t fraction_digits = points == 0 ? 0 : s.size() - 1 - point_at;
    return static_cast<double>(mantissa) / kPowersOfTen[fraction_digits];
}

// Every cell that parse_value_cell does not read inline: signs, infinities,
// NaN, long mantissas and exponents.
OptionalValue parse_other_value_cell(std::string_view cell);

}  // namespace detail

// A decimal number ("5", "5.", ".5", "-1.5e3") or inf/infinity/nan in any
// letter case, with an optional sign; correctly rounded. The cell is already
// trimmed. Anything else (hexadecimal, blanks, a lone point) is not a number
// (absent). Inline for the unsigned short decimals nearly every cell holds.
inline OptionalValue parse_value_cell(std::string_view cell) {
    if (auto value = detail::parse_short_decimal(cell)) return value;
    return detail::parse_other_value_cell(cell);
}

}  // namespace fhr_core::csv_input
