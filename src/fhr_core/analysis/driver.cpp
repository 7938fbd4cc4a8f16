#include "fhr_core/analysis/driver.hpp"

#include <algorithm>
#include <span>

#include "fhr_core/analysis/window.hpp"

namespace fhr_core::analysis {
namespace {

constexpr std::uint64_t kMillisPerMinute = 60'000;
constexpr std::uint64_t kMillisPerSecond = 1'000;
constexpr std::uint64_t kChunkSpanMs = 1'800'000;

// Millisecond offsets from the first sample. The recording can span more than
// the signed 64-bit range (t1 - t0 up to 2^64 - 1), so the driver works with
// unsigned offsets from t0 and only forms instants t0 + offset <= t1.
std::uint64_t span_ms(std::int64_t t0, std::int64_t t1) {
    return static_cast<std::uint64_t>(t1) - static_cast<std::uint64_t>(t0);
}

std::int64_t at_offset(std::int64_t t0, std::uint64_t offset) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(t0) + offset);
}

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
            static_cast<double>(span_ms(first.timestamp_ms, last.timestamp_ms)) / 1000.0;
    }
    return summary;
}

std::uint64_t window_length_ms(const AnalysisConfig& config) {
    return config.window_minutes ? std::uint64_t{*config.window_minutes} * kMillisPerMinute : kChunkSpanMs;
}

}  // namespace

std::uint64_t window_count(const InputData& input, const AnalysisConfig& config) {
    if (input.samples.empty()) return 0;
    if (!config.window_minutes) return 1;
    const std::uint64_t span = span_ms(input.samples.front().timestamp_ms, input.samples.back().timestamp_ms);
    const std::uint64_t window = std::uint64_t{*config.window_minutes} * kMillisPerMinute;
    const std::uint64_t step = std::max<std::uint64_t>(config.step_seconds, 1) * kMillisPerSecond;
    if (span < window) return 1;
    const std::uint64_t past_first = span - window;
    return past_first / step + 1 + (past_first % step != 0 ? 1 : 0);
}

AnalysisReport analyze_rolling_windows(const InputData& input, const AnalysisConfig& config) {
    AnalysisReport report;
    report.config = config;
    report.input = summarize_input(input);
    if (input.samples.empty()) return report;

    const std::span<const MonitorSample> samples(input.samples);
    const std::int64_t t0 = input.samples.front().timestamp_ms;
    const std::int64_t t1 = input.samples.back().timestamp_ms;
    const std::uint64_t span = span_ms(t0, t1);
    const auto analyse = [&](std::uint64_t start_offset, std::uint64_t end_offset) {
        report.windows.push_back(
            analyze_window(samples, config, at_offset(t0, start_offset), at_offset(t0, end_offset)));
    };

    if (!config.window_minutes) {
        analyse(span < kChunkSpanMs ? 0 : span - kChunkSpanMs, span);
        return report;
    }

    const std::uint64_t window = window_length_ms(config);
    const std::uint64_t step = std::max<std::uint64_t>(config.step_seconds, 1) * kMillisPerSecond;
    report.windows.reserve(window_count(input, config));
    if (span < window) {
        analyse(0, span);
        return report;
    }
    // Window ends at t0 + W, t0 + W + S, ... while they stay within t1.
    std::uint64_t end = window;
    while (true) {
        analyse(end - window, end);
        if (span - end < step) break;  // the next end would pass t1
        end += step;
    }
    // A final window ending at the last sample, unless one already did.
    if (end != span) analyse(span - window, span);
    return report;
}

AnalysisReport analyze_last_window(const InputData& input, const AnalysisConfig& config) {
    AnalysisReport report;
    report.config = config;
    report.input = summarize_input(input);
    if (input.samples.empty()) return report;
    // In both modes the last window ends at the last sample and reaches back
    // one window length, or to the first sample.
    const std::int64_t t0 = input.samples.front().timestamp_ms;
    const std::int64_t t1 = input.samples.back().timestamp_ms;
    const std::uint64_t span = span_ms(t0, t1);
    const std::uint64_t window = window_length_ms(config);
    report.windows.push_back(analyze_window(input.samples, config,
                                            at_offset(t0, span < window ? 0 : span - window), t1));
    return report;
}

}  // namespace fhr_core::analysis
