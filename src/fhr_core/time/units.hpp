// Units of time. Instants and lengths of time are whole milliseconds; these
// are the only conversions between milliseconds, seconds, minutes and days.
#pragma once

#include <cstdint>

namespace fhr_core::time {

inline constexpr std::int64_t kMillisPerSecond = 1'000;
inline constexpr std::int64_t kSecondsPerMinute = 60;
inline constexpr std::int64_t kMinutesPerHour = 60;
inline constexpr std::int64_t kHoursPerDay = 24;

inline constexpr std::int64_t kMillisPerMinute = kMillisPerSecond * kSecondsPerMinute;
inline constexpr std::int64_t kSecondsPerHour = kSecondsPerMinute * kMinutesPerHour;
inline constexpr std::int64_t kSecondsPerDay = kSecondsPerHour * kHoursPerDay;

// A number of whole minutes or seconds as a length in milliseconds.
constexpr std::uint64_t minutes_ms(std::uint64_t minutes) {
    return minutes * static_cast<std::uint64_t>(kMillisPerMinute);
}
constexpr std::uint64_t seconds_ms(std::uint64_t seconds) {
    return seconds * static_cast<std::uint64_t>(kMillisPerSecond);
}

// A length in milliseconds as seconds: the one conversion behind every
// duration the report prints.
constexpr double seconds_from_ms(std::uint64_t ms) {
    return static_cast<double>(ms) / static_cast<double>(kMillisPerSecond);
}

}  // namespace fhr_core::time
