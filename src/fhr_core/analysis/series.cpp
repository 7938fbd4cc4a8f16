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
    const MonitorSample* named_by = nullptr;
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

PreparedWindow build_second_samples(std::span<const MonitorSample> samples, FetalChannel channel,
                                    const WindowSpans& spans) {
    PreparedWindow out;
    const std::int64_t window_start = spans.start_ms;
    const std::int64_t window_end = spans.end_ms;

    // Rows of [window_start, window_end]; the samples are sorted by time.
    const auto by_time_lower = [](const MonitorSample& s, std::int64_t value) {
        return s.timestamp_ms < value;
    };
    const auto by_time_upper = [](std::int64_t value, const MonitorSample& s) {
        return value < s.timestamp_ms;
    };
    std::span<const MonitorSample> rows;
    if (window_start <= window_end) {
        const auto first =
            std::lower_bound(samples.begin(), samples.end(), window_start, by_time_lower);
        const auto last = std::upper_bound(first, samples.end(), window_end, by_time_upper);
        rows = samples.subspan(static_cast<std::size_t>(first - samples.begin()),
                               static_cast<std::size_t>(last - first));
    }

    // Seconds from the start second to the end second, both included.
    const std::int64_t first_second = second_index(window_start);
    const std::int64_t last_second = second_index(window_end);
    std::size_t seconds = 0;
    if (first_second <= last_second) {
        seconds = static_cast<std::size_t>(time::distance(first_second, last_second)) + 1;
    }

    out.series.resize(seconds);
    for (std::size_t i = 0; i < seconds; ++i) {
        out.series[i].timestamp_ms = second_start_ms(first_second + static_cast<std::int64_t>(i));
    }

    // The rows are sorted by time, so the rows of one second are adjacent and
    // are binned in their recording order by one pass that closes each bin
    // when the next second begins.
    std::uint64_t fetal_seconds = 0;
    std::uint64_t maternal_seconds = 0;
    std::uint64_t toco_seconds = 0;
    std::uint64_t paired = 0;
    std::uint64_t matched = 0;
    std::size_t current = 0;
    SecondAccumulator bin;
    const auto close_bin = [&] {
        SecondSample& second = out.series[current];
        second.named_by = bin.named_by;
        second.fetal_bpm = mean_of(bin.fetal_sum, bin.fetal_count);
        second.maternal_bpm = mean_of(bin.maternal_sum, bin.maternal_count);
        second.toco = mean_of(bin.toco_sum, bin.toco_count);
        if (second.fetal_bpm) ++fetal_seconds;
        if (second.maternal_bpm) ++maternal_seconds;
        if (second.toco) ++toco_seconds;
        if (second.fetal_bpm && second.maternal_bpm) {
            ++paired;
            if (std::abs(*second.fetal_bpm - *second.maternal_bpm) <= kCaptureToleranceBpm) {
                ++matched;
            }
        }
    };
    for (const MonitorSample& row : rows) {
        // Every in-window row lies in one of the window's seconds.
        const auto index =
            static_cast<std::size_t>(time::distance(first_second, second_index(row.timestamp_ms)));
        if (bin.named_by == nullptr || index != current) {
            if (bin.named_by != nullptr) close_bin();
            bin = SecondAccumulator{};
            bin.named_by = &row;  // the first row of a second names it
            current = index;
        }
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
    if (bin.named_by != nullptr) close_bin();

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
    return out;
}

}  // namespace fhr_core::analysis
