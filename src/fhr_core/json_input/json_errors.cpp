#include "fhr_core/json_input/json_errors.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <system_error>

namespace fhr_core::json_input {
namespace {

struct CodePointRange {
    std::uint32_t first;
    std::uint32_t last;
};

constexpr CodePointRange kEscapedRanges[] = {
#include "fhr_core/json_input/escape_ranges.inc"
};

constexpr bool ranges_sorted() {
    for (std::size_t i = 0; i < std::size(kEscapedRanges); ++i) {
        if (kEscapedRanges[i].first > kEscapedRanges[i].last) return false;
        if (i > 0 && kEscapedRanges[i - 1].last >= kEscapedRanges[i].first) return false;
    }
    return true;
}
static_assert(ranges_sorted(), "escape ranges must be sorted and disjoint");

constexpr std::string_view kMessages[] = {
    "",
    "EOF while parsing a value",
    "EOF while parsing an object",
    "EOF while parsing a list",
    "EOF while parsing a string",
    "expected value",
    "expected ident",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "key must be a string",
    "trailing characters",
    "trailing comma",
    "invalid number",
    "number out of range",
    "invalid escape",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
};
static_assert(std::size(kMessages) == static_cast<std::size_t>(SyntaxError::UnexpectedEndOfHexEscape) + 1,
              "one message per syntax error");

void append_decimal(std::string& out, std::size_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void append_hex_escape(std::string& out, std::uint32_t code_point) {
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, code_point, 16);
    out += "\\u{";
    out.append(buffer, result.ptr);
    out += '}';
}

}  // namespace

std::string_view message(SyntaxError error) { return kMessages[static_cast<std::size_t>(error)]; }

std::string request_json_failure(std::string_view text, std::string_view message, std::size_t offset) {
    return std::string(kInvalidRequestPrefix) + detail::with_position(text, message, offset);
}

namespace detail {

std::string with_position(std::string_view text, std::string_view message, std::size_t offset) {
    offset = std::min(offset, text.size());
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (const char *cursor = text.data(), *stop = cursor + offset; cursor < stop;) {
        const void* feed = std::memchr(cursor, '\n', static_cast<std::size_t>(stop - cursor));
        if (feed == nullptr) break;
        ++line;
        cursor = static_cast<const char*>(feed) + 1;
        line_start = static_cast<std::size_t>(cursor - text.data());
    }
    std::string out(message);
    out += " at line ";
    append_decimal(out, line);
    out += " column ";
    append_decimal(out, offset - line_start);
    return out;
}

bool is_escaped_code_point(std::uint32_t code_point) {
    const auto* end = std::end(kEscapedRanges);
    // First range whose last code point is >= code_point.
    const auto* it = std::lower_bound(
        std::begin(kEscapedRanges), end, code_point,
        [](const CodePointRange& range, std::uint32_t value) { return range.last < value; });
    return it != end && it->first <= code_point;
}

void append_quoted(std::string& out, std::string_view decoded) {
    out += '"';
    const auto* bytes = reinterpret_cast<const unsigned char*>(decoded.data());
    const std::size_t size = decoded.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        std::size_t length = 1;
        std::uint32_t code_point = lead;
        if (lead >= 0xF0 && i + 3 < size) {
            length = 4;
            code_point = ((lead & 0x07u) << 18) | ((bytes[i + 1] & 0x3Fu) << 12) |
                         ((bytes[i + 2] & 0x3Fu) << 6) | (bytes[i + 3] & 0x3Fu);
        } else if (lead >= 0xE0 && lead < 0xF0 && i + 2 < size) {
            length = 3;
            code_point = ((lead & 0x0Fu) << 12) | ((bytes[i + 1] & 0x3Fu) << 6) | (bytes[i + 2] & 0x3Fu);
        } else if (lead >= 0xC0 && lead < 0xE0 && i + 1 < size) {
            length = 2;
            code_point = ((lead & 0x1Fu) << 6) | (bytes[i + 1] & 0x3Fu);
        }
        switch (code_point) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case 0: out += "\\0"; break;
            default:
                if (is_escaped_code_point(code_point)) {
                    append_hex_escape(out, code_point);
                } else {
                    out.append(decoded.data() + i, length);
                }
                break;
        }
        i += length;
    }
    out += '"';
}

std::string format_float(double value) {
    if (value == 0.0) return std::signbit(value) ? "-0.0" : "0.0";
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));

    std::string out;
    if (!sci.empty() && sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    const std::size_t e_pos = sci.find('e');
    const std::string_view mantissa = sci.substr(0, e_pos);
    int exponent = 0;
    {
        std::string_view exp_text = sci.substr(e_pos + 1);
        if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
        std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    }
    std::string digits;
    for (char c : mantissa) {
        if (c != '.') digits += c;
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    const int n = static_cast<int>(digits.size());

    if (exponent >= -5 && exponent <= 15) {
        if (exponent >= 0) {
            if (n <= exponent + 1) {
                out += digits;
                out.append(static_cast<std::size_t>(exponent + 1 - n), '0');
                out += ".0";
            } else {
                out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
                out += '.';
                out.append(digits, static_cast<std::size_t>(exponent + 1), std::string::npos);
            }
        } else {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        }
    } else {
        out += digits[0];
        if (n > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += 'e';
        out += exponent >= 0 ? '+' : '-';
        append_decimal(out, static_cast<std::size_t>(exponent >= 0 ? exponent : -exponent));
    }
    return out;
}

}  // namespace detail

std::string found_string(std::string_view decoded) {
    std::string out = "string ";
    detail::append_quoted(out, decoded);
    return out;
}

std::string found_unsigned(std::uint64_t value) { return "integer `" + std::to_string(value) + '`'; }

std::string found_signed(std::int64_t value) { return "integer `" + std::to_string(value) + '`'; }

std::string found_float(double value) { return "floating point `" + detail::format_float(value) + '`'; }

std::string invalid_type(std::string_view found, std::string_view expected) {
    return "invalid type: " + std::string(found) + ", expected " + std::string(expected);
}

std::string invalid_value(std::string_view found, std::string_view expected) {
    return "invalid value: " + std::string(found) + ", expected " + std::string(expected);
}

std::string invalid_length(std::size_t count, std::string_view record, std::size_t fields) {
    return "invalid length " + std::to_string(count) + ", expected " + std::string(record) + " with " +
           std::to_string(fields) + " elements";
}

std::string missing_field(std::string_view name) { return "missing field `" + std::string(name) + '`'; }

std::string duplicate_field(std::string_view name) { return "duplicate field `" + std::string(name) + '`'; }

}  // namespace fhr_core::json_input
