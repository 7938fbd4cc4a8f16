// Monitor timestamps: the instants and error messages of tests/data/cpp/timestamps.txt (up to the last instant,
// 292 million years on, which pins the day count far beyond 32 bits).
#include "fhr_core/time/timestamp.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support.hpp"

namespace {

using fhr_core::analysis::testing_support::table;
using fhr_core::analysis::testing_support::unescape;
using fhr_core::time::parse_monitor_timestamp;

TEST(Timestamp, InstantsAndErrors) {
    const auto rows = table("timestamps.txt");
    ASSERT_EQ(rows.size(), 73u);
    fhr_core::time::TimestampSequence sequence;  // the rows in order, each twice: the second reuses its minute
    for (const auto& row : rows) {
        const std::string text = unescape(row[0]), expected = unescape(row[1]);
        for (const auto& result : {parse_monitor_timestamp(text), sequence.parse(text), sequence.parse(text)}) {
            EXPECT_EQ(result.ok() ? std::to_string(*result) : result.error(), expected) << text;
        }
    }
    // A sign is no digit (the parser itself reads one as an offset first).
    EXPECT_EQ(fhr_core::time::detail::parse_millis("-1").error(), "invalid millisecond digit: -1");
}

}  // namespace
