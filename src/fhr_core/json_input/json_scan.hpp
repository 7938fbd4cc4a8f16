// Strict token scanners over the raw request bytes (strings, numbers and
// literals, and the values of unknown keys). RapidJSON drives the structure; these decide every message and
// position: each number is re-scanned and converted here, strings are
// re-scanned where RapidJSON's own checks differ, and after a RapidJSON
// syntax error the single step after the last accepted event is re-read here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fhr_core/json_input/json_errors.hpp"

namespace fhr_core::json_input {

// JSON white space: space, TAB, LF, CR.
inline bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline std::size_t skip_space(std::string_view text, std::size_t p) {
    while (p < text.size() && is_json_space(text[p])) ++p;
    return p;
}

// A number token classified and converted.
struct NumberValue {
    enum Kind : std::uint8_t { Unsigned, Signed, Float };
    Kind kind = Unsigned;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double d = 0.0;
};

// Scans the number starting at p ('-' or a digit) and converts it. On
// success sets end (one past the last byte of the token) and value.
std::optional<ScanError> scan_number(std::string_view text, std::size_t p, std::size_t& end,
                                     NumberValue& value);

// Scans the string whose opening quote is at p; on success sets end (one past
// the closing quote). Checks only; decoding is left to RapidJSON.
std::optional<ScanError> scan_string(std::string_view text, std::size_t p, std::size_t& end);

// Scans the literal null/true/false whose first letter is at p.
std::optional<ScanError> scan_literal(std::string_view text, std::size_t p, std::size_t& end);

// Where a re-read resumes: the innermost open container and how far it got.
enum class Container : std::uint8_t { Top, Object, Array };
enum class Phase : std::uint8_t { Open, AfterKey, AfterValue };

// Outcome of re-reading the step after the last accepted event.
struct ResumeResult {
    enum Kind : std::uint8_t { Error, Number, Nothing };
    Kind kind = Nothing;
    ScanError error;
    // Kind Number: a valid number token [start, end) that RapidJSON refused.
    std::size_t start = 0;
    std::size_t end = 0;
    NumberValue number;
};

// Re-reads, by the reader's error rules, from byte `pos` (just after the last
// event the handler accepted) in the given context: white space, at most one
// `,` or `:`, and one token.
ResumeResult resume_step(std::string_view text, std::size_t pos, Container container, Phase phase);

// A record written as an array has all its fields: the bytes after them must
// close it. Returns the error, if any.
std::optional<ScanError> check_record_array_closed(std::string_view text, std::size_t pos);

// After the top-level value: only white space may follow.
std::optional<ScanError> check_trailing(std::string_view text, std::size_t pos);

// The offset of a duplicate-field error for a key ending at `pos`.
std::size_t duplicate_field_offset(std::string_view text, std::size_t pos);

// The offset of the opening quote of the string token that follows `pos`
// (white space, at most one `,` or `:`, white space).
std::size_t next_token_offset(std::string_view text, std::size_t pos);

// A copy of the text in which every number token of 4 or more bytes outside
// strings that scans without error is replaced by a same-length zero
// ("0e00…", "-0e0…"), so that RapidJSON cannot refuse it as too big.
std::string zero_number_tokens(std::string_view text);

}  // namespace fhr_core::json_input
