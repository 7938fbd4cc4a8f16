#include "fhr_core/analysis/monitor.hpp"

#include <algorithm>
#include <span>
#include <utility>

#include "fhr_core/analysis/driver.hpp"
#include "fhr_core/analysis/pipeline.hpp"
#include "fhr_core/analysis/window.hpp"
#include "fhr_core/model/text.hpp"
#include "fhr_core/time/instant.hpp"
#include "fhr_core/time/timestamp.hpp"
#include "fhr_core/time/units.hpp"

namespace fhr_core::analysis {
namespace {

bool earlier_than(const MonitorSample& sample, std::int64_t ms) { return sample.timestamp_ms < ms; }
bool later_than(std::int64_t ms, const MonitorSample& sample) { return ms < sample.timestamp_ms; }

}  // namespace

Monitor::Monitor(const AnalysisConfig& config)
    : config_(config), length_ms_(time::minutes_ms(config.window_minutes.value_or(AnalysisConfig::kMaxWindowMinutes))) {}

Result<std::vector<WindowAnalysis>> Monitor::add_csv(std::string_view piece) {
    csv_.append(piece);
    while (auto row = csv_.next()) {
        if (!*row) return Failure{std::move(*row).error()};
        if (auto failure = take(std::move(row->value()))) return Failure{std::move(*failure)};
    }
    return hand_over();
}

Result<std::vector<WindowAnalysis>> Monitor::add_samples(std::span<const SampleRow> rows) {
    for (const SampleRow& row : rows) {
        ++sample_rows_;
        const std::string_view date = trim_white_space(row.timestamp);
        auto instant = time::parse_monitor_timestamp(date);
        if (!instant) {
            return Failure{"row " + std::to_string(sample_rows_ + 1) + " has invalid Date: " + std::move(instant).error()};
        }
        MonitorSample sample;
        sample.timestamp.assign(date);
        sample.timestamp_ms = *instant;
        sample.hr1 = row.hr1;
        sample.hr2 = row.hr2;
        sample.hr3 = row.hr3;
        sample.hrm = row.hrm;
        sample.toco = row.toco;
        if (auto failure = take(std::move(sample))) return Failure{std::move(*failure)};
    }
    return hand_over();
}

std::vector<WindowAnalysis> Monitor::hand_over() {
    std::vector<WindowAnalysis> windows = std::move(completed_);
    completed_.clear();
    return windows;
}

std::optional<std::string> Monitor::take(MonitorSample&& sample) {
    const std::int64_t ms = sample.timestamp_ms;
    const std::int64_t first = rows_ == 0 ? ms : std::min(first_ms_, ms);
    const std::int64_t last = rows_ == 0 ? ms : std::max(last_ms_, ms);

    // The whole-text analysis refuses a recording spanning too many windows
    // (one row with a mistyped year, say); so does the monitor, for that row.
    const std::uint64_t windows = WindowPlan(first, last, config_).count();
    if (windows > kMaxRollingWindows) {
        return "recording spans " + std::to_string(windows) + " analysis windows; at most " +
               std::to_string(kMaxRollingWindows) + " are supported";
    }

    // Samples earlier than this stay out of every window still to come. Until
    // a window is completed an earlier first sample moves the window ends,
    // and the held samples span at most one window, so all are kept.
    const std::int64_t keep_from = origin_ms_ ? time::earlier(last_ms_, length_ms_) : time::kFirstInstant;
    const auto held = std::span<const MonitorSample>(samples_).subspan(head_);
    const auto after = std::upper_bound(held.begin(), held.end(), ms, later_than);
    if (rows_ != 0) {
        out_of_order_rows_ += ms < previous_ms_ ? 1 : 0;
        // An equal time is only visible among the held samples.
        duplicate_timestamps_ += after != held.begin() && (after - 1)->timestamp_ms == ms ? 1 : 0;
        late_rows_ += origin_ms_ && ms <= completed_end_ms_ ? 1 : 0;
    }
    ++rows_;
    previous_ms_ = ms;
    if (rows_ == 1 || ms < first_ms_) first_text_ = sample.timestamp;
    if (rows_ == 1 || ms >= last_ms_) last_text_ = sample.timestamp;
    first_ms_ = first;
    last_ms_ = last;
    if (ms >= keep_from) samples_.insert(samples_.begin() + (head_ + static_cast<std::size_t>(after - held.begin())), std::move(sample));

    // A window is complete once a sample later than its end has arrived.
    while (true) {
        const WindowPlan plan(origin_ms_.value_or(first_ms_), last_ms_, config_);
        if (completed_count_ >= plan.count()) break;
        const WindowPlan::Window w = plan.window(completed_count_);
        if (w.end_ms >= last_ms_) break;
        completed_.push_back(analyze_window(std::span<const MonitorSample>(samples_).subspan(head_), config_,
                                            w.start_ms, w.end_ms));
        origin_ms_ = origin_ms_.value_or(first_ms_);
        completed_end_ms_ = w.end_ms;
        ++completed_count_;
    }

    // Every window still to come ends at the latest sample or later.
    const std::int64_t drop_before = time::earlier(last_ms_, length_ms_);
    const auto kept = std::span<const MonitorSample>(samples_).subspan(head_);
    head_ += static_cast<std::size_t>(std::lower_bound(kept.begin(), kept.end(), drop_before, earlier_than) - kept.begin());
    if (head_ > samples_.size() / 2) {
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    return std::nullopt;
}

std::optional<WindowAnalysis> Monitor::current() const {
    if (rows_ == 0) return std::nullopt;
    const WindowPlan plan(first_ms_, last_ms_, config_);
    const WindowPlan::Window w = plan.window(plan.count() - 1);
    return analyze_window(std::span<const MonitorSample>(samples_).subspan(head_), config_, w.start_ms, w.end_ms);
}

InputSummary Monitor::input() const {
    InputSummary summary;
    summary.rows = rows_;
    summary.out_of_order_rows = out_of_order_rows_;
    summary.duplicate_timestamps = duplicate_timestamps_;
    if (rows_ != 0) {
        summary.start_timestamp = first_text_.str();
        summary.end_timestamp = last_text_.str();
        summary.duration_seconds = time::seconds_from_ms(time::length_between(first_ms_, last_ms_));
    }
    return summary;
}

}  // namespace fhr_core::analysis
