#include "fhr_core/json_input/json_scan.hpp"

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

// "AT byte j": k = j + 1.
inline ScanError at(std::string_view message, std::size_t j) { return ScanError{message, j + 1}; }
// At end of input: k = len.
inline ScanError at_end(std::string_view message, std::string_view text) {
    return ScanError{message, text.size()};
}

// Reads the four bytes after `\u` at p. Returns the code point, or sets error.
std::optional<std::uint32_t> read_hex4(std::string_view text, std::size_t p,
                                       std::optional<ScanError>& error) {
    if (text.size() - p < 4) {
        error = at_end(msg::kEofString, text);
        return std::nullopt;
    }
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int digit = hex_value(text[p + i]);
        if (digit < 0) {
            error = at(msg::kInvalidEscape, p + 3);
            return std::nullopt;
        }
        code = code * 16 + static_cast<std::uint32_t>(digit);
    }
    return code;
}

// True when the exact value of the decimal token is at least 1 in magnitude
// (used to tell overflow from underflow when the conversion is out of range).
bool magnitude_at_least_one(std::string_view text, std::size_t int_start, std::size_t int_end,
                            std::size_t frac_start, std::size_t frac_end, std::int64_t exponent) {
    for (std::size_t i = int_start; i < int_end; ++i) {
        if (text[i] != '0') {
            const auto lead = static_cast<std::int64_t>(int_end - 1 - i) + exponent;
            return lead >= 0;
        }
    }
    for (std::size_t j = frac_start; j < frac_end; ++j) {
        if (text[j] != '0') {
            const auto lead = -static_cast<std::int64_t>(j - frac_start + 1) + exponent;
            return lead >= 0;
        }
    }
    return false;
}

std::optional<ScanError> value_token(std::string_view text, std::size_t p, ResumeResult& result) {
    std::size_t end = 0;
    switch (text[p]) {
        case 'n':
        case 't':
        case 'f':
            return scan_literal(text, p, end);
        case '"':
            return scan_string(text, p, end);
        case '[':
        case '{':
            return std::nullopt;
        default:
            break;
    }
    if (text[p] == '-' || is_digit(text[p])) {
        auto error = scan_number(text, p, end, result.number);
        if (!error) {
            result.kind = ResumeResult::Number;
            result.start = p;
            result.end = end;
        }
        return error;
    }
    return at(msg::kExpectedValue, p);
}

ResumeResult from_error(std::optional<ScanError> error, ResumeResult result) {
    if (error) {
        result.kind = ResumeResult::Error;
        result.error = *error;
    }
    return result;
}

}  // namespace

std::optional<ScanError> scan_number(std::string_view text, std::size_t p, std::size_t& end,
                                     NumberValue& value) {
    const std::size_t n = text.size();
    const std::size_t start = p;
    bool negative = false;
    if (text[p] == '-') {
        negative = true;
        ++p;
    }
    if (p == n) return at_end(msg::kEofValue, text);
    if (!is_digit(text[p])) return at(msg::kInvalidNumber, p);
    const std::size_t int_start = p;
    bool nonzero = false;
    if (text[p] == '0') {
        ++p;
        if (p < n && is_digit(text[p])) return at(msg::kInvalidNumber, p);
    } else {
        nonzero = true;
        while (p < n && is_digit(text[p])) ++p;
    }
    const std::size_t int_end = p;
    bool is_float = false;
    std::size_t frac_start = p;
    std::size_t frac_end = p;
    if (p < n && text[p] == '.') {
        is_float = true;
        ++p;
        if (p == n) return at_end(msg::kEofValue, text);
        if (!is_digit(text[p])) return at(msg::kInvalidNumber, p);
        frac_start = p;
        while (p < n && is_digit(text[p])) {
            if (text[p] != '0') nonzero = true;
            ++p;
        }
        frac_end = p;
    }
    std::int64_t exponent = 0;
    bool exponent_overflow = false;
    if (p < n && (text[p] == 'e' || text[p] == 'E')) {
        is_float = true;
        ++p;
        bool exponent_negative = false;
        if (p < n && (text[p] == '+' || text[p] == '-')) {
            exponent_negative = text[p] == '-';
            ++p;
        }
        if (p == n) return at_end(msg::kEofValue, text);
        if (!is_digit(text[p])) return at(msg::kInvalidNumber, p);
        while (p < n && is_digit(text[p])) {
            if (!exponent_overflow) {
                exponent = exponent * 10 + (text[p] - '0');
                if (exponent > 2147483647) {
                    if (!exponent_negative && nonzero) return at(msg::kNumberOutOfRange, p);
                    exponent_overflow = true;
                }
            }
            ++p;
        }
        if (exponent_negative) exponent = -exponent;
    }
    end = p;

    const char* first = text.data() + start;
    if (!is_float) {
        if (!negative) {
            auto result = std::from_chars(text.data() + int_start, text.data() + int_end, value.u);
            if (result.ec == std::errc{}) {
                value.kind = NumberValue::Unsigned;
                return std::nullopt;
            }
        } else {
            auto result = std::from_chars(first, text.data() + int_end, value.i);
            if (result.ec == std::errc{} && value.i != 0) {
                value.kind = NumberValue::Signed;
                return std::nullopt;
            }
        }
    }
    value.kind = NumberValue::Float;
    if (exponent_overflow) {
        value.d = negative ? -0.0 : 0.0;
        return std::nullopt;
    }
    double parsed = 0.0;
    auto result = std::from_chars(first, text.data() + p, parsed);
    if (result.ec == std::errc::result_out_of_range) {
        if (magnitude_at_least_one(text, int_start, int_end, frac_start, frac_end, exponent)) {
            return ScanError{msg::kNumberOutOfRange, p};
        }
        parsed = negative ? -0.0 : 0.0;
    }
    value.d = parsed;
    return std::nullopt;
}

std::optional<ScanError> scan_string(std::string_view text, std::size_t p, std::size_t& end) {
    const std::size_t n = text.size();
    std::optional<ScanError> error;
    ++p;  // opening quote
    for (;;) {
        // Fast path over ordinary bytes.
        while (p < n) {
            const auto c = static_cast<unsigned char>(text[p]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++p;
        }
        if (p == n) return at_end(msg::kEofString, text);
        const char c = text[p];
        if (c == '"') {
            end = p + 1;
            return std::nullopt;
        }
        if (c != '\\') return at(msg::kControlCharacter, p);
        ++p;
        if (p == n) return at_end(msg::kEofString, text);
        switch (text[p]) {
            case '"':
            case '\\':
            case '/':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                ++p;
                continue;
            case 'u':
                break;
            default:
                return at(msg::kInvalidEscape, p);
        }
        ++p;  // 'u'
        const auto code = read_hex4(text, p, error);
        if (!code) return error;
        p += 4;
        if (*code >= 0xDC00 && *code <= 0xDFFF) return ScanError{msg::kLoneLeadingSurrogate, p};
        if (*code >= 0xD800 && *code <= 0xDBFF) {
            if (p == n) return at_end(msg::kEofString, text);
            if (text[p] != '\\') return at(msg::kUnexpectedEndOfHexEscape, p);
            ++p;
            if (p == n) return at_end(msg::kEofString, text);
            if (text[p] != 'u') return at(msg::kUnexpectedEndOfHexEscape, p);
            ++p;
            const auto low = read_hex4(text, p, error);
            if (!low) return error;
            p += 4;
            if (*low < 0xDC00 || *low > 0xDFFF) return ScanError{msg::kLoneLeadingSurrogate, p};
        }
    }
}

std::optional<ScanError> scan_literal(std::string_view text, std::size_t p, std::size_t& end) {
    std::string_view word = text[p] == 'n' ? "null" : text[p] == 't' ? "true" : "false";
    for (std::size_t i = 1; i < word.size(); ++i) {
        const std::size_t q = p + i;
        if (q == text.size()) return at_end(msg::kEofValue, text);
        if (text[q] != word[i]) return at(msg::kExpectedIdent, q);
    }
    end = p + word.size();
    return std::nullopt;
}

ResumeResult resume_step(std::string_view text, std::size_t pos, Container container, Phase phase) {
    const std::size_t n = text.size();
    ResumeResult result;
    std::size_t p = skip_space(text, pos);
    auto eof = [&](std::string_view message) { return from_error(at_end(message, text), result); };
    auto fail = [&](std::string_view message, std::size_t j) { return from_error(at(message, j), result); };
    auto value = [&](std::size_t q) {
        auto error = value_token(text, q, result);
        return from_error(error, result);
    };

    switch (container) {
        case Container::Top:
            if (phase == Phase::AfterValue) {
                return from_error(check_trailing(text, pos), result);
            }
            if (p == n) return eof(msg::kEofValue);
            return value(p);
        case Container::Object:
            switch (phase) {
                case Phase::Open:
                    if (p == n) return eof(msg::kEofObject);
                    if (text[p] == '}') return result;
                    if (text[p] == '"') return value(p);
                    return fail(msg::kKeyMustBeString, p);
                case Phase::AfterKey:
                    if (p == n) return eof(msg::kEofObject);
                    if (text[p] != ':') return fail(msg::kExpectedColon, p);
                    p = skip_space(text, p + 1);
                    if (p == n) return eof(msg::kEofValue);
                    return value(p);
                case Phase::AfterValue:
                    if (p == n) return eof(msg::kEofObject);
                    if (text[p] == '}') return result;
                    if (text[p] != ',') return fail(msg::kExpectedCommaOrBrace, p);
                    p = skip_space(text, p + 1);
                    if (p == n) return eof(msg::kEofValue);
                    if (text[p] == '"') return value(p);
                    if (text[p] == '}') return fail(msg::kTrailingComma, p);
                    return fail(msg::kKeyMustBeString, p);
            }
            break;
        case Container::Array:
            if (phase == Phase::AfterValue) {
                if (p == n) return eof(msg::kEofList);
                if (text[p] == ']') return result;
                if (text[p] != ',') return fail(msg::kExpectedCommaOrBracket, p);
                p = skip_space(text, p + 1);
                if (p == n) return eof(msg::kEofValue);
                if (text[p] == ']') return fail(msg::kTrailingComma, p);
                return value(p);
            }
            if (p == n) return eof(msg::kEofList);
            if (text[p] == ']') return result;
            return value(p);
    }
    return result;
}

std::optional<ScanError> check_record_array_closed(std::string_view text, std::size_t pos) {
    std::size_t p = skip_space(text, pos);
    if (p == text.size()) return at_end(msg::kEofList, text);
    if (text[p] == ']') return std::nullopt;
    if (text[p] == ',') {
        p = skip_space(text, p + 1);
        if (p == text.size()) return at_end(msg::kTrailingCharacters, text);
        if (text[p] == ']') return at(msg::kTrailingComma, p);
    }
    return at(msg::kTrailingCharacters, p);
}

std::optional<ScanError> check_trailing(std::string_view text, std::size_t pos) {
    const std::size_t p = skip_space(text, pos);
    if (p < text.size()) return at(msg::kTrailingCharacters, p);
    return std::nullopt;
}

std::size_t duplicate_field_offset(std::string_view text, std::size_t pos) {
    std::size_t p = skip_space(text, pos);
    if (p < text.size() && text[p] == '}') return p + 1;
    return p;
}

std::size_t next_token_offset(std::string_view text, std::size_t pos) {
    std::size_t p = skip_space(text, pos);
    if (p < text.size() && (text[p] == ',' || text[p] == ':')) p = skip_space(text, p + 1);
    return p;
}

std::string zero_number_tokens(std::string_view text) {
    std::string out(text);
    const std::size_t n = text.size();
    std::size_t p = 0;
    while (p < n) {
        const char c = text[p];
        if (c == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '\\') {
                    p += 2;
                } else if (text[p] == '"') {
                    ++p;
                    break;
                } else {
                    ++p;
                }
            }
            continue;
        }
        if (c == '-' || is_digit(c)) {
            std::size_t end = p;
            NumberValue value;
            const auto error = scan_number(text, p, end, value);
            if (error) {
                // Past the first syntax error nothing matters; keep moving forward.
                const std::size_t resume = error->offset > 0 ? error->offset - 1 : 0;
                p = resume > p ? resume : p + 1;
                continue;
            }
            const std::size_t length = end - p;
            if (length >= 4) {
                std::size_t q = p;
                if (c == '-') out[q++] = '-';
                out[q++] = '0';
                out[q++] = 'e';
                while (q < end) out[q++] = '0';
            }
            p = end;
            continue;
        }
        ++p;
    }
    return out;
}

}  // namespace fhr_core::json_input
