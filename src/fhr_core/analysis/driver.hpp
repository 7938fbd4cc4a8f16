// The window driver: which windows a recording is cut into.
#pragma once

#include <cstdint>

#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Rolling windows of `window_minutes` whose ends advance by the step, plus a
// final window ending at the last sample; or, without `window_minutes`, one
// chunk of at most the last 30 minutes.
AnalysisReport analyze_rolling_windows(const InputData& input, const AnalysisConfig& config);

// The report analyze_rolling_windows would give, holding only its last window
// (the run's input summary and configuration unchanged); the earlier windows
// are never analysed.
AnalysisReport analyze_last_window(const InputData& input, const AnalysisConfig& config);

// How many windows analyze_rolling_windows produces for this recording and
// configuration, computed without running it (exact for any timestamps).
std::uint64_t window_count(const InputData& input, const AnalysisConfig& config);

}  // namespace fhr_core::analysis
