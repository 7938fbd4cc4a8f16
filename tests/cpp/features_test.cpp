// Window features: heart-rate summaries and bands, TOCO, event counts.
#include "fhr_core/analysis/features.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace fhr_core::analysis {
namespace {

using Opt = std::optional<double>;
constexpr Opt kNone = std::nullopt;

// Seconds of fetal, maternal and TOCO values.
Series series_of(const std::vector<std::array<Opt, 3>>& seconds) {
    Series series;
    for (const auto& [fetal, maternal, toco] : seconds) series.push_back({fetal, maternal, toco, nullptr, 0});
    return series;
}

TEST(WindowFeatures, HeartRateBandsAndToco) {
    WindowSorts fresh;
    // The band bounds 110 and 160 belong to the normal band.
    WindowFeatures f = compute_features(series_of({{110.0, kNone, 10.0}, {kNone, kNone, 40.0}, {160.0, 90.0, 25.0},
                                                   {109.99, 100.0, kNone}, {160.01, kNone, kNone}}),
                                        fresh, 140, 0, {}, 0, 0.0);
    EXPECT_EQ(f.fetal_hr_min_bpm, 109.99);
    EXPECT_EQ(f.fetal_hr_median_bpm, 160.0);
    EXPECT_EQ(f.fetal_hr_max_bpm, 160.01);
    EXPECT_EQ(f.fetal_hr_mean_bpm, (109.99 + 110.0 + 160.0 + 160.01) / 4.0);
    EXPECT_EQ(f.baseline_delta_mean_bpm, *f.fetal_hr_mean_bpm - 140.0);
    EXPECT_NEAR(*f.fetal_hr_std_dev_bpm, 25.005000499900014, 1e-9);
    EXPECT_EQ(f.fetal_hr_seconds_below_110, 1u);
    EXPECT_EQ(f.fetal_hr_seconds_110_to_160, 2u);
    EXPECT_EQ(f.fetal_hr_seconds_above_160, 1u);
    EXPECT_EQ(f.fetal_hr_percent_below_110, 25.0);
    EXPECT_EQ(f.fetal_hr_percent_110_to_160, 50.0);
    EXPECT_EQ(f.fetal_hr_percent_above_160, 25.0);
    EXPECT_EQ(f.maternal_hr_mean_bpm, 95.0);
    EXPECT_EQ(f.fetal_maternal_mean_difference_bpm, 40.0);
    EXPECT_EQ(f.toco_mean, 25.0);
    EXPECT_EQ(f.toco_max, 40.0);
    // Thirds, and no baseline: no delta.
    f = compute_features(series_of({{100.0}, {130.0}, {130.0}}), fresh, std::nullopt, 0, {}, 0, 0.0);
    EXPECT_EQ(f.fetal_hr_percent_below_110, 1.0 / 3.0 * 100.0);
    EXPECT_EQ(f.fetal_hr_percent_110_to_160, 2.0 / 3.0 * 100.0);
    EXPECT_EQ(f.baseline_delta_mean_bpm, kNone);
    // No fetal values: every fetal field absent, the percentages zero.
    f = compute_features(series_of({{kNone, 80.0}, {kNone, 90.0, 0.0}}), fresh, 140, 0, {}, 0, 0.0);
    EXPECT_FALSE(f.fetal_hr_min_bpm || f.fetal_hr_p05_bpm || f.fetal_hr_mean_bpm || f.fetal_hr_median_bpm ||
                 f.fetal_hr_p95_bpm || f.fetal_hr_max_bpm || f.fetal_hr_std_dev_bpm || f.baseline_delta_mean_bpm ||
                 f.fetal_maternal_mean_difference_bpm);
    EXPECT_EQ(f.fetal_hr_percent_below_110 + f.fetal_hr_percent_110_to_160 + f.fetal_hr_percent_above_160, 0.0);
    EXPECT_EQ(f.maternal_hr_mean_bpm, 85.0);
    EXPECT_EQ(f.toco_mean, 0.0);
    EXPECT_EQ(f.toco_max, 0.0);
}

Deceleration decel(double duration, double nadir, double depth, DecelerationKind kind) {
    Deceleration d;
    d.event.duration_seconds = duration;
    d.event.nadir_bpm = nadir;
    d.event.depth_bpm = depth;
    d.event.kind = kind;
    return d;
}

TEST(WindowFeatures, Events) {
    WindowSorts fresh;
    using K = DecelerationKind;
    const Series one = series_of({{140.0}});
    WindowFeatures f = compute_features(one, fresh, 140, 2,
                                        {decel(15.5, 90, 50, K::variable), decel(200.5, 70, 40, K::prolonged),
                                         decel(40, 100, 60, K::late), decel(130, 95, 45, K::prolonged)},
                                        4, 3.5);
    EXPECT_EQ(f.acceleration_count, 2u);
    EXPECT_EQ(f.deceleration_count, 4u);
    EXPECT_EQ(f.prolonged_deceleration_count, 2u);
    EXPECT_EQ(f.total_deceleration_seconds, 386.0);
    EXPECT_EQ(f.deepest_deceleration_nadir_bpm, 70.0);  // the deepest nadir and the largest depth may differ
    EXPECT_EQ(f.max_deceleration_depth_bpm, 60.0);
    EXPECT_EQ(f.contraction_count, 4u);
    EXPECT_EQ(f.contractions_per_10_min, 3.5);
    f = compute_features(one, fresh, 140, 0, {}, 0, 0.0);
    EXPECT_EQ(f.total_deceleration_seconds, 0.0);
    EXPECT_FALSE(f.deepest_deceleration_nadir_bpm || f.max_deceleration_depth_bpm);
}

}  // namespace
}  // namespace fhr_core::analysis
