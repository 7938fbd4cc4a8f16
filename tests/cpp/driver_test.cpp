#include "fhr_core/analysis/driver.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

using namespace fhr_core;
using fhr_core::analysis::analyze_rolling_windows;
using fhr_core::analysis::window_count;

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kMinute = 60 * kSecond;

InputData two_samples(std::int64_t t0, std::int64_t t1) {
    InputData input;
    input.samples.resize(2);
    input.samples[0].timestamp = "first";
    input.samples[0].timestamp_ms = t0;
    input.samples[1].timestamp = "last";
    input.samples[1].timestamp_ms = t1;
    return input;
}

AnalysisConfig rolling(std::uint32_t minutes, std::uint32_t step_seconds) {
    AnalysisConfig config;
    config.window_minutes = minutes;
    config.step_seconds = step_seconds;
    return config;
}

TEST(WindowDriver, ClosedFormCountMatchesTheWindowsProduced) {
    const struct {
        std::int64_t span_ms;
        std::uint32_t minutes;
        std::uint32_t step_seconds;
        std::uint64_t windows;
    } cases[] = {
        {25 * kMinute, 10, 60, 16},
        {25 * kMinute + 30 * kSecond, 10, 60, 17},
        {25 * kMinute, 10, 1200, 2},
        {5 * kMinute, 10, 60, 1},
        {10 * kMinute, 10, 60, 1},
        {10 * kMinute + 1, 10, 60, 2},
        {0, 10, 60, 1},
        {11 * kMinute, 10, 0, 61},  // a step of 0 counts as 1 second
        {11 * kMinute, 10, 1, 61},
        {40 * kMinute, 30, 600, 2},
        {40 * kMinute, 30, 4294967295u, 2},
    };
    for (const auto& c : cases) {
        const InputData input = two_samples(1'000'000, 1'000'000 + c.span_ms);
        const AnalysisConfig config = rolling(c.minutes, c.step_seconds);
        EXPECT_EQ(window_count(input, config), c.windows) << c.span_ms << " " << c.minutes << " " << c.step_seconds;
        EXPECT_EQ(analyze_rolling_windows(input, config).windows.size(), c.windows) << c.span_ms;
    }
}

TEST(WindowDriver, WindowsEndOnTheStepGridAndLastAtTheFinalSample) {
    const InputData input = two_samples(0, 25 * kMinute + 30 * kSecond);
    const AnalysisReport report = analyze_rolling_windows(input, rolling(10, 60));
    ASSERT_EQ(report.windows.size(), 17u);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_DOUBLE_EQ(report.windows[i].duration_seconds, 600.0);
    }
    EXPECT_DOUBLE_EQ(report.windows.back().duration_seconds, 600.0);
    EXPECT_EQ(report.windows.back().window_end, "last");
    EXPECT_EQ(report.windows.front().window_start, "first");
}

TEST(WindowDriver, CountsAreExactAcrossTheWholeSixtyFourBitRange) {
    constexpr std::int64_t lo = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int64_t>::max();
    const InputData input = two_samples(lo, hi);
    // span = 2^64 - 1 ms; W = 600,000 ms; S = 1,000 ms.
    const std::uint64_t span = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t past = span - 600'000;
    EXPECT_EQ(window_count(input, rolling(10, 1)), past / 1000 + 1 + (past % 1000 != 0));
    AnalysisConfig chunk;
    EXPECT_EQ(window_count(input, chunk), 1u);
    const AnalysisReport report = analyze_rolling_windows(input, chunk);
    ASSERT_EQ(report.windows.size(), 1u);
    EXPECT_DOUBLE_EQ(report.windows[0].duration_seconds, 1800.0);
    EXPECT_DOUBLE_EQ(report.input.duration_seconds, 18446744073709551.615);
}

TEST(WindowDriver, NoSamplesNoWindows) {
    const InputData empty;
    for (const AnalysisConfig& config : {AnalysisConfig{}, rolling(10, 60)}) {
        const AnalysisReport report = analyze_rolling_windows(empty, config);
        EXPECT_TRUE(report.windows.empty());
        EXPECT_EQ(report.input.rows, 0u);
        EXPECT_FALSE(report.input.start_timestamp.has_value());
        EXPECT_EQ(window_count(empty, config), 0u);
    }
}

}  // namespace
