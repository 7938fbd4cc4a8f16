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

LineColumn line_column(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    LineColumn position;
    std::size_t line_start = 0;
    const char* data = text.data();
    const char* cursor = data;
    const char* const stop = data + offset;
    while (cursor < stop) {
        const void* found = std::memchr(cursor, '\n', static_cast<std::size_t>(stop - cursor));
        if (found == nullptr) break;
        const char* newline = static_cast<const char*>(found);
        ++position.line;
        line_start = static_cast<std::size_t>(newline - data) + 1;
        cursor = newline + 1;
    }
    position.column = offset - line_start;
    return position;
}

std::string with_position(std::string_view text, std::string_view message, std::size_t offset) {
    const LineColumn position = line_column(text, offset);
    std::string out;
    out.reserve(message.size() + 40);
    out.append(message);
    out += " at line ";
    append_decimal(out, position.line);
    out += " column ";
    append_decimal(out, position.column);
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

std::string found_string(std::string_view decoded) {
    std::string out = "string ";
    out.reserve(decoded.size() + 10);
    append_quoted(out, decoded);
    return out;
}

namespace {

template <class Integer>
std::string found_integer(Integer value) {
    std::string out = "integer `";
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
    out += '`';
    return out;
}

}  // namespace

std::string found_unsigned(std::uint64_t value) { return found_integer(value); }

std::string found_signed(std::int64_t value) { return found_integer(value); }

std::string found_float(double value) {
    std::string out = "floating point `";
    out += format_float(value);
    out += '`';
    return out;
}

std::string invalid_type(std::string_view found, std::string_view expected) {
    std::string out = "invalid type: ";
    out.append(found);
    out += ", expected ";
    out.append(expected);
    return out;
}

std::string invalid_value(std::string_view found, std::string_view expected) {
    std::string out = "invalid value: ";
    out.append(found);
    out += ", expected ";
    out.append(expected);
    return out;
}

std::string invalid_length(std::size_t count, std::string_view record, std::size_t fields) {
    std::string out = "invalid length ";
    append_decimal(out, count);
    out += ", expected ";
    out.append(record);
    out += " with ";
    append_decimal(out, fields);
    out += " elements";
    return out;
}

std::string missing_field(std::string_view name) {
    std::string out = "missing field `";
    out.append(name);
    out += '`';
    return out;
}

std::string duplicate_field(std::string_view name) {
    std::string out = "duplicate field `";
    out.append(name);
    out += '`';
    return out;
}

}  // namespace fhr_core::json_input
