// The sinusoidal-pattern test.
#pragma once

#include <cstdint>
#include <span>

#include "fhr_core/analysis/series.hpp"

namespace fhr_core::analysis {

// Spectral test for a smooth oscillation of 3 to 5 cycles per 60 values.
bool sinusoidal_like_values(std::span<const double> values, double threshold);

// The window test over the current 20-minute segment.
bool detect_sinusoidal_pattern(const Series& series, std::int64_t window_start,
                               std::int64_t window_end);

}  // namespace fhr_core::analysis
