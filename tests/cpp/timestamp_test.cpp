#include "fhr_core/time/timestamp.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

using fhr_core::time::detail::days_from_civil;
using fhr_core::time::detail::parse_millis;
using fhr_core::time::parse_monitor_timestamp;

constexpr std::int64_t kDay = 86'400'000;
constexpr std::int64_t kHour = 3'600'000;
// 2024-03-10 00:00:00 UTC
constexpr std::int64_t k20240310 = 19'792 * kDay;

struct Instant {
    const char* text;
    std::int64_t expected;
};

class TimestampInstant : public ::testing::TestWithParam<Instant> {};

TEST_P(TimestampInstant, ParsesToExpectedMilliseconds) {
    const auto result = parse_monitor_timestamp(GetParam().text);
    ASSERT_TRUE(result.ok()) << GetParam().text << ": " << result.error();
    EXPECT_EQ(*result, GetParam().expected) << GetParam().text;
}

constexpr std::int64_t k140509 = 14 * kHour + 5 * 60'000 + 9'000;

INSTANTIATE_TEST_SUITE_P(
    Calendar, TimestampInstant,
    ::testing::Values(
        Instant{"1970-01-01 00:00:00", 0}, Instant{"1969-12-31 23:59:59", -1000},
        Instant{"1969-12-31 23:59:59.999", -1}, Instant{"2024-03-10 14:05:09", k20240310 + k140509},
        Instant{"2024-03-10T14:05:09", k20240310 + k140509},
        Instant{"2024-03-10T14:05:09Z", k20240310 + k140509},
        Instant{"  2024-03-10T14:05:09ZZ \t", k20240310 + k140509},
        Instant{"\u00a02024-03-10 14:05:09\u3000", k20240310 + k140509},
        Instant{"2024-03-10T14:05:09+02:00", k20240310 + k140509 - 2 * kHour},
        Instant{"2024-03-10 14:05:09-05:00", k20240310 + k140509 + 5 * kHour},
        Instant{"2024-03-10 14:05:09-05:30", k20240310 + k140509 + 5 * kHour + 30 * 60'000},
        Instant{"2024-03-10 14:05:09+-1:00", k20240310 + k140509 + kHour},
        Instant{"2024-03-10 14:05:09.5", k20240310 + k140509 + 500},
        Instant{"2024-03-10 14:05:09.05", k20240310 + k140509 + 50},
        Instant{"2024-03-10 14:05:09.050", k20240310 + k140509 + 50},
        Instant{"2024-03-10 14:05:09.1239", k20240310 + k140509 + 123},
        Instant{"2024-03-10 14:05:09.345x", k20240310 + k140509 + 345},
        Instant{"2024-03-10 14:05:09.", k20240310 + k140509},
        Instant{"2024-02-29 00:00:00", k20240310 - 10 * kDay},
        Instant{"2024-02-31 00:00:00", k20240310 - 8 * kDay},  // = 2024-03-02
        Instant{"2023-02-29 00:00:00", 19'417 * kDay},         // = 2023-03-01
        Instant{"2023-03-01 00:00:00", 19'417 * kDay},
        Instant{"2000-02-29 12:00:00", 11'016 * kDay + 12 * kHour},
        Instant{"1900-03-01 00:00:00", -25'508 * kDay}, Instant{"+2024-+03-10 14:05:09", k20240310 + k140509},
        Instant{"0002024-003-010 014:005:009", k20240310 + k140509},
        Instant{"2024-03-10-99 14:05:09:77", k20240310 + k140509},  // further pieces ignored
        Instant{"0-01-01 00:00:00", -719'528 * kDay}));

TEST(Timestamp, DaysFromCivilIsExactForEveryThirtyTwoBitYear) {
    // 400 Gregorian years are 146097 days, so the count is linear in eras.
    const std::int64_t per_era = 146'097;
    EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
    EXPECT_EQ(days_from_civil(2000, 3, 1), 11'017);
    EXPECT_EQ(days_from_civil(2400, 3, 1) - days_from_civil(2000, 3, 1), per_era);
    EXPECT_EQ(days_from_civil(-400, 3, 1), days_from_civil(0, 3, 1) - per_era);
    // Far years, where a 32-bit day count would overflow.
    const std::int32_t far = 2'147'483'200;  // a multiple of 400
    EXPECT_EQ(days_from_civil(far, 3, 1) - days_from_civil(0, 3, 1), std::int64_t{far / 400} * per_era);
    const std::int32_t near_min = -2'147'483'200;
    EXPECT_EQ(days_from_civil(0, 3, 1) - days_from_civil(near_min, 3, 1),
              std::int64_t{2'147'483'200 / 400} * per_era);
}

struct Rejected {
    const char* text;
    std::string expected;
};

class TimestampError : public ::testing::TestWithParam<Rejected> {};

TEST_P(TimestampError, ReportsTheFirstFailingCheck) {
    const auto result = parse_monitor_timestamp(GetParam().text);
    ASSERT_FALSE(result.ok()) << GetParam().text << " gave " << *result;
    EXPECT_EQ(result.error(), GetParam().expected);
}

std::string q(const char* message, const char* text) { return std::string(message) + text; }

INSTANTIATE_TEST_SUITE_P(
    Messages, TimestampError,
    ::testing::Values(
        Rejected{"", "timestamp is missing date/time separator: "},
        Rejected{"2024-03-10t14:05:09", q("timestamp is missing date/time separator: ", "2024-03-10t14:05:09")},
        Rejected{"2024-03-10 14:05:09+0200", q("invalid timezone offset in timestamp: ", "2024-03-10 14:05:09+0200")},
        Rejected{"2024-03-10 14:05:09+02", q("invalid timezone offset in timestamp: ", "2024-03-10 14:05:09+02")},
        Rejected{"2024-03-10 14:05:09+x:00", q("invalid timezone offset hour in timestamp: ", "2024-03-10 14:05:09+x:00")},
        Rejected{"2024-03-10 14:05:09+:00", q("invalid timezone offset hour in timestamp: ", "2024-03-10 14:05:09+:00")},
        Rejected{"2024-03-10 14:05:09+02:", q("invalid timezone offset minute in timestamp: ", "2024-03-10 14:05:09+02:")},
        Rejected{"2024-03-10 14:05:09+02:00:00", q("invalid timezone offset minute in timestamp: ", "2024-03-10 14:05:09+02:00:00")},
        Rejected{"2024-03-10 14:05:09+99999999999999999999:00", q("invalid timezone offset hour in timestamp: ", "2024-03-10 14:05:09+99999999999999999999:00")},
        Rejected{"2024-03-10 14:05:09+24:00", q("timezone offset out of range in timestamp: ", "2024-03-10 14:05:09+24:00")},
        Rejected{"2024-03-10 14:05:09+02:60", q("timezone offset out of range in timestamp: ", "2024-03-10 14:05:09+02:60")},
        // The offset is checked before the date.
        Rejected{"x 14:05:09+24:00", q("timezone offset out of range in timestamp: ", "x 14:05:09+24:00")},
        Rejected{"2024/03/10 14:05:09", q("invalid year in timestamp: ", "2024/03/10 14:05:09")},
        Rejected{"\"2024-03-10 14:05:09\"", q("invalid year in timestamp: ", "\"2024-03-10 14:05:09\"")},
        Rejected{"2147483648-01-01 00:00:00", q("invalid year in timestamp: ", "2147483648-01-01 00:00:00")},
        Rejected{"2024 14:05:09", q("timestamp is missing month: ", "2024 14:05:09")},
        Rejected{"2024-03 14:05:09", q("timestamp is missing day: ", "2024-03 14:05:09")},
        Rejected{"2024-3a-10 14:05:09", q("invalid month in timestamp: ", "2024-3a-10 14:05:09")},
        Rejected{"2024--10 14:05:09", q("invalid month in timestamp: ", "2024--10 14:05:09")},
        Rejected{"2024-03-4294967296 14:05:09", q("invalid day in timestamp: ", "2024-03-4294967296 14:05:09")},
        Rejected{"2024-03-10  14:05:09", q("invalid hour in timestamp: ", "2024-03-10  14:05:09")},
        Rejected{"2024-03-10 14", q("timestamp is missing minute: ", "2024-03-10 14")},
        Rejected{"2024-03-10 14:05", q("timestamp is missing seconds: ", "2024-03-10 14:05")},
        Rejected{"2024-03-10 14:05:09z", q("invalid seconds in timestamp: ", "2024-03-10 14:05:09z")},
        Rejected{"2024-03-10 14:05:09 +02:00", q("invalid seconds in timestamp: ", "2024-03-10 14:05:09 +02:00")},
        Rejected{"2024-03-10 14:05:.5", q("invalid seconds in timestamp: ", "2024-03-10 14:05:.5")},
        Rejected{"2024-03-10 14:05:09.3x", "invalid millisecond digit: 3x"},
        Rejected{"2024-03-10 14:05:09.x", "invalid millisecond digit: x"},
        Rejected{"2024-13-01 00:00:00", q("timestamp component out of range: ", "2024-13-01 00:00:00")},
        Rejected{"2024-00-01 00:00:00", q("timestamp component out of range: ", "2024-00-01 00:00:00")},
        Rejected{"2024-01-32 00:00:00", q("timestamp component out of range: ", "2024-01-32 00:00:00")},
        Rejected{"2024-01-01 24:00:00", q("timestamp component out of range: ", "2024-01-01 24:00:00")},
        Rejected{"2024-01-01 00:60:00", q("timestamp component out of range: ", "2024-01-01 00:60:00")},
        Rejected{"2024-01-01 00:00:60", q("timestamp component out of range: ", "2024-01-01 00:00:60")},
        // Millisecond digits are read before the component ranges.
        Rejected{"2024-13-01 00:00:00.x", "invalid millisecond digit: x"},
        // Instants beyond signed 64-bit milliseconds are refused, not wrapped.
        Rejected{"2147483647-12-31 23:59:59", q("timestamp component out of range: ", "2147483647-12-31 23:59:59")},
        Rejected{"-2147483648-01-01 00:00:00", q("invalid year in timestamp: ", "-2147483648-01-01 00:00:00")},
        Rejected{"1970-01-01 00:00:00+-9223372036854775808:00", q("timestamp component out of range: ", "1970-01-01 00:00:00+-9223372036854775808:00")},
        Rejected{"1970-01-01 00:00:00-00:-9223372036854775808", q("timestamp component out of range: ", "1970-01-01 00:00:00-00:-9223372036854775808")}));

TEST(Timestamp, YearsNearTheSixtyFourBitLimit) {
    // About 292 million years either side of 1970 fit; a little beyond does not.
    EXPECT_TRUE(parse_monitor_timestamp("292277026-01-01 00:00:00").ok());
    EXPECT_FALSE(parse_monitor_timestamp("292278994-12-31 00:00:00").ok());
    const auto max = parse_monitor_timestamp("292278994-08-17 07:12:55.807");
    ASSERT_TRUE(max.ok());
    EXPECT_EQ(*max, std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(parse_monitor_timestamp("292278994-08-17 07:12:55.808").ok());
}

TEST(Timestamp, MillisecondsTakeOnlyTheFirstThreeCharacters) {
    const struct {
        const char* fraction;
        std::uint32_t millis;
    } cases[] = {{"", 0}, {"0", 0}, {"5", 500}, {"05", 50}, {"050", 50}, {"999", 999}, {"1239", 123}, {"123x", 123}};
    for (const auto& c : cases) {
        const auto result = parse_millis(c.fraction);
        ASSERT_TRUE(result.ok()) << c.fraction;
        EXPECT_EQ(*result, c.millis) << c.fraction;
    }
    EXPECT_EQ(parse_millis("1x").error(), "invalid millisecond digit: 1x");
    EXPECT_EQ(parse_millis("-1").error(), "invalid millisecond digit: -1");
}

}  // namespace
