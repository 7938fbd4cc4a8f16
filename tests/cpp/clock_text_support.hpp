// Test support: monitor texts for the seconds of a test recording that starts
// at 2024-03-10 10:00:00 UTC.
#pragma once

#include <cstdint>
#include <string>

namespace fhr_core::analysis::testing_support {

// 2024-03-10 10:00:00 UTC in milliseconds since the epoch.
inline constexpr std::int64_t kBaseMs = 1'710'064'800'000;

inline void append_two_digits(std::string& out, std::int64_t value) {
    out.push_back(static_cast<char>('0' + value / 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

// Monitor text of the second `offset` seconds after 2024-03-10 10:00:00.
inline std::string clock_text(std::int64_t offset) {
    const std::int64_t of_day = 10 * 3600 + offset;
    std::string text = "2024-03-10 ";
    append_two_digits(text, of_day / 3600);
    text.push_back(':');
    append_two_digits(text, of_day / 60 % 60);
    text.push_back(':');
    append_two_digits(text, of_day % 60);
    return text;
}

}  // namespace fhr_core::analysis::testing_support
