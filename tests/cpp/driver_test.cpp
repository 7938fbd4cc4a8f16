#include "fhr_core/analysis/driver.hpp"

#include "fhr_core/analysis/report_writer.hpp"
#include "fhr_core/analysis/window.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace {

using namespace fhr_core;
using fhr_core::analysis::analyze_last_window;
using fhr_core::analysis::analyze_rolling_windows;

std::uint64_t window_count(const InputData& input, const AnalysisConfig& config) {
    return fhr_core::analysis::WindowPlan(input, config).count();
}

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

TEST(WindowDriver, LastWindowAloneEqualsTheLastWindowOfTheRun) {
    // One sample every 7 s with a changing rate, so that windows differ.
    InputData input;
    for (int i = 0; i <= 400; ++i) {
        MonitorSample& sample = input.samples.emplace_back();
        sample.timestamp = std::to_string(i);
        sample.timestamp_ms = 5'000'000 + i * 7 * kSecond;
        sample.hr1 = 120.0 + (i % 40);
        sample.toco = 10.0 + (i % 25);
    }
    const struct {
        std::size_t samples;
        std::optional<std::uint32_t> minutes;
        std::uint32_t step_seconds;
    } cases[] = {{401, std::nullopt, 60}, {401, 10, 60}, {401, 10, 1200}, {401, 30, 7}, {50, 10, 60},
                 {50, std::nullopt, 60}, {1, 10, 60}};
    for (const auto& c : cases) {
        InputData part;
        part.samples.assign(input.samples.begin(), input.samples.begin() + static_cast<std::ptrdiff_t>(c.samples));
        AnalysisConfig config;
        config.window_minutes = c.minutes;
        config.step_seconds = c.step_seconds;
        AnalysisReport full = analyze_rolling_windows(part, config);
        ASSERT_FALSE(full.windows.empty());
        full.windows.erase(full.windows.begin(), full.windows.end() - 1);
        EXPECT_EQ(fhr_core::analysis::report_as_json(analyze_last_window(part, config)),
                  fhr_core::analysis::report_as_json(full))
            << c.samples << " samples, step " << c.step_seconds;
    }
    EXPECT_TRUE(analyze_last_window(InputData{}, rolling(10, 60)).windows.empty());
}

// Random recordings with gaps, NaN, out-of-range values, out-of-order rows
// and repeated times: every window the driver reports from the recording's
// shared per-second bins equals the window analyzed afresh from its rows.
TEST(WindowDriver, SharedWorkGivesTheFromScratchWindows) {
    std::mt19937_64 random(20261206);
    const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    const auto chance = [&](double p) { return uniform(0.0, 1.0) < p; };
    for (int trial = 0; trial < 16; ++trial) {
        InputData input;
        std::int64_t t = -700 + trial * 12'345;
        const int rows = 2000 + static_cast<int>(uniform(0, 9000));
        for (int i = 0; i < rows; ++i) {
            MonitorSample& sample = input.samples.emplace_back();
            const double phase = i / 240.0;
            sample.timestamp = std::to_string(i);
            sample.timestamp_ms = t;
            if (!chance(0.05)) sample.hr1 = std::round(4 * (140 + 30 * std::sin(phase) + uniform(-12, 12))) / 4;
            if (chance(0.002)) sample.hr1 = std::nan("");
            if (chance(0.01)) sample.hr1 = 250.0;
            if (chance(0.5)) sample.hrm = 80 + uniform(0, 70);
            if (!chance(0.05)) sample.toco = std::max(0.0, 60 * std::sin(phase * 3) + uniform(-5, 5));
            if (chance(0.01)) t -= static_cast<std::int64_t>(uniform(0, 3000));  // out of order
            else if (chance(0.003)) t += static_cast<std::int64_t>(uniform(0, 900'000));  // gap
            else if (!chance(0.02)) t += chance(0.8) ? 250 : static_cast<std::int64_t>(uniform(1, 1700));
        }
        finish_input(input);
        AnalysisConfig config;
        // Steps of a few seconds, of whole minutes (windows then start and end
        // on their rows' seconds) and of any length.
        const double step = chance(0.4) ? uniform(0, 3) : chance(0.5) ? 60 * std::floor(uniform(1, 4)) : uniform(0, 700);
        if (trial % 4 != 0) config = rolling(10 + static_cast<std::uint32_t>(uniform(0, 21)), static_cast<std::uint32_t>(step));
        const AnalysisReport shared = analyze_rolling_windows(input, config);
        AnalysisReport fresh = shared;
        const fhr_core::analysis::WindowPlan plan(input, config);
        for (std::uint64_t i = 0; i < plan.count(); ++i) {
            const auto w = plan.window(i);
            fresh.windows[i] = fhr_core::analysis::analyze_window(input.samples, config, w.start_ms, w.end_ms);
        }
        const std::string expected = fhr_core::analysis::report_as_json(fresh);
        EXPECT_EQ(fhr_core::analysis::report_as_json(shared), expected) << trial;
        std::string pieces;
        const fhr_core::analysis::TextPieces take{[&](std::string_view piece) { pieces += piece; },
                                                  1 + 4000 * static_cast<std::size_t>(trial)};
        pieces += fhr_core::analysis::rolling_windows_report_text(input, config, &take);
        EXPECT_EQ(pieces, expected) << trial;
    }
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
