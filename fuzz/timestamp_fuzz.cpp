// Fuzzes the monitor timestamp parser.
//
// Invariants beyond "no crash":
//  * the answer is deterministic;
//  * a failure is one of the parser's own messages about this very text;
//  * a success survives the normalisations the readers apply: the text trimmed, its trailing "Z"s dropped and every
//    "T" read as a blank parses to the same instant (this is the text the readers store), and so does that text with
//    blanks around it and its first blank written as "T" (which also sends the text down the general path rather than
//    the direct reading of the common layout);
//  * the fraction reader stays within 0..999;
//  * the civil-date day count is consistent from day to day and year to year.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "invariants.hpp"

namespace {

using fhr_core::time::detail::days_from_civil;
using fhr_core::time::detail::parse_millis;
using fhr_core::time::parse_monitor_timestamp;
using fuzz::require;

bool leap(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Day counts for a date built from the first bytes: consecutive days differ by one, and 1 January of consecutive
// years by the length of the year.
void check_civil_days(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return;
    std::int32_t year = 0;
    std::memcpy(&year, data, sizeof year);
    const std::uint32_t month = data[4] % 12 + 1, day = data[5] % 31 + 1;
    if (day < 31) require(days_from_civil(year, month, day + 1) == days_from_civil(year, month, day) + 1);
    if (year < std::numeric_limits<std::int32_t>::max()) {
        require(days_from_civil(year + 1, 1, 1) - days_from_civil(year, 1, 1) == (leap(year) ? 366 : 365));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto first = parse_monitor_timestamp(text);
    const auto again = parse_monitor_timestamp(text);
    require(first.ok() == again.ok());
    if (!first.ok()) {
        require(again.error() == first.error() && fuzz::is_timestamp_message(first.error(), text));
    } else {
        require(*again == *first);
        const std::string stored = fuzz::normalised_timestamp(text);
        const auto reparsed = parse_monitor_timestamp(stored);
        require(reparsed.ok() && *reparsed == *first);

        std::string variant = " " + stored + " ";
        const std::size_t blank = variant.find(' ', 1);
        if (blank != std::string::npos) variant[blank] = 'T';
        const auto general = parse_monitor_timestamp(variant);
        require(general.ok() && *general == *first);
    }

    const auto millis = parse_millis(text);
    require(millis.ok() ? *millis <= 999 : millis.error() == std::string(fuzz::kMillisDigitMessage) + std::string(text));

    check_civil_days(data, size);
    return 0;
}
