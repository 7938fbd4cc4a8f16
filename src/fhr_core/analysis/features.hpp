// The "features" group of a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fhr_core/analysis/events.hpp"
#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/sorted_seconds.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// `sorts` keeps the window's fetal, maternal and TOCO values between calls.
WindowFeatures compute_features(SeriesView series, WindowSorts& sorts, std::optional<std::int32_t> baseline_bpm,
                                std::size_t accelerations, const std::vector<Deceleration>& decelerations,
                                std::size_t contractions, double contractions_per_10_min);

}  // namespace fhr_core::analysis
