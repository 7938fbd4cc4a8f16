#include "fhr_core/csv_input/number.hpp"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>

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

}  // namespace

namespace detail {

OptionalValue parse_other_value_cell(std::string_view cell) {
    std::string_view body = cell;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return std::nullopt;
    if (auto value = parse_short_decimal(body)) return negative ? -*value : *value;
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

}  // namespace detail

}  // namespace fhr_core::csv_input
