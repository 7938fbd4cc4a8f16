// Monitor timestamps: the instants and error messages of tests/data/cpp/timestamps.txt.
#include "fhr_core/time/timestamp.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support.hpp"

namespace {

using fhr_core::analysis::testing_support::table;
using fhr_core::analysis::testing_support::unescape;
using fhr_core::time::detail::days_from_civil;
using fhr_core::time::parse_monitor_timestamp;

TEST(Timestamp, InstantsAndErrors) {
    const auto rows = table("timestamps.txt");
    ASSERT_EQ(rows.size(), 73u);
    for (const auto& row : rows) {
        const std::string text = unescape(row[0]), expected = unescape(row[1]);
        const auto result = parse_monitor_timestamp(text);
        const bool is_instant = expected.find_first_not_of("-0123456789") == std::string::npos;
        EXPECT_EQ(result.ok() ? std::to_string(*result) : result.error(), expected) << text;
        EXPECT_EQ(result.ok(), is_instant) << text;
    }
    // A sign is no digit (the parser itself reads one as an offset first).
    EXPECT_EQ(fhr_core::time::detail::parse_millis("-1").error(), "invalid millisecond digit: -1");
}

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
    EXPECT_EQ(days_from_civil(0, 3, 1) - days_from_civil(-far, 3, 1), std::int64_t{far / 400} * per_era);
}

}  // namespace
