#include "fhr_core/analysis/features.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fhr_core/analysis/bands.hpp"
#include "fhr_core/analysis/summary.hpp"

namespace fhr_core::analysis {

namespace {

constexpr double kPercent = 100.0;

double percent(std::uint64_t count, std::uint64_t total) {
    if (total == 0) return 0.0;
    return static_cast<double>(count) / static_cast<double>(total) * kPercent;
}

// Orders doubles by IEEE 754 total order (-0 before +0).
bool total_order_less(double a, double b) {
    const auto key = [](double v) {
        const auto bits = std::bit_cast<std::int64_t>(v);
        return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
    };
    return key(a) < key(b);
}

std::optional<double> difference(std::optional<double> a, std::optional<double> b) {
    if (!a || !b) return std::nullopt;
    return *a - *b;
}


}  // namespace

WindowFeatures compute_features(SeriesView series, WindowSorts& sorts, std::optional<std::int32_t> baseline_bpm,
                                std::size_t accelerations, const std::vector<Deceleration>& decelerations,
                                std::size_t contractions, double contractions_per_10_min) {
    WindowFeatures f;

    const std::vector<double>& fetal_values =
        sorts.window_is_current_10_min ? sorts.baseline.values() : sorts.fetal.of(series, &SecondSample::fetal_bpm);
    const ValueSummary fetal = summarize_sorted(fetal_values);
    f.fetal_hr_min_bpm = fetal.min;
    f.fetal_hr_p05_bpm = fetal.p05;
    f.fetal_hr_mean_bpm = fetal.mean;
    f.fetal_hr_median_bpm = fetal.median;
    f.fetal_hr_p95_bpm = fetal.p95;
    f.fetal_hr_max_bpm = fetal.max;
    f.fetal_hr_std_dev_bpm = fetal.std_dev;
    if (baseline_bpm) {
        f.baseline_delta_mean_bpm = difference(fetal.mean, static_cast<double>(*baseline_bpm));
    }

    // The window's fetal values in total order: without a NaN (which sorts
    // to either end), those below the band are a prefix and those above a
    // suffix.
    const std::uint64_t fetal_seconds = fetal_values.size();
    if (fetal_values.empty() || std::isnan(fetal_values.front()) || std::isnan(fetal_values.back())) {
        for (const double bpm : fetal_values) {
            if (bpm < bands::kNormalRateLowBpm) ++f.fetal_hr_seconds_below_110;
            if (bpm > bands::kNormalRateHighBpm) ++f.fetal_hr_seconds_above_160;
        }
    } else {
        f.fetal_hr_seconds_below_110 = static_cast<std::uint64_t>(
            std::partition_point(fetal_values.begin(), fetal_values.end(),
                                 [](double bpm) { return bpm < bands::kNormalRateLowBpm; }) -
            fetal_values.begin());
        f.fetal_hr_seconds_above_160 = static_cast<std::uint64_t>(
            fetal_values.end() - std::partition_point(fetal_values.begin(), fetal_values.end(), [](double bpm) {
                return !(bpm > bands::kNormalRateHighBpm);
            }));
    }
    f.fetal_hr_seconds_110_to_160 = fetal_seconds - f.fetal_hr_seconds_below_110 - f.fetal_hr_seconds_above_160;
    f.fetal_hr_percent_below_110 = percent(f.fetal_hr_seconds_below_110, fetal_seconds);
    f.fetal_hr_percent_110_to_160 = percent(f.fetal_hr_seconds_110_to_160, fetal_seconds);
    f.fetal_hr_percent_above_160 = percent(f.fetal_hr_seconds_above_160, fetal_seconds);

    f.acceleration_count = accelerations;
    f.deceleration_count = decelerations.size();
    for (const Deceleration& deceleration : decelerations) {
        const DecelerationEvent& d = deceleration.event;
        if (d.kind == DecelerationKind::prolonged) ++f.prolonged_deceleration_count;
        f.total_deceleration_seconds += d.duration_seconds;
        if (!f.deepest_deceleration_nadir_bpm ||
            total_order_less(d.nadir_bpm, *f.deepest_deceleration_nadir_bpm)) {
            f.deepest_deceleration_nadir_bpm = d.nadir_bpm;
        }
        if (!f.max_deceleration_depth_bpm ||
            total_order_less(*f.max_deceleration_depth_bpm, d.depth_bpm)) {
            f.max_deceleration_depth_bpm = d.depth_bpm;
        }
    }

    f.contraction_count = contractions;
    f.contractions_per_10_min = contractions_per_10_min;

    const std::vector<double>& toco =
        sorts.window_is_current_20_min ? sorts.contraction_toco.values() : sorts.toco.of(series, &SecondSample::toco);
    f.toco_mean = mean_of_sorted(toco);
    if (!toco.empty()) f.toco_max = toco.back();
    f.maternal_hr_mean_bpm = mean_of_sorted(sorts.maternal.of(series, &SecondSample::maternal_bpm));
    f.fetal_maternal_mean_difference_bpm = difference(fetal.mean, f.maternal_hr_mean_bpm);
    return f;
}

}  // namespace fhr_core::analysis
