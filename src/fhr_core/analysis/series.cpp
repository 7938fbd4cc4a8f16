#include "fhr_core/analysis/series.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>

namespace fhr_core::analysis {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr double kMsPerSecondDouble = 1000.0;

// Usable ranges of the three signals, both bounds inclusive.
constexpr double kUsableHeartRateMin = 30.0;
constexpr double kUsableHeartRateMax = 240.0;
constexpr double kUsableTocoMin = 0.0;
constexpr double kUsableTocoMax = 300.0;

// Fetal and maternal values this close are counted as possibly the same heart.
constexpr double kCaptureToleranceBpm = 5.0;

constexpr std::string_view kUnknownText = "unknown";

constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// Index of the whole second holding `ms`, rounding toward negative infinity
// (-1 ms lies in second -1).
std::int64_t second_index(std::int64_t ms) {
    std::int64_t q = ms / kMsPerSecond;
    if (ms % kMsPerSecond < 0) --q;
    return q;
}

// Start of second `index` in milliseconds. The lowest second of the int64
// range starts before the first representable instant; it is pinned to that
// instant instead of overflowing.
std::int64_t second_start_ms(std::int64_t index) {
    constexpr std::int64_t kLowestWholeIndex = kInt64Min / kMsPerSecond;  // truncates toward 0
    if (index < kLowestWholeIndex) return kInt64Min;
    return index * kMsPerSecond;
}

// Exact unsigned difference b - a of two instants with a <= b.
std::uint64_t distance(std::int64_t a, std::int64_t b) {
    return static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

bool usable_heart_rate(const OptionalValue& v) {
    return v && *v >= kUsableHeartRateMin && *v <= kUsableHeartRateMax;
}

bool usable_toco(const OptionalValue& v) {
    return v && *v >= kUsableTocoMin && *v <= kUsableTocoMax;
}

// The working bin of one second while the series is built.
struct SecondAccumulator {
    std::string_view timestamp;
    bool named = false;
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
    if (!second.timestamp.empty()) return std::string(second.timestamp);
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, second.timestamp_ms);
    std::string text(buffer, result.ptr);
    text += "ms";
    return text;
}

std::string closest_second_text(const Series& series, std::int64_t ms) {
    const auto after = std::lower_bound(
        series.begin(), series.end(), ms,
        [](const SecondSample& s, std::int64_t value) { return s.timestamp_ms < value; });
    if (after == series.begin()) return second_text(series.front());
    if (after == series.end()) return second_text(series.back());
    const auto before = after - 1;
    // before < ms <= after; the earlier second wins a tie.
    if (distance(before->timestamp_ms, ms) <= distance(ms, after->timestamp_ms)) {
        return second_text(*before);
    }
    return second_text(*after);
}

Span current_segment(std::int64_t window_start, std::int64_t window_end, std::int64_t length_ms) {
    // window_end - length_ms, saturated at the ends of the int64 range.
    std::int64_t back;
    if (length_ms >= 0) {
        back = window_end < kInt64Min + length_ms ? kInt64Min : window_end - length_ms;
    } else {
        back = window_end > kInt64Max + length_ms ? kInt64Max : window_end - length_ms;
    }
    return Span{std::max(window_start, back), window_end};
}

std::uint64_t window_span_ms(std::int64_t window_start, std::int64_t window_end) {
    return window_end > window_start ? distance(window_start, window_end) : 0;
}

PreparedWindow build_second_samples(std::span<const MonitorSample> samples, FetalChannel channel,
                                    std::int64_t window_start, std::int64_t window_end) {
    PreparedWindow out;

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
        seconds = static_cast<std::size_t>(distance(first_second, last_second)) + 1;
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
        second.timestamp = bin.timestamp;
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
            static_cast<std::size_t>(distance(first_second, second_index(row.timestamp_ms)));
        if (!bin.named || index != current) {
            if (bin.named) close_bin();
            bin = SecondAccumulator{};
            bin.timestamp = row.timestamp;  // the first row of a second names it
            bin.named = true;
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
    if (bin.named) close_bin();

    const std::uint64_t span_ms = window_span_ms(window_start, window_end);
    DataQuality& quality = out.data_quality;
    quality.expected_seconds =
        std::max<std::uint64_t>(out.series.size(), span_ms / static_cast<std::uint64_t>(kMsPerSecond));
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
    out.duration_seconds = static_cast<double>(span_ms) / kMsPerSecondDouble;
    return out;
}

}  // namespace fhr_core::analysis
