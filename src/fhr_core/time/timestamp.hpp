// Monitor timestamp texts to milliseconds since 1970-01-01T00:00:00Z.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fhr_core/model/result.hpp"

namespace fhr_core::time {

// Parses "YYYY-MM-DD hh:mm:ss[.fff][Z|±hh:mm]" (a "T" may stand for the
// blank). Texts without an offset are UTC. Fails with a message quoting the
// text; also fails when the instant does not fit in signed 64-bit milliseconds.
Result<std::int64_t> parse_monitor_timestamp(std::string_view text);

// Parses the timestamps of consecutive rows: a text in the common layout
// ("YYYY-MM-DD hh:mm:ss...") whose first 17 characters ("YYYY-MM-DD hh:mm:")
// repeat those of the last such text reuses their minute and reads only its
// seconds. Gives exactly what parse_monitor_timestamp gives.
class TimestampSequence {
public:
    static constexpr std::size_t kWholeLength = 19;   // "YYYY-MM-DD hh:mm:ss"
    static constexpr std::size_t kMinuteLength = 17;  // "YYYY-MM-DD hh:mm:"

    Result<std::int64_t> parse(std::string_view text);

private:
    char minute_text_[kMinuteLength] = {};
    std::int64_t minute_ms_ = 0;  // the instant the minute starts
    bool known_ = false;
};

namespace detail {

// An unsigned decimal component ("+" allowed, up to 4294967295).
Result<std::uint32_t> parse_part(std::optional<std::string_view> piece, std::string_view name,
                                 std::string_view text);

// The digits after the decimal point of the seconds: milliseconds 0 to 999.
Result<std::uint32_t> parse_millis(std::string_view fraction);

// Days since 1970-01-01 of a proleptic Gregorian date, exact for every
// 32-bit year (computed in 64-bit arithmetic).
std::int64_t days_from_civil(std::int32_t year, std::uint32_t month, std::uint32_t day);

}  // namespace detail

}  // namespace fhr_core::time
