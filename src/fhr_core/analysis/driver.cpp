#include "fhr_core/analysis/driver.hpp"

#include <span>
#include <utility>

#include "fhr_core/analysis/report_writer.hpp"

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/window.hpp"
#include "fhr_core/time/instant.hpp"

namespace fhr_core::analysis {
namespace {

InputSummary summarize_input(const InputData& input) {
    InputSummary summary;
    summary.rows = input.samples.size();
    summary.out_of_order_rows = input.out_of_order_rows;
    summary.duplicate_timestamps = input.duplicate_timestamps;
    if (!input.samples.empty()) {
        const MonitorSample& first = input.samples.front();
        const MonitorSample& last = input.samples.back();
        summary.start_timestamp = first.timestamp.str();
        summary.end_timestamp = last.timestamp.str();
        summary.duration_seconds =
            time::seconds_from_ms(time::length_between(first.timestamp_ms, last.timestamp_ms));
    }
    return summary;
}

AnalysisReport report_header(const InputData& input, const AnalysisConfig& config) {
    AnalysisReport report;
    report.config = config;
    report.input = summarize_input(input);
    return report;
}

}  // namespace

// Window ends are offsets from the first sample: a recording may span more
// than the signed range (up to 2^64 - 1 ms), while every window lies within it.
WindowPlan::WindowPlan(const InputData& input, const AnalysisConfig& config) {
    if (!input.samples.empty()) {
        *this = WindowPlan(input.samples.front().timestamp_ms, input.samples.back().timestamp_ms, config);
    }
}

WindowPlan::WindowPlan(std::int64_t first_ms, std::int64_t last_ms, const AnalysisConfig& config) {
    first_ms_ = first_ms;
    span_ms_ = time::length_between(first_ms_, last_ms);
    length_ms_ = time::minutes_ms(config.window_minutes.value_or(AnalysisConfig::kMaxWindowMinutes));
    step_ms_ = time::seconds_ms(effective_step_seconds(config.step_seconds));
    if (!config.window_minutes || span_ms_ < length_ms_) {
        count_ = 1;  // the last window alone
        return;
    }
    // Ends at W, W + S, ... up to the last sample, and a final window ending
    // there unless one of them already did.
    const std::uint64_t past_first = span_ms_ - length_ms_;
    grid_windows_ = past_first / step_ms_ + 1;
    count_ = grid_windows_ + (past_first % step_ms_ != 0 ? 1 : 0);
}

WindowPlan::Window WindowPlan::window(std::uint64_t index) const {
    if (index < grid_windows_) {
        const std::uint64_t end = length_ms_ + index * step_ms_;
        return at_offsets(end - length_ms_, end);
    }
    return at_offsets(span_ms_ < length_ms_ ? 0 : span_ms_ - length_ms_, span_ms_);
}

WindowPlan::Window WindowPlan::at_offsets(std::uint64_t start, std::uint64_t end) const {
    return Window{time::later(first_ms_, start), time::later(first_ms_, end)};
}

namespace {

// Analyzes every window of the plan in order, handing each to `each`.
template <class Each>
void for_each_window(const InputData& input, const AnalysisConfig& config, const WindowPlan& plan, Each each) {
    RecordingSeconds recording(input.samples, config.fetal_channel);
    WindowSorts sorts(true);
    for (std::uint64_t i = 0; i < plan.count(); ++i) {
        const WindowPlan::Window w = plan.window(i);
        each(analyze_window(recording, config, w.start_ms, w.end_ms, sorts));
    }
}

}  // namespace

AnalysisReport analyze_rolling_windows(const InputData& input, const AnalysisConfig& config) {
    AnalysisReport report = report_header(input, config);
    const WindowPlan plan(input, config);
    report.windows.reserve(plan.count());
    for_each_window(input, config, plan, [&](WindowAnalysis&& w) { report.windows.push_back(std::move(w)); });
    return report;
}

std::string rolling_windows_report_text(const InputData& input, const AnalysisConfig& config,
                                        const TextPieces* pieces) {
    const WindowPlan plan(input, config);
    ReportText text(report_header(input, config), plan.count(), pieces);
    for_each_window(input, config, plan, [&](const WindowAnalysis& w) { text.add(w); });
    return std::move(text).finish();
}

AnalysisReport analyze_last_window(const InputData& input, const AnalysisConfig& config) {
    AnalysisReport report = report_header(input, config);
    const WindowPlan plan(input, config);
    if (plan.count() != 0) {
        const WindowPlan::Window w = plan.window(plan.count() - 1);
        RecordingSeconds recording(input.samples, config.fetal_channel);
        WindowSorts sorts(true);
        report.windows.push_back(analyze_window(recording, config, w.start_ms, w.end_ms, sorts));
    }
    return report;
}

}  // namespace fhr_core::analysis
