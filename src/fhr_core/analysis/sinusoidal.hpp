// The sinusoidal-pattern test.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fhr_core/analysis/series.hpp"

namespace fhr_core::analysis {

// Spectral test for a smooth oscillation of 3 to 5 cycles per 60 values.
bool sinusoidal_like_values(std::span<const double> values, double threshold);

// Replaces each absent value by linear interpolation by index between its
// nearest present neighbours; leading and trailing gaps take the nearest
// present value. Empty when no value is present.
std::vector<double> fill_gaps(std::span<const std::optional<double>> values);

// Centred 5-point moving average; the ends average the values that exist.
std::vector<double> centred_moving_average(std::span<const double> values);

// The window test over the current 20-minute segment.
bool detect_sinusoidal_pattern(const Series& series, std::int64_t window_start,
                               std::int64_t window_end);

}  // namespace fhr_core::analysis
