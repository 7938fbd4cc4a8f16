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

// Plain decimals with few digits ("146.25", "-3", "12.") are read exactly: the
// digits form an integer below 2^53 and the power of ten is exact, so one IEEE
// division gives the correctly rounded value. Anything else returns nothing.
std::optional<double> parse_short_decimal(std::string_view s) {
    constexpr std::size_t kMaxDigits = 15;  // 10^15 < 2^53
    static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* p = s.data();
    const char* const end = p + s.size();
    // Digits past the limit wrap the (unsigned) mantissa, which is then unused.
    std::uint64_t mantissa = 0;
    const auto read_digits = [&] {
        const char* const first = p;
        for (unsigned d; p != end && (d = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p) {
            mantissa = mantissa * 10 + d;
        }
        return static_cast<std::size_t>(p - first);
    };
    std::size_t digits = read_digits();
    std::size_t fraction_digits = 0;
    if (p != end && *p == '.') {
        ++p;
        fraction_digits = read_digits();
        digits += fraction_digits;
    }
    if (p != end || digits == 0 || digits > kMaxDigits) return std::nullopt;
    return static_cast<double>(mantissa) / kPowersOfTen[fraction_digits];
}

}  // namespace

std::optional<double> parse_value_cell(std::string_view cell) {
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

}  // namespace fhr_core::csv_input
