#include "fhr_core/analysis/features.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace fhr_core::analysis {
namespace {

using Opt = std::optional<double>;
constexpr Opt kNone = std::nullopt;

struct Sec {
    Opt fetal;
    Opt maternal = kNone;
    Opt toco = kNone;
};

Series series_of(const std::vector<Sec>& seconds) {
    Series series;
    for (const Sec& s : seconds) {
        SecondSample x;
        x.timestamp_ms = static_cast<std::int64_t>(series.size()) * 1000;
        x.fetal_bpm = s.fetal;
        x.maternal_bpm = s.maternal;
        x.toco = s.toco;
        series.push_back(x);
    }
    return series;
}

struct HeartRateCase {
    const char* name;
    std::vector<Sec> seconds;
    std::optional<std::int32_t> baseline;
    // min, p05, mean, median, p95, max, std_dev, baseline delta
    Opt min, p05, mean, median, p95, max, std_dev, delta;
    std::uint64_t below, within, above;
    double pct_below, pct_within, pct_above;
    Opt maternal_mean, fetal_maternal;
};

TEST(WindowFeaturesHeartRate, Table) {
    WindowSorts fresh;
    const std::vector<HeartRateCase> cases = {
        {"no fetal values",
         {{kNone, 80.0}, {kNone, 90.0}}, 140,
         kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
         0, 0, 0, 0.0, 0.0, 0.0, 85.0, kNone},
        {"range bounds belong to the normal range",
         {{110.0}, {kNone}, {160.0}, {109.99}, {160.01}}, 140,
         109.99, 109.99, (109.99 + 110.0 + 160.0 + 160.01) / 4.0, 160.0, 160.01, 160.01,
         std::sqrt(((109.99 - 135.0) * (109.99 - 135.0) + 25.0 * 25.0 + 25.0 * 25.0 +
                    (160.01 - 135.0) * (160.01 - 135.0)) / 4.0),
         (109.99 + 110.0 + 160.0 + 160.01) / 4.0 - 140.0,
         1, 2, 1, 25.0, 50.0, 25.0, kNone, kNone},
        {"one in three below",
         {{100.0, 90.0}, {130.0, 100.0}, {130.0}}, std::nullopt,
         100.0, 100.0, 120.0, 130.0, 130.0, 130.0, std::sqrt(200.0), kNone,
         1, 2, 0, 1.0 / 3.0 * 100.0, 2.0 / 3.0 * 100.0, 0.0, 95.0, 25.0},
        {"baseline above the mean gives a negative delta",
         {{137.2}}, 140,
         137.2, 137.2, 137.2, 137.2, 137.2, 137.2, 0.0, 137.2 - 140.0,
         0, 1, 0, 0.0, 100.0, 0.0, kNone, kNone},
        {"all above 160",
         {{170.0, 170.0}, {180.0, 172.0}}, 175,
         170.0, 170.0, 175.0, 180.0, 180.0, 180.0, 5.0, 0.0,
         0, 0, 2, 0.0, 0.0, 100.0, 171.0, 4.0},
    };
    for (const HeartRateCase& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowFeatures f = compute_features(series_of(c.seconds), fresh, c.baseline, 0, {}, 0, 0.0);
        EXPECT_EQ(f.fetal_hr_min_bpm, c.min);
        EXPECT_EQ(f.fetal_hr_p05_bpm, c.p05);
        EXPECT_EQ(f.fetal_hr_mean_bpm, c.mean);
        EXPECT_EQ(f.fetal_hr_median_bpm, c.median);
        EXPECT_EQ(f.fetal_hr_p95_bpm, c.p95);
        EXPECT_EQ(f.fetal_hr_max_bpm, c.max);
        ASSERT_EQ(f.fetal_hr_std_dev_bpm.has_value(), c.std_dev.has_value());
        if (c.std_dev) {
            EXPECT_NEAR(*f.fetal_hr_std_dev_bpm, *c.std_dev, 1e-9);
        }
        EXPECT_EQ(f.baseline_delta_mean_bpm, c.delta);
        EXPECT_EQ(f.fetal_hr_seconds_below_110, c.below);
        EXPECT_EQ(f.fetal_hr_seconds_110_to_160, c.within);
        EXPECT_EQ(f.fetal_hr_seconds_above_160, c.above);
        EXPECT_EQ(f.fetal_hr_percent_below_110, c.pct_below);
        EXPECT_EQ(f.fetal_hr_percent_110_to_160, c.pct_within);
        EXPECT_EQ(f.fetal_hr_percent_above_160, c.pct_above);
        EXPECT_EQ(f.maternal_hr_mean_bpm, c.maternal_mean);
        EXPECT_EQ(f.fetal_maternal_mean_difference_bpm, c.fetal_maternal);
    }
}

TEST(WindowFeaturesToco, Table) {
    WindowSorts fresh;
    struct Case {
        std::vector<Sec> seconds;
        Opt mean, max;
    };
    const std::vector<Case> cases = {
        {{{140.0}, {140.0}}, kNone, kNone},
        {{{kNone, kNone, 10.0}, {kNone, kNone, 40.0}, {kNone, kNone, 25.0}}, 25.0, 40.0},
        {{{kNone, kNone, 0.0}, {140.0}}, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        const WindowFeatures f = compute_features(series_of(c.seconds), fresh, std::nullopt, 0, {}, 0, 0.0);
        EXPECT_EQ(f.toco_mean, c.mean);
        EXPECT_EQ(f.toco_max, c.max);
    }
}

Deceleration decel(double duration, double nadir, double depth, DecelerationKind kind) {
    Deceleration d;
    d.event.duration_seconds = duration;
    d.event.nadir_bpm = nadir;
    d.event.depth_bpm = depth;
    d.event.kind = kind;
    return d;
}

TEST(WindowFeaturesEvents, Table) {
    WindowSorts fresh;
    using K = DecelerationKind;
    struct Case {
        const char* name;
        std::size_t accelerations;
        std::vector<Deceleration> decelerations;
        std::size_t contractions;
        double rate;
        std::uint64_t decel_count, prolonged;
        double total_seconds;
        Opt deepest, max_depth;
    };
    const std::vector<Case> cases = {
        {"no events", 0, {}, 0, 0.0, 0, 0, 0.0, kNone, kNone},
        {"one of each kind",
         2,
         {decel(20, 110, 30, K::variable), decel(190, 80, 60, K::prolonged),
          decel(40, 100, 40, K::late), decel(35, 120, 20, K::early),
          decel(30, 115, 25, K::gradual_unclassified)},
         4, 3.5, 5, 1, 315.0, 80.0, 60.0},
        {"two prolonged, deepest last",
         0,
         {decel(130, 95, 45, K::prolonged), decel(200.5, 70, 70, K::prolonged)},
         1, 1.0, 2, 2, 330.5, 70.0, 70.0},
        {"deepest nadir and largest depth may differ",
         1,
         {decel(15.5, 90, 50, K::variable), decel(16, 85, 40, K::late)},
         0, 0.0, 2, 0, 31.5, 85.0, 50.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowFeatures f =
            compute_features(series_of({{140.0}}), fresh, 140, c.accelerations, c.decelerations, c.contractions, c.rate);
        EXPECT_EQ(f.acceleration_count, c.accelerations);
        EXPECT_EQ(f.deceleration_count, c.decel_count);
        EXPECT_EQ(f.prolonged_deceleration_count, c.prolonged);
        EXPECT_EQ(f.total_deceleration_seconds, c.total_seconds);
        EXPECT_EQ(f.deepest_deceleration_nadir_bpm, c.deepest);
        EXPECT_EQ(f.max_deceleration_depth_bpm, c.max_depth);
        EXPECT_EQ(f.contraction_count, c.contractions);
        EXPECT_EQ(f.contractions_per_10_min, c.rate);
    }
}

// The summaries cover the whole window: a rising rate has a whole-window
// mean below a baseline taken from its last part.
TEST(WindowFeaturesHeartRate, WholeWindowMean) {
    WindowSorts fresh;
    std::vector<Sec> seconds;
    for (int i = 0; i < 1800; ++i) seconds.push_back({i < 1200 ? 130.0 : 150.0});
    const WindowFeatures f = compute_features(series_of(seconds), fresh, 150, 0, {}, 0, 0.0);
    ASSERT_TRUE(f.baseline_delta_mean_bpm);
    EXPECT_DOUBLE_EQ(*f.baseline_delta_mean_bpm, (1200.0 * 130.0 + 600.0 * 150.0) / 1800.0 - 150.0);
    EXPECT_LT(*f.baseline_delta_mean_bpm, 0.0);
    EXPECT_EQ(f.fetal_hr_median_bpm, 130.0);
    EXPECT_EQ(f.fetal_hr_seconds_110_to_160, 1800u);
}

}  // namespace
}  // namespace fhr_core::analysis
