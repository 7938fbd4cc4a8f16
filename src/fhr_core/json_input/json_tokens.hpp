// Strict scanners of the request's tokens: strings, numbers and literals.
// Each starts at the token's first byte; on success it moves `p` one past the
// token, on failure it names the error and the offset k it is reported at
// (k = j + 1 for the offending byte j, k = the text's length at its end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fhr_core/json_input/json_errors.hpp"

namespace fhr_core::json_input {

// JSON white space: space, TAB, LF, CR.
inline std::size_t skip_space(std::string_view text, std::size_t p) {
    while (p < text.size() && (text[p] == ' ' || text[p] == '\n' || text[p] == '\r' || text[p] == '\t')) ++p;
    return p;
}

// A scanner's outcome: SyntaxError::None, or the error and its offset k.
struct ScanError {
    SyntaxError error = SyntaxError::None;
    std::size_t offset = 0;
    explicit operator bool() const { return error != SyntaxError::None; }
};

// A number token classified and converted: an integer when it has neither
// fraction nor exponent and fits (u64, or i64 below zero), else a double.
struct Number {
    enum Kind : std::uint8_t { Unsigned, Signed, Float };
    Kind kind = Unsigned;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double d = 0.0;
};

// The number starting at p ('-' or a digit).
ScanError scan_number(std::string_view text, std::size_t& p, Number& value);

// The string whose opening quote is at p. `value` is its decoded text: a view
// of the input when it has no escape, else of `scratch`.
ScanError scan_string(std::string_view text, std::size_t& p, std::string& scratch, std::string_view& value);

// The literal null, true or false whose first letter is at p.
ScanError scan_literal(std::string_view text, std::size_t& p);

}  // namespace fhr_core::json_input
