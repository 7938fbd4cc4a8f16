#include "fhr_core/json_input/json_tokens.hpp"

#include <charconv>
#include <system_error>

namespace fhr_core::json_input {
namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// AT byte j: k = j + 1.
inline Scanned at(SyntaxError error, std::size_t j) { return {error, j + 1}; }
inline Scanned ends_at(std::size_t end) { return {SyntaxError::None, end}; }
// At end of input: k = len.
inline Scanned at_end(SyntaxError error, std::string_view text) { return {error, text.size()}; }

// The four hex digits of a \u escape at p.
Scanned read_hex4(std::string_view text, std::size_t p, std::uint32_t& code) {
    if (text.size() - p < 4) return at_end(SyntaxError::EofString, text);
    code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int digit = hex_value(text[p + i]);
        if (digit < 0) return at(SyntaxError::InvalidEscape, p + 3);
        code = code * 16 + static_cast<std::uint32_t>(digit);
    }
    return {};
}

void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
        return;
    }
    char bytes[4];
    int length = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    for (int i = length - 1; i > 0; --i) {
        bytes[i] = static_cast<char>(0x80 | (code & 0x3F));
        code >>= 6;
    }
    bytes[0] = static_cast<char>((0xF00u >> length) | code);
    out.append(bytes, static_cast<std::size_t>(length));
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// True when the exact value of the decimal token is at least 1 in magnitude
// (tells overflow from underflow when the conversion is out of range).
bool magnitude_at_least_one(std::string_view text, std::size_t int_start, std::size_t int_end,
                            std::size_t frac_start, std::size_t frac_end, std::int64_t exponent) {
    for (std::size_t i = int_start; i < int_end; ++i) {
        if (text[i] != '0') return static_cast<std::int64_t>(int_end - 1 - i) + exponent >= 0;
    }
    for (std::size_t j = frac_start; j < frac_end; ++j) {
        if (text[j] != '0') return -static_cast<std::int64_t>(j - frac_start + 1) + exponent >= 0;
    }
    return false;
}

}  // namespace

Scanned scan_number(std::string_view text, std::size_t p, Number& value) {
    const std::size_t n = text.size();
    const char* first = text.data() + p;
    const bool negative = text[p] == '-';
    if (negative) ++p;
    if (p == n) return at_end(SyntaxError::EofValue, text);
    if (!is_digit(text[p])) return at(SyntaxError::InvalidNumber, p);
    // The significant digits (leading zeros dropped) as one integer while
    // there are at most 19 of them.
    std::uint64_t mantissa = 0;
    std::size_t digits = 0;
    const auto add_digits = [&] {
        for (; p < n && is_digit(text[p]); ++p) {
            if (++digits <= 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[p] - '0');
        }
    };
    const std::size_t int_start = p;
    if (text[p] == '0') {
        ++p;
        if (p < n && is_digit(text[p])) return at(SyntaxError::InvalidNumber, p);
    } else {
        add_digits();
    }
    const std::size_t int_end = p;
    std::size_t frac_start = p;
    if (p < n && text[p] == '.') {
        ++p;
        if (p == n) return at_end(SyntaxError::EofValue, text);
        if (!is_digit(text[p])) return at(SyntaxError::InvalidNumber, p);
        frac_start = p;
        if (digits == 0) {
            while (p < n && text[p] == '0') ++p;
        }
        add_digits();
    }
    const std::size_t frac_end = p;
    const bool nonzero = digits > 0;
    std::int64_t exponent = 0;
    bool exponent_overflow = false;
    if (p < n && (text[p] == 'e' || text[p] == 'E')) {
        ++p;
        const bool exponent_negative = p < n && text[p] == '-';
        if (p < n && (text[p] == '+' || text[p] == '-')) ++p;
        if (p == n) return at_end(SyntaxError::EofValue, text);
        if (!is_digit(text[p])) return at(SyntaxError::InvalidNumber, p);
        // Past 2147483647 the exponent is out of range when it grows a
        // non-zero value, and makes it zero otherwise.
        for (; p < n && is_digit(text[p]); ++p) {
            if (exponent_overflow) continue;
            exponent = exponent * 10 + (text[p] - '0');
            if (exponent > 2147483647) {
                if (!exponent_negative && nonzero) return at(SyntaxError::NumberOutOfRange, p);
                exponent_overflow = true;
            }
        }
        if (exponent_negative) exponent = -exponent;
    }

    const bool integer_token = p == int_end;
    if (integer_token && digits <= 19) {
        if (!negative) {
            value.kind = Number::Unsigned;
            value.u = mantissa;
            return ends_at(p);
        }
        if (mantissa != 0 && mantissa <= (std::uint64_t{1} << 63)) {
            value.kind = Number::Signed;
            value.i = static_cast<std::int64_t>(0 - mantissa);
            return ends_at(p);
        }
    } else if (integer_token && !negative) {
        if (std::from_chars(text.data() + int_start, text.data() + int_end, value.u).ec == std::errc{}) {
            value.kind = Number::Unsigned;
            return ends_at(p);
        }
    }
    value.kind = Number::Float;
    value.d = negative ? -0.0 : 0.0;
    if (exponent_overflow) return ends_at(p);
    // Both factors exact and one rounding: the correctly rounded value.
    const std::int64_t scale = exponent - static_cast<std::int64_t>(frac_end - frac_start);
    if (digits <= 19 && mantissa <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
        const double exact = static_cast<double>(mantissa);
        const double magnitude = scale < 0 ? exact / kPowersOfTen[-scale] : exact * kPowersOfTen[scale];
        value.d = negative ? -magnitude : magnitude;
        return ends_at(p);
    }
    double parsed = 0.0;
    if (std::from_chars(first, text.data() + p, parsed).ec == std::errc::result_out_of_range) {
        if (magnitude_at_least_one(text, int_start, int_end, frac_start, frac_end, exponent)) {
            return {SyntaxError::NumberOutOfRange, p};
        }
        return ends_at(p);  // underflow: a zero of the token's sign
    }
    value.d = parsed;
    return ends_at(p);
}

// Besides checking and decoding, this finds where the decoded text holds the
// byte 0xED followed by a byte of 0xA0 or more (the UTF-8 form of a surrogate
// code point, which only raw input bytes can produce): such a string is
// refused as a lone surrogate, after its closing quote, unless it has an
// earlier error of its own.
Scanned scan_string_from(std::string_view text, std::size_t start, std::size_t p, std::string& scratch,
                         std::string_view& value) {
    const std::size_t n = text.size();
    std::size_t copied = start + 1;  // raw bytes before this are in scratch (when escaped)
    bool escaped = false;         // scratch holds the decoded text
    bool surrogate_bytes = false;
    bool ed_before_escape = false;  // a raw 0xED right before a backslash
    for (;; p = skip_plain(text, p)) {
        if (p == n) return at_end(SyntaxError::EofString, text);
        const auto c = static_cast<unsigned char>(text[p]);
        if (c == '"') break;
        if (c == 0xED) {
            if (p + 1 < n) {
                const auto next = static_cast<unsigned char>(text[p + 1]);
                surrogate_bytes = surrogate_bytes || next >= 0xA0;
                ed_before_escape = next == '\\';
            }
            ++p;
            continue;
        }
        if (c != '\\') return at(SyntaxError::ControlCharacter, p);
        if (!escaped) scratch.clear();
        escaped = true;
        scratch.append(text, copied, p - copied);
        if (++p == n) return at_end(SyntaxError::EofString, text);
        const char letter = text[p++];
        std::uint32_t code = 0;
        switch (letter) {
            case '"': code = '"'; break;
            case '\\': code = '\\'; break;
            case '/': code = '/'; break;
            case 'b': code = '\b'; break;
            case 'f': code = '\f'; break;
            case 'n': code = '\n'; break;
            case 'r': code = '\r'; break;
            case 't': code = '\t'; break;
            case 'u': {
                if (const Scanned hex = read_hex4(text, p, code); hex.failed()) return hex;
                p += 4;
                if (code >= 0xDC00 && code <= 0xDFFF) return {SyntaxError::LoneLeadingSurrogate, p};
                if (code < 0xD800 || code > 0xDBFF) break;
                if (p == n || (text[p] == '\\' && p + 1 == n)) return at_end(SyntaxError::EofString, text);
                if (text[p] != '\\') return at(SyntaxError::UnexpectedEndOfHexEscape, p);
                if (text[p + 1] != 'u') return at(SyntaxError::UnexpectedEndOfHexEscape, p + 1);
                std::uint32_t low = 0;
                if (const Scanned hex = read_hex4(text, p + 2, low); hex.failed()) return hex;
                p += 6;
                if (low < 0xDC00 || low > 0xDFFF) return {SyntaxError::LoneLeadingSurrogate, p};
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                break;
            }
            default: return at(SyntaxError::InvalidEscape, p - 1);
        }
        surrogate_bytes = surrogate_bytes || (ed_before_escape && code >= 0x80);
        ed_before_escape = false;
        append_utf8(scratch, code);
        copied = p;
    }
    if (escaped) {
        scratch.append(text, copied, p - copied);
        value = scratch;
    } else {
        value = text.substr(start + 1, p - start - 1);
    }
    return {surrogate_bytes ? SyntaxError::LoneLeadingSurrogate : SyntaxError::None, p + 1};
}

Scanned scan_literal(std::string_view text, std::size_t p) {
    const std::string_view word = text[p] == 'n' ? "null" : text[p] == 't' ? "true" : "false";
    for (std::size_t i = 1; i < word.size(); ++i) {
        if (p + i == text.size()) return at_end(SyntaxError::EofValue, text);
        if (text[p + i] != word[i]) return at(SyntaxError::ExpectedIdent, p + i);
    }
    return ends_at(p + word.size());
}

}  // namespace fhr_core::json_input
