#include "fhr_core/analysis/series.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>

#include "fhr_core/time/instant.hpp"

namespace fhr_core::analysis {

namespace {

using time::kMillisPerSecond;

// Usable ranges of the three signals, both bounds inclusive.
constexpr double kUsableHeartRateMin = 30.0;
constexpr double kUsableHeartRateMax = 240.0;
constexpr double kUsableTocoMin = 0.0;
constexpr double kUsableTocoMax = 300.0;

// Fetal and maternal values this close are counted as possibly the same heart.
constexpr double kCaptureToleranceBpm = 5.0;

constexpr std::string_view kUnknownText = "unknown";

// Index of the whole second holding `ms`, rounding toward negative infinity
// (-1 ms lies in second -1).
std::int64_t second_index(std::int64_t ms) {
    std::int64_t q = ms / kMillisPerSecond;
    if (ms % kMillisPerSecond < 0) --q;
    return q;
}

// Start of second `index` in milliseconds. The lowest second of the instant
// range starts before the first instant; it is pinned to that instant.
std::int64_t second_start_ms(std::int64_t index) {
    constexpr std::int64_t kLowestWholeIndex = time::kFirstInstant / kMillisPerSecond;  // truncates toward 0
    if (index < kLowestWholeIndex) return time::kFirstInstant;
    return index * kMillisPerSecond;
}

bool usable_heart_rate(const OptionalValue& v) {
    return v && *v >= kUsableHeartRateMin && *v <= kUsableHeartRateMax;
}

bool usable_toco(const OptionalValue& v) {
    return v && *v >= kUsableTocoMin && *v <= kUsableTocoMax;
}

// The working bin of one second while the series is built.
struct SecondAccumulator {
    double fetal_sum = 0.0;
    std::uint64_t fetal_count = 0;
    double maternal_sum = 0.0;
    std::uint64_t maternal_count = 0;
    double toco_sum = 0.0;
    std::uint64_t toco_count = 0;
};

std::optional<double> mean_of(double sum, std::uint64_t count) {
    if (count == 0) return std::nullopt;
    return sum / static_cast<double>(count);
}

double ratio(std::uint64_t count, std::uint64_t total) {
    if (total == 0) return 0.0;
    return static_cast<double>(count) / static_cast<double>(total);
}

}  // namespace

std::string second_text(const SecondSample& second) {
    if (second.named_by != nullptr) return second.named_by->timestamp.str();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, second.timestamp_ms);
    std::string text(buffer, result.ptr);
    text += "ms";
    return text;
}

std::optional<std::int64_t> second_instant(const SecondSample& second) {
    if (second.named_by == nullptr) return std::nullopt;
    return second.named_by->timestamp_ms;
}

const SecondSample& closest_second(const Series& series, std::int64_t ms) {
    const auto after = std::lower_bound(
        series.begin(), series.end(), ms,
        [](const SecondSample& s, std::int64_t value) { return s.timestamp_ms < value; });
    if (after == series.begin()) return series.front();
    if (after == series.end()) return series.back();
    const auto before = after - 1;
    // before < ms <= after; the earlier second wins a tie.
    if (time::distance(before->timestamp_ms, ms) <= time::distance(ms, after->timestamp_ms)) return *before;
    return *after;
}

std::int64_t stretch_end(std::int64_t last_ms) { return time::later(last_ms, time::seconds_ms(1)); }

double stretch_seconds(std::int64_t first_ms, std::int64_t last_ms) {
    return time::seconds_from_ms(time::length_between(first_ms, last_ms) + time::seconds_ms(1));
}

std::span<const SecondSample> seconds_within(const Series& series, Span span) {
    const auto first = std::lower_bound(
        series.begin(), series.end(), span.from_ms,
        [](const SecondSample& s, std::int64_t value) { return s.timestamp_ms < value; });
    const auto last = std::upper_bound(
        first, series.end(), span.to_ms,
        [](std::int64_t value, const SecondSample& s) { return value < s.timestamp_ms; });
    if (first >= last) return {};
    return {&*first, static_cast<std::size_t>(last - first)};
}

std::span<const MonitorSample> rows_within(std::span<const MonitorSample> samples, std::int64_t window_start,
                                           std::int64_t window_end) {
    if (window_start > window_end) return {};
    const auto first = std::lower_bound(
        samples.begin(), samples.end(), window_start,
        [](const MonitorSample& s, std::int64_t value) { return s.timestamp_ms < value; });
    const auto last = std::upper_bound(
        first, samples.end(), window_end,
        [](std::int64_t value, const MonitorSample& s) { return value < s.timestamp_ms; });
    return samples.subspan(static_cast<std::size_t>(first - samples.begin()),
                           static_cast<std::size_t>(last - first));
}

namespace {

// The series value of one second from its rows (adjacent, in recording
// order, not empty): the first row names it, each signal is the mean of its
// usable values summed in row order.
void bin_second(std::span<const MonitorSample> rows, FetalChannel channel, SecondSample& second) {
    SecondAccumulator bin;
    for (const MonitorSample& row : rows) {
        if (const auto& fetal = row.fetal(channel); usable_heart_rate(fetal)) {
            bin.fetal_sum += *fetal;
            ++bin.fetal_count;
        }
        if (usable_heart_rate(row.hrm)) {
            bin.maternal_sum += *row.hrm;
            ++bin.maternal_count;
        }
        if (usable_toco(row.toco)) {
            bin.toco_sum += *row.toco;
            ++bin.toco_count;
        }
    }
    second.named_by = &rows.front();
    second.fetal_bpm = mean_of(bin.fetal_sum, bin.fetal_count);
    second.maternal_bpm = mean_of(bin.maternal_sum, bin.maternal_count);
    second.toco = mean_of(bin.toco_sum, bin.toco_count);
}

// Calls `each(rows)` for every run of rows sharing one second, in order.
template <class Each>
void for_each_second(std::span<const MonitorSample> rows, Each each) {
    std::size_t begin = 0;
    while (begin < rows.size()) {
        const std::int64_t index = second_index(rows[begin].timestamp_ms);
        std::size_t end = begin + 1;
        while (end < rows.size() && second_index(rows[end].timestamp_ms) == index) ++end;
        each(index, rows.subspan(begin, end - begin));
        begin = end;
    }
}

// The window's seconds, from the start second to the end second, both
// included, each with its start and no value yet.
Series empty_seconds(std::int64_t first_second, std::int64_t last_second) {
    Series series;
    if (first_second > last_second) return series;
    series.resize(static_cast<std::size_t>(time::distance(first_second, last_second)) + 1);
    for (std::size_t i = 0; i < series.size(); ++i) {
        series[i].timestamp_ms = second_start_ms(first_second + static_cast<std::int64_t>(i));
    }
    return series;
}

// The data-quality figures and the window texts of a filled series.
void finish_window(PreparedWindow& out, std::span<const MonitorSample> rows, const WindowSpans& spans) {
    std::uint64_t fetal_seconds = 0;
    std::uint64_t maternal_seconds = 0;
    std::uint64_t toco_seconds = 0;
    std::uint64_t paired = 0;
    std::uint64_t matched = 0;
    for (const SecondSample& second : out.series) {
        if (second.fetal_bpm) ++fetal_seconds;
        if (second.maternal_bpm) ++maternal_seconds;
        if (second.toco) ++toco_seconds;
        if (second.fetal_bpm && second.maternal_bpm) {
            ++paired;
            if (std::abs(*second.fetal_bpm - *second.maternal_bpm) <= kCaptureToleranceBpm) ++matched;
        }
    }

    DataQuality& quality = out.data_quality;
    quality.expected_seconds = std::max<std::uint64_t>(
        out.series.size(), spans.length_ms / static_cast<std::uint64_t>(kMillisPerSecond));
    quality.raw_samples = rows.size();
    quality.fetal_usable_seconds = fetal_seconds;
    quality.fetal_usable_ratio = ratio(fetal_seconds, quality.expected_seconds);
    quality.maternal_usable_ratio = ratio(maternal_seconds, quality.expected_seconds);
    quality.toco_usable_ratio = ratio(toco_seconds, quality.expected_seconds);
    quality.suspected_maternal_capture_ratio = ratio(matched, paired);

    if (!rows.empty()) {
        out.window_start = rows.front().timestamp;
        out.window_end = rows.back().timestamp;
    } else if (!out.series.empty()) {
        out.window_start = second_text(out.series.front());
        out.window_end = second_text(out.series.back());
    } else {
        out.window_start = kUnknownText;
        out.window_end = kUnknownText;
    }
    out.duration_seconds = time::seconds_from_ms(spans.length_ms);
}

}  // namespace

PreparedWindow build_second_samples(std::span<const MonitorSample> samples, FetalChannel channel,
                                    const WindowSpans& spans) {
    PreparedWindow out;
    const std::span<const MonitorSample> rows = rows_within(samples, spans.start_ms, spans.end_ms);
    const std::int64_t first_second = second_index(spans.start_ms);
    out.series = empty_seconds(first_second, second_index(spans.end_ms));
    // Every in-window row lies in one of the window's seconds.
    for_each_second(rows, [&](std::int64_t index, std::span<const MonitorSample> of_second) {
        bin_second(of_second, channel,
                   out.series[static_cast<std::size_t>(time::distance(first_second, index))]);
    });
    finish_window(out, rows, spans);
    return out;
}

const MonitorSample* RecordingSeconds::end_of(std::size_t k) const {
    return k + 1 < seconds_.size() ? seconds_[k + 1].named_by : samples_.data() + binned_rows_;
}

PreparedWindow RecordingSeconds::prepare(const WindowSpans& spans) {
    PreparedWindow out;
    const std::span<const MonitorSample> rows = rows_within(samples_, spans.start_ms, spans.end_ms);
    const std::int64_t first_second = second_index(spans.start_ms);
    out.series = empty_seconds(first_second, second_index(spans.end_ms));
    if (!rows.empty()) {
        const MonitorSample* const rows_begin = rows.data();
        const MonitorSample* const rows_end = rows.data() + rows.size();
        // Seconds wholly before the window are never binned: when binning
        // has not reached the second of the first in-window row, it starts
        // at that second's first row, and whatever was binned is passed.
        const std::int64_t first_index = second_index(rows_begin->timestamp_ms);
        const MonitorSample* second_begin = rows_begin;
        while (second_begin != samples_.data() && second_index((second_begin - 1)->timestamp_ms) == first_index) {
            --second_begin;
        }
        if (const auto skip_to = static_cast<std::size_t>(second_begin - samples_.data()); skip_to > binned_rows_) {
            seconds_.clear();
            first_ = 0;
            binned_rows_ = skip_to;
        }
        // Bin every second up to that of the last in-window row, each whole.
        const std::int64_t last_index = second_index(rows.back().timestamp_ms);
        while (binned_rows_ < samples_.size() && second_index(samples_[binned_rows_].timestamp_ms) <= last_index) {
            const std::int64_t index = second_index(samples_[binned_rows_].timestamp_ms);
            std::size_t end = binned_rows_ + 1;
            while (end < samples_.size() && second_index(samples_[end].timestamp_ms) == index) ++end;
            SecondSample& second = seconds_.emplace_back();
            second.timestamp_ms = second_start_ms(index);
            bin_second(samples_.subspan(binned_rows_, end - binned_rows_), channel_, second);
            binned_rows_ = end;
        }
        // Drop the seconds that end before the first in-window row; the
        // first kept one holds that row.
        while (first_ < seconds_.size() && end_of(first_) <= rows_begin) ++first_;
        if (first_ > seconds_.size() / 2) {
            seconds_.erase(seconds_.begin(), seconds_.begin() + static_cast<std::ptrdiff_t>(first_));
            first_ = 0;
        }
        for (std::size_t k = first_; k < seconds_.size() && seconds_[k].named_by < rows_end; ++k) {
            const SecondSample& recorded = seconds_[k];
            const MonitorSample* const begin = recorded.named_by;
            const MonitorSample* const end = end_of(k);
            SecondSample& second =
                out.series[static_cast<std::size_t>(time::distance(first_second, second_index(begin->timestamp_ms)))];
            if (begin >= rows_begin && end <= rows_end) {
                second.named_by = recorded.named_by;
                second.fetal_bpm = recorded.fetal_bpm;
                second.maternal_bpm = recorded.maternal_bpm;
                second.toco = recorded.toco;
                continue;
            }
            // An edge second the window cuts: binned again from its in-window rows.
            const MonitorSample* const from = std::max(begin, rows_begin);
            const MonitorSample* const to = std::min(end, rows_end);
            bin_second({from, static_cast<std::size_t>(to - from)}, channel_, second);
        }
    }
    finish_window(out, rows, spans);
    return out;
}

}  // namespace fhr_core::analysis
