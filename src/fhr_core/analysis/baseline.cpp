#include "fhr_core/analysis/baseline.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "fhr_core/analysis/bands.hpp"
#include "fhr_core/analysis/summary.hpp"

namespace fhr_core::analysis {

namespace {

// Fewer present fetal seconds than this (two minutes) give no baseline.
constexpr std::size_t kMinBaselineValues = 120;
// One tenth of the sorted values is trimmed from each end.
constexpr std::size_t kTrimDivisor = 10;
// Baselines are reported in steps of this many bpm.
constexpr double kBaselineStepBpm = 5.0;

}  // namespace

std::optional<std::int32_t> estimate_baseline(SeriesView series, Span span, SortedSeconds& sorted) {
    const std::vector<double>& values = sorted.of(seconds_within(series, span), &SecondSample::fetal_bpm);
    if (values.size() < kMinBaselineValues) return std::nullopt;

    const std::size_t n = values.size();
    const std::size_t lo = n / kTrimDivisor;
    const std::size_t hi = std::max(lo + 1, n - lo);
    double sum = -0.0;
    for (std::size_t i = lo; i < hi; ++i) sum += values[i];
    const double mean = sum / static_cast<double>(hi - lo);

    const double rounded = std::round(mean / kBaselineStepBpm) * kBaselineStepBpm;
    // Only reachable with values far outside any heart rate: a baseline that
    // does not fit the integer type is reported as absent rather than
    // converted out of range.
    constexpr double kLowest = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    constexpr double kHighest = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    if (!(rounded >= kLowest && rounded <= kHighest)) return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::optional<BaselineClass> classify_baseline(std::optional<std::int32_t> baseline_bpm) {
    if (!baseline_bpm) return std::nullopt;
    const auto bpm = static_cast<double>(*baseline_bpm);
    if (bpm < bands::kNormalRateLowBpm) return BaselineClass::bradycardia;
    if (bpm > bands::kNormalRateHighBpm) return BaselineClass::tachycardia;
    return BaselineClass::normal;
}

}  // namespace fhr_core::analysis
