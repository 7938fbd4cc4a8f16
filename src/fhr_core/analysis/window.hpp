// The analysis of one window.
#pragma once

#include <cstdint>
#include <span>

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/sorted_seconds.hpp"
#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Measures and judges the window [window_start, window_end] of the recording
// binned once by second, with the sorted value lists of the window analyzed
// before; the driver's path.
WindowAnalysis analyze_window(RecordingSeconds& recording, const AnalysisConfig& config,
                              std::int64_t window_start, std::int64_t window_end, WindowSorts& sorts);

// The same analysis from the rows alone, binning and sorting afresh:
// what the shared binning must reproduce for every window.
WindowAnalysis analyze_window(std::span<const MonitorSample> samples, const AnalysisConfig& config,
                              std::int64_t window_start, std::int64_t window_end);

}  // namespace fhr_core::analysis
