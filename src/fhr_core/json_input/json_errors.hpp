// Wording and positions of the request reader's JSON-layer errors: the fixed
// messages, how found values are described,
// and the byte offset -> line/column arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fhr_core::json_input {

// The prefix of every JSON-layer failure of the request reader.
inline constexpr std::string_view kInvalidRequestPrefix = "invalid analysis request JSON: ";

// The fixed syntax-level messages.
namespace msg {
inline constexpr std::string_view kEofValue = "EOF while parsing a value";
inline constexpr std::string_view kEofObject = "EOF while parsing an object";
inline constexpr std::string_view kEofList = "EOF while parsing a list";
inline constexpr std::string_view kEofString = "EOF while parsing a string";
inline constexpr std::string_view kExpectedValue = "expected value";
inline constexpr std::string_view kExpectedIdent = "expected ident";
inline constexpr std::string_view kExpectedColon = "expected `:`";
inline constexpr std::string_view kExpectedCommaOrBracket = "expected `,` or `]`";
inline constexpr std::string_view kExpectedCommaOrBrace = "expected `,` or `}`";
inline constexpr std::string_view kKeyMustBeString = "key must be a string";
inline constexpr std::string_view kTrailingCharacters = "trailing characters";
inline constexpr std::string_view kTrailingComma = "trailing comma";
inline constexpr std::string_view kInvalidNumber = "invalid number";
inline constexpr std::string_view kNumberOutOfRange = "number out of range";
inline constexpr std::string_view kInvalidEscape = "invalid escape";
inline constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view kLoneLeadingSurrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view kUnexpectedEndOfHexEscape = "unexpected end of hex escape";
}  // namespace msg

// A syntax error found by a scanner: a fixed message and the byte offset k it
// is reported at (k = j + 1 for the offending byte j, k = len at end of input).
struct ScanError {
    std::string_view message;
    std::size_t offset = 0;
};

// 1-based line and byte column of offset k.
struct LineColumn {
    std::size_t line = 1;
    std::size_t column = 0;
};
LineColumn line_column(std::string_view text, std::size_t offset);

// "{message} at line {L} column {C}".
std::string with_position(std::string_view text, std::string_view message, std::size_t offset);

// True for the code points listed in json-error-escapes.txt.
bool is_escaped_code_point(std::uint32_t code_point);

// Appends the decoded UTF-8 string between double quotes, with the escapes
// messages use for quoted strings.
void append_quoted(std::string& out, std::string_view decoded);

// The shortest round-trip layout of a double, as messages show it.
std::string format_float(double value);

// Descriptions of found values, as they appear after "invalid type: ".
std::string found_string(std::string_view decoded);  // string "…"
std::string found_unsigned(std::uint64_t value);      // integer `N`
std::string found_signed(std::int64_t value);         // integer `-N`
std::string found_float(double value);                // floating point `F`
inline constexpr std::string_view kFoundNull = "null";
inline constexpr std::string_view kFoundTrue = "boolean `true`";
inline constexpr std::string_view kFoundFalse = "boolean `false`";
inline constexpr std::string_view kFoundSequence = "sequence";
inline constexpr std::string_view kFoundMap = "map";

// Schema-level messages.
std::string invalid_type(std::string_view found, std::string_view expected);
std::string invalid_value(std::string_view found, std::string_view expected);
std::string invalid_length(std::size_t count, std::string_view record, std::size_t fields);
std::string missing_field(std::string_view name);
std::string duplicate_field(std::string_view name);

}  // namespace fhr_core::json_input
