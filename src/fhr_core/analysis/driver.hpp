// The window driver: which windows a recording is cut into.
#pragma once

#include <cstdint>
#include <string>

#include "fhr_core/analysis/report_writer.hpp"
#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// The windows of a run, worked out once from the recording and the
// configuration. Rolling mode: windows of `window_minutes` whose ends advance
// by the step from the first sample, plus a final window ending at the last
// sample; chunk mode: one window of at most the last 30 minutes.
class WindowPlan {
public:
    struct Window {
        std::int64_t start_ms = 0;
        std::int64_t end_ms = 0;
    };

    WindowPlan(const InputData& input, const AnalysisConfig& config);
    // The plan of a recording whose first and last samples are at these instants.
    WindowPlan(std::int64_t first_ms, std::int64_t last_ms, const AnalysisConfig& config);

    // How many windows the run has; exact for any timestamps.
    std::uint64_t count() const { return count_; }
    // Window `index` (below count()), in the order of their ends.
    Window window(std::uint64_t index) const;

private:
    Window at_offsets(std::uint64_t start, std::uint64_t end) const;

    std::int64_t first_ms_ = 0;   // the first sample
    std::uint64_t span_ms_ = 0;   // from the first sample to the last
    std::uint64_t length_ms_ = 0; // window length
    std::uint64_t step_ms_ = 0;
    std::uint64_t grid_windows_ = 0;  // windows ending on the step grid
    std::uint64_t count_ = 0;
};

// Every window of the plan, analyzed in order.
AnalysisReport analyze_rolling_windows(const InputData& input, const AnalysisConfig& config);

// The text of the report analyze_rolling_windows gives, written as the
// windows are analyzed: no window is held once written. With `pieces`, the
// text goes there in pieces as it grows and the rest is returned.
std::string rolling_windows_report_text(const InputData& input, const AnalysisConfig& config,
                                        const TextPieces* pieces = nullptr);

// The report analyze_rolling_windows would give, holding only its last window
// (the run's input summary and configuration unchanged); the earlier windows
// are never analyzed.
AnalysisReport analyze_last_window(const InputData& input, const AnalysisConfig& config);

}  // namespace fhr_core::analysis
