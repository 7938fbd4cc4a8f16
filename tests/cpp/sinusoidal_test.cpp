// The sinusoidal pattern: the band test of a run of values, gap filling, the moving average and the whole test over a
// window.
#include "fhr_core/analysis/sinusoidal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <set>
#include <vector>

#include "fhr_core/analysis/summary.hpp"
#include "support.hpp"

namespace fhr_core::analysis {
namespace {

// 140 + amplitude * sin(2 pi f i / 60): f cycles per 60 values.
std::vector<double> sine(std::size_t n, double cycles_per_minute, double amplitude) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = 140.0 + amplitude * std::sin(2.0 * std::numbers::pi * cycles_per_minute *
                                            static_cast<double>(i) / 60.0);
    }
    return v;
}

// The sine rescaled about 140 so that its p95 - p05 spread is `spread`.
std::vector<double> sine_with_spread(std::size_t n, double cycles_per_minute, double spread) {
    std::vector<double> v = sine(n, cycles_per_minute, 8.0);
    std::vector<double> sorted = v;
    sort_total_order(sorted);
    const double scale = spread / (quantile(sorted, 0.95) - quantile(sorted, 0.05));
    for (double& x : v) x = 140.0 + (x - 140.0) * scale;
    return v;
}

std::vector<double> plus(std::vector<double> a, const std::vector<double>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += b[i] - 140.0;
    return a;
}

// The sine cut off `limit` bpm either side of 140.
std::vector<double> clipped(std::vector<double> v, double limit) {
    for (double& x : v) x = std::clamp(x, 140.0 - limit, 140.0 + limit);
    return v;
}

// A sine with a +-3 bpm beat-to-beat jitter on top.
std::vector<double> jittered(std::vector<double> v) {
    for (std::size_t i = 0; i < v.size(); ++i) v[i] += i % 2 == 0 ? -3.0 : 3.0;
    return v;
}

// A deterministic random walk of +-1 bpm steps.
std::vector<double> random_walk(std::size_t n) {
    std::vector<double> v(n);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    double bpm = 140.0;
    for (std::size_t i = 0; i < n; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        bpm += (state >> 63) != 0 ? 1.0 : -1.0;
        v[i] = bpm;
    }
    return v;
}

TEST(SinusoidalLikeValues, Table) {
    const struct {
        const char* name;
        std::vector<double> values;
        double threshold;
        bool expected;
    } cases[] = {
        {"299 values are too few", sine(299, 4, 8), 0.45, false},
        {"300 values suffice", sine(300, 4, 8), 0.45, true},
        {"twenty minutes of 4 cycles", sine(1200, 4, 8), 0.55, true},
        {"3 cycles is in the band", sine(300, 3, 8), 0.45, true},
        {"5 cycles is in the band", sine(300, 5, 8), 0.45, true},
        {"2.75 cycles is below the band", sine(300, 2.75, 8), 0.45, false},
        {"5.25 cycles is above the band", sine(300, 5.25, 8), 0.45, false},
        {"spread 9.9 is too small", sine_with_spread(300, 4, 9.9), 0.45, false},
        {"spread 10.1 is enough", sine_with_spread(300, 4, 10.1), 0.45, true},
        {"a sine clipped to a spread of exactly 10", clipped(sine(300, 4, 8), 5), 0.45, true},
        {"spread 29.9 is still allowed", sine_with_spread(300, 4, 29.9), 0.45, true},
        {"spread 30.1 is too large", sine_with_spread(300, 4, 30.1), 0.45, false},
        {"beat-to-beat jitter is too rough", jittered(sine(300, 4, 8)), 0.45, false},
        // Equal parts at 4 and 1.5 cycles put about half the power in the band.
        {"half the power passes a lower threshold", plus(sine(300, 4, 5), sine(300, 1.5, 5)), 0.45, true},
        {"half the power fails a higher threshold", plus(sine(300, 4, 5), sine(300, 1.5, 5)), 0.55, false},
        {"a flat trace", std::vector<double>(600, 140.0), 0.0, false},
        {"a random walk", random_walk(1200), 0.45, false},
        // Twenty minutes at 1.1 cycles (22 whole cycles) leave no power at any trial frequency: a faint 4-cycle wave
        // alone decides the band share.
        {"power between the trial frequencies does not count", plus(sine(1200, 1.1, 8), sine(1200, 4, 0.001)), 0.55, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detail::sinusoidal_like_values(c.values, c.threshold), c.expected) << c.name;
    }
}

// Rows of tests/data/cpp/sinusoidal-smoothing.txt.
TEST(SinusoidalSmoothing, FillGapsAndMovingAverage) {
    for (const auto& row : testing_support::table("sinusoidal-smoothing.txt")) {
        std::vector<std::optional<double>> values;
        std::vector<double> present, expected;
        for (const std::string& w : testing_support::words(row[2])) values.push_back(testing_support::opt(w));
        for (const auto& v : values) present.push_back(v.value_or(0.0));
        for (const std::string& w : testing_support::words(row[3])) expected.push_back(testing_support::num(w));
        EXPECT_EQ(row[1] == "fill" ? detail::fill_gaps(values) : detail::centred_moving_average(present), expected) << row[0];
    }
}

// Seconds 0, 1000, ... with the given values; indices in `missing` are absent.
Series series_of(const std::vector<double>& values, const std::set<std::size_t>& missing = {}) {
    std::vector<std::optional<double>> fetal(values.begin(), values.end());
    for (std::size_t i : missing) fetal[i].reset();
    return testing_support::seconds(fetal);
}

// `count` runs of `length` indices, `step` apart from `first` on.
std::set<std::size_t> runs(std::size_t first, std::size_t length, std::size_t count = 1, std::size_t step = 0) {
    std::set<std::size_t> out;
    for (std::size_t k = 0; k < count; ++k)
        for (std::size_t i = 0; i < length; ++i) out.insert(first + k * step + i);
    return out;
}

// A 4-cycle wave whose 5-minute block `block` is flat.
std::vector<double> flat_block(std::size_t block) {
    std::vector<double> v = sine(1201, 4, 8);
    std::fill(v.begin() + static_cast<std::ptrdiff_t>(block * 300), v.begin() + static_cast<std::ptrdiff_t>(block * 300 + 300), 140.0);
    return v;
}

TEST(SinusoidalPattern, Table) {
    const std::vector<double> wave20 = sine(1201, 4, 8);
    std::vector<double> wave_late = random_walk(1801);  // sine in the last 20 minutes only
    std::vector<double> wave_early = sine(1801, 4, 8);  // sine in the first 20 minutes only
    for (std::size_t i = 600; i < 1801; ++i) wave_late[i] = wave20[i - 600];
    for (std::size_t i = 1201; i < 1801; ++i) wave_early[i] = 140.0;
    std::set<std::size_t> both_ends = runs(0, 5);
    both_ends.merge(runs(1196, 5));
    const struct {
        const char* name;
        Series series;
        std::int64_t window_start, window_end;
        bool expected;
    } cases[] = {
        {"twenty minutes of a 4-cycle wave", series_of(wave20), 0, 1'200'000, true},
        {"19:59 is too short", series_of(wave20), 1'000, 1'200'000, false},
        {"the segment may start mid-second", series_of(wave20), 500, 1'200'500, true},
        {"5 missing seconds in a row are filled", series_of(wave20, runs(400, 5)), 0, 1'200'000, true},
        {"6 missing seconds in a row are too many", series_of(wave20, runs(400, 6)), 0, 1'200'000, false},
        {"missing seconds at both ends are filled flat", series_of(wave20, both_ends), 0, 1'200'000, true},
        // 1081 of 1201 present is 0.9001; 1080 is 0.8993.
        {"120 single gaps keep 90 percent", series_of(wave20, runs(3, 1, 120, 10)), 0, 1'200'000, true},
        {"121 single gaps fall below 90 percent", series_of(wave20, runs(3, 1, 121, 9)), 0, 1'200'000, false},
        {"24 interior gaps of 5 seconds are bridged", series_of(wave20, runs(20, 5, 24, 50)), 0, 1'200'000, true},
        {"a trace with no fetal values", series_of(wave20, runs(0, 1201)), 0, 1'200'000, false},
        {"fewer than 1200 seconds", series_of(sine(1199, 4, 8)), 0, 1'200'000, false},
        {"a random walk", series_of(random_walk(1201)), 0, 1'200'000, false},
        {"only the last 20 minutes are tested (wave there)", series_of(wave_late), 0, 1'800'000, true},
        {"only the last 20 minutes are tested (wave before)", series_of(wave_early), 0, 1'800'000, false},
        {"a series outside the window", series_of(wave20), 5'000'000, 6'200'000, false},
        // A 4-cycle wave (amplitude 8) plus a 1.5-cycle one: the whole segment keeps at least 0.55 of its power in
        // the band, each block 0.45. A slow part of amplitude 6 leaves about 0.57 of the power in the band, 7 about
        // 0.49 (every block still holding more than 0.45).
        {"slow part of amplitude 6", series_of(plus(wave20, sine(1201, 1.5, 6))), 0, 1'200'000, true},
        {"slow part of amplitude 7", series_of(plus(wave20, sine(1201, 1.5, 7))), 0, 1'200'000, false},
        // Each 5-minute block passes on its own: a flat block fails the segment although the band stays strong over
        // the whole of it.
        {"first block flat", series_of(flat_block(0)), 0, 1'200'000, false},
        {"third block flat", series_of(flat_block(2)), 0, 1'200'000, false},
        {"last block flat", series_of(flat_block(3)), 0, 1'200'000, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detect_sinusoidal_pattern(c.series, window_spans(c.window_start, c.window_end)), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace fhr_core::analysis
