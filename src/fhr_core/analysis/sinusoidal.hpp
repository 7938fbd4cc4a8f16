// The sinusoidal-pattern test.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "fhr_core/analysis/series.hpp"

namespace fhr_core::analysis {

// Whether the current 20 minutes of a window of at least 20 minutes hold a
// smooth oscillation of 3 to 5 cycles per minute.
bool detect_sinusoidal_pattern(SeriesView series, const WindowSpans& spans);

namespace detail {

// Spectral test for a smooth oscillation of 3 to 5 cycles per 60 values.
bool sinusoidal_like_values(std::span<const double> values, double threshold);

// Replaces each absent value by linear interpolation by index between its
// nearest present neighbours; leading and trailing gaps take the nearest
// present value. Empty when no value is present.
std::vector<double> fill_gaps(std::span<const std::optional<double>> values);

// Centred 5-point moving average; the ends average the values that exist.
std::vector<double> centred_moving_average(std::span<const double> values);

}  // namespace detail
}  // namespace fhr_core::analysis
