#include "fhr_core/csv_input/number.hpp"

#include <bit>
#include <charconv>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

namespace fhr_core::csv_input {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lower(text[i]) != word[i]) return false;
    }
    return true;
}

// The shape of a decimal number after its sign, as scanned.
struct DecimalShape {
    bool valid = false;
    // Decimal exponent of the first significant digit plus one: the value's
    // magnitude is below 1 when it is zero or negative. Saturated.
    std::int64_t magnitude_exponent = 0;
    bool all_zero = true;
};

constexpr std::int64_t kExponentCap = std::int64_t{1} << 40;  // far beyond any double

std::int64_t saturate(std::int64_t v) {
    return v > kExponentCap ? kExponentCap : (v < -kExponentCap ? -kExponentCap : v);
}

// digits [. digits] [(e|E) [sign] digits], at least one mantissa digit.
DecimalShape scan_decimal(std::string_view s) {
    DecimalShape shape;
    std::size_t i = 0;
    std::size_t digits = 0;
    std::int64_t integer_digits_after_zeros = 0;  // significant digits before the point
    std::int64_t leading_fraction_zeros = 0;      // zeros after the point before a significant digit
    while (i < s.size() && is_digit(s[i])) {
        if (s[i] != '0') shape.all_zero = false;
        if (!shape.all_zero) integer_digits_after_zeros = saturate(integer_digits_after_zeros + 1);
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) {
            if (s[i] != '0') shape.all_zero = false;
            if (shape.all_zero) leading_fraction_zeros = saturate(leading_fraction_zeros + 1);
            ++i;
            ++digits;
        }
    }
    if (digits == 0) return shape;
    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            negative = s[i] == '-';
            ++i;
        }
        const std::size_t first = i;
        while (i < s.size() && is_digit(s[i])) {
            exponent = saturate(exponent * 10 + (s[i] - '0'));
            ++i;
        }
        if (i == first) return shape;
        if (negative) exponent = -exponent;
    }
    if (i != s.size()) return shape;
    shape.valid = true;
    shape.magnitude_exponent = integer_digits_after_zeros > 0
                                   ? saturate(integer_digits_after_zeros + exponent)
                                   : saturate(exponent - leading_fraction_zeros);
    return shape;
}

constexpr std::size_t kMaxShortDigits = 15;  // 10^15 < 2^53
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Cells of one to eight characters, read as one little-endian word without a
// branch per character: digits with at most one point ("84.2", "140.75").
// Anything else returns nothing.
std::optional<double> parse_word_decimal(std::string_view s) {
    if constexpr (std::endian::native != std::endian::little) return std::nullopt;
    const std::size_t n = s.size();
    if (n == 0 || n > 8) return std::nullopt;
    const auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(s[i])}; };
    std::uint64_t w = 0;
    if (n >= 4) {
        // Two overlapping four-byte reads; the shared bytes are equal, so OR keeps them.
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        std::memcpy(&low, s.data(), sizeof low);
        std::memcpy(&high, s.data() + n - 4, sizeof high);
        w = std::uint64_t{low} | (std::uint64_t{high} << (8 * (n - 4)));
    } else {
        w = byte(0) | (byte(n / 2) << (8 * (n / 2))) | (byte(n - 1) << (8 * (n - 1)));
    }
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t used = ~std::uint64_t{0} >> (64 - 8 * n);  // the low n bytes
    // Exact per-byte tests (no carry crosses a byte): the point, and any byte outside '0'..'9'.
    const std::uint64_t x = w ^ (kOnes * '.');
    const std::uint64_t points = ~(((x & kLow7) + kLow7) | x) & kHigh & used;
    const std::uint64_t below = ((w & kLow7) | kHigh) - kOnes * '0';
    const std::uint64_t above = (w & kLow7) + kOnes * (0x7F - '9');
    const std::uint64_t non_digits = (~below | above | w) & kHigh & used;
    if (non_digits != points || (points & (points - 1)) != 0 || (points != 0 && n == 1)) return std::nullopt;
    std::size_t digits = n;
    std::size_t fraction_digits = 0;
    if (points != 0) {
        // Close the gap of the point: the bytes above it move down by one.
        const std::size_t at = static_cast<std::size_t>(std::countr_zero(points)) / 8;
        const std::uint64_t below_point = (std::uint64_t{1} << (8 * at)) - 1;
        w = (w & below_point) | ((w >> 8) & ~below_point);
        digits = n - 1;
        fraction_digits = digits - at;
    }
    // Digit values, the first digit in the lowest byte, padded with leading zeros to eight.
    std::uint64_t v = (w - kOnes * '0') & (~std::uint64_t{0} >> (64 - 8 * digits));
    v <<= 8 * (8 - digits);
    v = (v * 10) + (v >> 8);
    v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
         (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
        32;
    return static_cast<double>(v) / kPowersOfTen[fraction_digits];
}

// Plain decimals with few digits ("146.25", "-3", "12.") are read exactly: the
// digits form an integer below 2^53 and the power of ten is exact, so one IEEE
// division gives the correctly rounded value. Anything else returns nothing.
std::optional<double> parse_short_decimal(std::string_view s) {
    constexpr std::size_t kMaxDigits = kMaxShortDigits;
    if (auto value = parse_word_decimal(s)) return value;
    if (s.size() > kMaxDigits + 1) return std::nullopt;
    // One pass without an early exit: every character is a digit or the
    // point, and the point comes at most once. The mantissa never wraps.
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
    if (stray || points > 1 || digits == 0 || digits > kMaxDigits) return std::nullopt;
    const std::size_t fraction_digits = points == 0 ? 0 : s.size() - 1 - point_at;
    return static_cast<double>(mantissa) / kPowersOfTen[fraction_digits];
}

}  // namespace

namespace {

// Every cell that is not a short decimal: infinities, NaN, long mantissas and
// exponents. Kept out of line so that the short path returns in registers.
[[gnu::noinline]] OptionalValue parse_other_number(std::string_view body, bool negative) {
    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    if (equals_ignoring_case(body, "nan")) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return negative ? -nan : nan;
    }
    const DecimalShape shape = scan_decimal(body);
    if (!shape.valid) return std::nullopt;

    double value = 0.0;
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value,
                                           std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Beyond the double range: overflow becomes infinite, underflow zero.
        value = (!shape.all_zero && shape.magnitude_exponent > 0)
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    } else if (ec != std::errc() || end != body.data() + body.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace

OptionalValue parse_value_cell(std::string_view cell) {
    std::string_view body = cell;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return std::nullopt;
    if (auto value = parse_short_decimal(body)) return negative ? -*value : *value;
    return parse_other_number(body, negative);
}

}  // namespace fhr_core::csv_input
