// Wording and positions of the request reader's JSON-layer errors: one code
// per syntax-level error with one table of messages, the schema-level
// messages, how found values are described, and the byte offset -> line and
// column arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fhr_core::json_input {

// The prefix of every JSON-layer failure of the request reader.
inline constexpr std::string_view kInvalidRequestPrefix = "invalid analysis request JSON: ";

// The syntax-level errors; message() words each one.
enum class SyntaxError : std::uint8_t {
    None,
    EofValue,
    EofObject,
    EofList,
    EofString,
    ExpectedValue,
    ExpectedIdent,
    ExpectedColon,
    ExpectedCommaOrBracket,
    ExpectedCommaOrBrace,
    KeyMustBeString,
    TrailingCharacters,
    TrailingComma,
    InvalidNumber,
    NumberOutOfRange,
    InvalidEscape,
    ControlCharacter,
    LoneLeadingSurrogate,
    UnexpectedEndOfHexEscape,
};
std::string_view message(SyntaxError error);

// Descriptions of found values, as they appear after "invalid type: ".
inline constexpr std::string_view kFoundNull = "null";
inline constexpr std::string_view kFoundTrue = "boolean `true`";
inline constexpr std::string_view kFoundFalse = "boolean `false`";
inline constexpr std::string_view kFoundSequence = "sequence";
inline constexpr std::string_view kFoundMap = "map";
std::string found_string(std::string_view decoded);  // string "…"
std::string found_unsigned(std::uint64_t value);      // integer `N`
std::string found_signed(std::int64_t value);         // integer `-N`
std::string found_float(double value);                // floating point `F`

// Schema-level messages.
std::string invalid_type(std::string_view found, std::string_view expected);
std::string invalid_value(std::string_view found, std::string_view expected);
std::string invalid_length(std::size_t count, std::string_view record, std::size_t fields);
std::string missing_field(std::string_view name);
std::string duplicate_field(std::string_view name);

// "invalid analysis request JSON: {message} at line {L} column {C}" for byte offset k.
std::string request_json_failure(std::string_view text, std::string_view message, std::size_t offset);

namespace detail {

// "{message} at line {L} column {C}": L is 1 + the line feeds before offset k,
// C the bytes between the last of them and k.
std::string with_position(std::string_view text, std::string_view message, std::size_t offset);

// True for the code points listed in json-error-escapes.txt.
bool is_escaped_code_point(std::uint32_t code_point);

// Appends the decoded UTF-8 string between double quotes, with the escapes
// messages use for quoted strings.
void append_quoted(std::string& out, std::string_view decoded);

// The shortest round-trip layout of a double, as messages show it.
std::string format_float(double value);

}  // namespace detail
}  // namespace fhr_core::json_input
