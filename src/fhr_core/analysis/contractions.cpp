#include "fhr_core/analysis/contractions.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

#include "fhr_core/analysis/summary.hpp"

namespace fhr_core::analysis {

namespace {

// Fewer present TOCO seconds than this in the segment: no contractions.
constexpr std::size_t kMinTocoSeconds = 60;

constexpr double kLowQuantile = 0.2;
constexpr double kEdgeQuantile = 0.9;
constexpr double kHighQuantile = 0.95;
// A segment whose TOCO spread (p95 - p20) is below this is flat.
constexpr double kMinTocoRange = 5.0;

// Centred moving average over 2 * kSmoothingHalfWidth + 1 seconds.
constexpr std::size_t kSmoothingHalfWidth = 3;
constexpr std::size_t kMinSmoothedPoints = 3;

// Levels relative to the segment's own TOCO percentiles.
constexpr double kEdgeFraction = 0.2;
constexpr double kMinEdgeRise = 3.0;
constexpr double kProminenceFraction = 0.2;
constexpr double kMinProminence = 5.0;
constexpr double kPeakFraction = 0.45;
constexpr double kMinPeakRise = 10.0;

// A candidate is a local maximum over this many points either side, and its
// prominence is measured against the minima this many points either side.
constexpr std::size_t kLocalMaxPoints = 10;
constexpr std::size_t kProminencePoints = 60;

// Accepted peaks lie 55 seconds or more apart.
constexpr std::int64_t kMinPeakSeparationMs = 54'999;
// A contraction reaches at most this far from its peak on either side.
constexpr std::int64_t kMaxHalfExtentMs = 90'000;
constexpr std::int64_t kSecondMs = 1000;
constexpr double kMsPerSecond = 1000.0;
constexpr double kMinDurationSeconds = 10.0;
constexpr double kMaxDurationSeconds = 180.0;

// Tachysystole needs a 30-minute window with enough TOCO, and means more than
// this many contractions.
constexpr std::size_t kTachysystoleMinTocoSeconds = 1200;
constexpr std::size_t kTachysystoleMaxContractions = 15;
constexpr double kSecondsPerMinute = 60.0;
constexpr double kRateMinutes = 10.0;

using Wide = __int128;

constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

struct SmoothedPoint {
    std::int64_t time_ms = 0;
    double value = 0.0;
};

struct Candidate {
    std::size_t index = 0;
    std::int64_t time_ms = 0;
    double value = 0.0;
};

std::int64_t clamp_to_int64(Wide ms) {
    if (ms > Wide{kInt64Max}) return kInt64Max;
    if (ms < Wide{kInt64Min}) return kInt64Min;
    return static_cast<std::int64_t>(ms);
}

// max(end - start, 0) / 1000.0, exact for any pair of instants.
double seconds_between(Wide start, Wide end) {
    if (end <= start) return 0.0;
    return static_cast<double>(static_cast<std::uint64_t>(end - start)) / kMsPerSecond;
}

Wide distance_ms(std::int64_t a, std::int64_t b) {
    const Wide d = Wide{a} - Wide{b};
    return d < 0 ? -d : d;
}

// Mean of the present TOCO values among seconds[from..to], in index order.
std::optional<double> mean_toco(const SecondSample* seconds, std::size_t from, std::size_t to) {
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t i = from; i <= to; ++i) {
        if (seconds[i].toco) {
            sum += *seconds[i].toco;
            ++count;
        }
    }
    if (count == 0) return std::nullopt;
    return sum / static_cast<double>(count);
}

bool is_candidate(const std::vector<SmoothedPoint>& points, std::size_t i, double peak_level,
                  double prominence_min, Span detection) {
    const std::size_t m = points.size();
    const double v = points[i].value;
    if (!detection.contains(points[i].time_ms) || !(v >= peak_level)) return false;

    const std::size_t near_from = i >= kLocalMaxPoints ? i - kLocalMaxPoints : 0;
    const std::size_t near_to = std::min(m - 1, i + kLocalMaxPoints);
    for (std::size_t j = near_from; j <= near_to; ++j) {
        if (points[j].value > v) return false;
    }

    const std::size_t far_from = i >= kProminencePoints ? i - kProminencePoints : 0;
    const std::size_t far_to = std::min(m - 1, i + kProminencePoints);
    double left_min = v;
    for (std::size_t j = far_from; j <= i; ++j) left_min = std::min(left_min, points[j].value);
    double right_min = v;
    for (std::size_t j = i; j <= far_to; ++j) right_min = std::min(right_min, points[j].value);
    return v - std::max(left_min, right_min) >= prominence_min;
}

}  // namespace

std::vector<ContractionEvent> detect_contractions(const Series& series, std::int64_t window_start,
                                                  std::int64_t window_end) {
    const Span detection = current_segment(window_start, window_end, kTwentyMinutesMs);

    // The seconds of the detection span form one stretch of the time-ordered series.
    const auto first = std::lower_bound(
        series.begin(), series.end(), detection.from_ms,
        [](const SecondSample& s, std::int64_t ms) { return s.timestamp_ms < ms; });
    const auto last = std::upper_bound(
        first, series.end(), detection.to_ms,
        [](std::int64_t ms, const SecondSample& s) { return ms < s.timestamp_ms; });
    const SecondSample* seconds = series.data() + (first - series.begin());
    const auto n = static_cast<std::size_t>(last - first);

    std::vector<double> toco;
    toco.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (seconds[i].toco) toco.push_back(*seconds[i].toco);
    }
    if (toco.size() < kMinTocoSeconds) return {};
    sort_total_order(toco);
    const double p20 = quantile(toco, kLowQuantile);
    const double p90 = quantile(toco, kEdgeQuantile);
    const double p95 = quantile(toco, kHighQuantile);
    const double range = p95 - p20;
    if (range < kMinTocoRange) return {};

    // Centred moving average over every second of the span, present or not;
    // each point is averaged afresh so that it depends on its own seconds only.
    std::vector<SmoothedPoint> points;
    points.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = i >= kSmoothingHalfWidth ? i - kSmoothingHalfWidth : 0;
        const std::size_t to = std::min(n - 1, i + kSmoothingHalfWidth);
        if (const std::optional<double> mean = mean_toco(seconds, from, to)) {
            points.push_back(SmoothedPoint{seconds[i].timestamp_ms, *mean});
        }
    }
    if (points.size() < kMinSmoothedPoints) return {};

    const double edge_level = p20 + std::max((p90 - p20) * kEdgeFraction, kMinEdgeRise);
    const double prominence_min = std::max(range * kProminenceFraction, kMinProminence);
    const double peak_level = p20 + std::max(range * kPeakFraction, kMinPeakRise);

    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (is_candidate(points, i, peak_level, prominence_min, detection)) {
            candidates.push_back(Candidate{i, points[i].time_ms, points[i].value});
        }
    }

    // Highest first (equal values keep time order); a candidate closer than
    // the separation to an accepted one is part of the same contraction.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.value > b.value; });
    std::vector<Candidate> accepted;
    for (const Candidate& candidate : candidates) {
        const bool separate =
            std::all_of(accepted.begin(), accepted.end(), [&candidate](const Candidate& other) {
                return distance_ms(candidate.time_ms, other.time_ms) > kMinPeakSeparationMs;
            });
        if (separate) accepted.push_back(candidate);
    }
    std::stable_sort(accepted.begin(), accepted.end(), [](const Candidate& a, const Candidate& b) {
        return a.time_ms < b.time_ms;
    });

    std::vector<ContractionEvent> events;
    for (std::size_t k = 0; k < accepted.size(); ++k) {
        const std::int64_t t = accepted[k].time_ms;
        const std::size_t p = accepted[k].index;

        // Neighbouring peaks share the ground between them at the midpoint.
        Wide lower = detection.from_ms;
        if (k > 0) {
            const std::int64_t prev = accepted[k - 1].time_ms;
            lower = Wide{prev} + (Wide{t} - Wide{prev}) / 2;
        }
        lower = std::max(lower, Wide{t} - kMaxHalfExtentMs);
        lower = std::max(lower, Wide{detection.from_ms});

        Wide upper = window_end;
        if (k + 1 < accepted.size()) {
            const std::int64_t next = accepted[k + 1].time_ms;
            upper = Wide{t} + (Wide{next} - Wide{t}) / 2;
        }
        upper = std::min(upper, Wide{t} + kMaxHalfExtentMs);
        upper = std::min(upper, Wide{window_end});

        std::size_t onset = p;
        while (onset > 0) {
            const SmoothedPoint& before = points[onset - 1];
            if (Wide{before.time_ms} < lower) break;
            if (before.value <= edge_level) {
                --onset;
                break;
            }
            --onset;
        }
        std::size_t offset = p;
        while (offset + 1 < points.size()) {
            const SmoothedPoint& after = points[offset + 1];
            if (Wide{after.time_ms} > upper) break;
            if (after.value <= edge_level) {
                ++offset;
                break;
            }
            ++offset;
        }

        const std::int64_t onset_ms = points[onset].time_ms;
        const Wide end_ms = Wide{points[offset].time_ms} + kSecondMs;
        const double duration = seconds_between(onset_ms, end_ms);
        if (!(kMinDurationSeconds <= duration && duration <= kMaxDurationSeconds)) continue;

        ContractionEvent event;
        event.start = closest_second_text(series, onset_ms);
        event.peak = closest_second_text(series, t);
        event.end = closest_second_text(series, clamp_to_int64(end_ms));
        event.duration_seconds = duration;
        event.peak_toco = accepted[k].value;
        events.push_back(std::move(event));
    }
    return events;
}

TocoSummary summarize_contractions(std::vector<ContractionEvent> contractions, const Series& series,
                                   std::int64_t window_start, std::int64_t window_end) {
    TocoSummary summary;
    const std::uint64_t span_ms = window_span_ms(window_start, window_end);
    const double window_minutes =
        static_cast<double>(span_ms) / kMsPerSecond / kSecondsPerMinute;
    const std::size_t count = contractions.size();
    if (window_minutes > 0.0) {
        summary.contractions_per_10_min =
            static_cast<double>(count) / window_minutes * kRateMinutes;
    }

    if (!series.empty() && span_ms >= static_cast<std::uint64_t>(kThirtyMinutesMs)) {
        const auto toco_seconds = static_cast<std::size_t>(std::count_if(
            series.begin(), series.end(), [](const SecondSample& s) { return s.toco.has_value(); }));
        if (toco_seconds >= kTachysystoleMinTocoSeconds) {
            summary.tachysystole = count > kTachysystoleMaxContractions;
        }
    }
    summary.contraction_events = std::move(contractions);
    return summary;
}

}  // namespace fhr_core::analysis
