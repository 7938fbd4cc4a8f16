// Strict scanners of the request's tokens: strings, numbers and literals.
// Each starts at the token's first byte p and answers where the token ends,
// or the error and the offset k it is reported at (k = j + 1 for the
// offending byte j, k = the text's length at its end).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fhr_core/json_input/json_errors.hpp"

namespace fhr_core::json_input {

// JSON white space: space, TAB, LF, CR.
inline std::size_t skip_space(std::string_view text, std::size_t p) {
    for (; p < text.size() && static_cast<unsigned char>(text[p]) <= ' '; ++p) {
        if (text[p] != ' ' && text[p] != '\n' && text[p] != '\r' && text[p] != '\t') break;
    }
    return p;
}

// A scanner's outcome: SyntaxError::None and the offset one past the token,
// or the error and its offset k.
struct Scanned {
    SyntaxError error = SyntaxError::None;
    std::size_t offset = 0;
    bool failed() const { return error != SyntaxError::None; }
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
Scanned scan_number(std::string_view text, std::size_t p, Number& value);

// Bytes that end a run of plain string bytes: the quote, the backslash,
// control characters, and 0xED (see scan_string_from).
inline constexpr std::array<bool, 256> kStringStops = [] {
    std::array<bool, 256> stops{};
    for (int c = 0; c < 0x20; ++c) stops[c] = true;
    stops['"'] = stops['\\'] = stops[0xED] = true;
    return stops;
}();

// The first stop byte at or after p, or the text's end. Eight bytes at a time
// (the carry-free tests for a zero byte and for a byte below 0x20: the lowest
// byte they flag is exact).
inline std::size_t skip_plain(std::string_view text, std::size_t p) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    for (std::uint64_t word; p + 8 <= text.size(); p += 8) {
        std::memcpy(&word, text.data() + p, 8);
        const std::uint64_t hits = has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\')) |
                                   has_zero(word ^ (kOnes * 0xED)) | ((word - kOnes * 0x20) & ~word & kHigh);
        if (hits == 0) continue;
        if constexpr (std::endian::native == std::endian::little) return p + std::countr_zero(hits) / 8;
        break;
    }
    while (p < text.size() && !kStringStops[static_cast<unsigned char>(text[p])]) ++p;
    return p;
}

// The string whose opening quote is at `start`, from its first stop byte p on.
Scanned scan_string_from(std::string_view text, std::size_t start, std::size_t p, std::string& scratch,
                         std::string_view& value);

// The string whose opening quote is at p. `value` is its decoded text: a view
// of the input when it has no escape, else of `scratch`.
inline Scanned scan_string(std::string_view text, std::size_t p, std::string& scratch, std::string_view& value) {
    const std::size_t stop = skip_plain(text, p + 1);
    if (stop == text.size() || text[stop] != '"') return scan_string_from(text, p, stop, scratch, value);
    value = std::string_view(text.data() + p + 1, stop - p - 1);
    return {SyntaxError::None, stop + 1};
}

// The literal null, true or false whose first letter is at p.
Scanned scan_literal(std::string_view text, std::size_t p);

}  // namespace fhr_core::json_input
