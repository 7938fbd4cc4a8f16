// The analysis of one window.
#pragma once

#include <cstdint>
#include <span>

#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Measures and judges the window [window_start, window_end] of the recording.
WindowAnalysis analyze_window(std::span<const MonitorSample> samples, const AnalysisConfig& config,
                              std::int64_t window_start, std::int64_t window_end);

}  // namespace fhr_core::analysis
