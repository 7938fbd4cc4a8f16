#include "fhr_core/analysis/contractions.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "fhr_core/analysis/summary.hpp"
#include "fhr_core/time/instant.hpp"

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
constexpr std::uint64_t kMinPeakSeparationMs = 54'999;
// A contraction reaches at most this far from its peak on either side.
constexpr std::uint64_t kMaxHalfExtentMs = time::seconds_ms(90);
constexpr double kMinDurationSeconds = 10.0;
constexpr double kMaxDurationSeconds = 180.0;

// Tachysystole needs a 30-minute window with enough TOCO, and means more than
// this many contractions.
constexpr std::size_t kTachysystoleMinTocoSeconds = 1200;
constexpr std::size_t kTachysystoleMaxContractions = 15;
constexpr double kRateMinutes = 10.0;

// The link of a deceleration to a contraction.
constexpr std::uint64_t kLinkBeforeStartMs = time::seconds_ms(30);
constexpr std::uint64_t kLinkAfterEndMs = time::seconds_ms(60);

struct SmoothedPoint {
    std::int64_t time_ms = 0;
    double value = 0.0;
};

struct Candidate {
    std::size_t index = 0;
    std::int64_t time_ms = 0;
    double value = 0.0;
};

// Mean of the present TOCO values among seconds[from..to], in index order.
std::optional<double> mean_toco(std::span<const SecondSample> seconds, std::size_t from, std::size_t to) {
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
    if (!(v >= peak_level) || !detection.contains(points[i].time_ms)) return false;

    // Nearest neighbours first: a point on a slope fails at once.
    for (std::size_t d = 1; d <= kLocalMaxPoints; ++d) {
        if ((d <= i && points[i - d].value > v) || (i + d < m && points[i + d].value > v)) return false;
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

Span link_span(std::int64_t contraction_start, std::int64_t contraction_end) {
    return Span{time::earlier(contraction_start, kLinkBeforeStartMs), time::later(contraction_end, kLinkAfterEndMs)};
}

std::vector<Contraction> detect_contractions(SeriesView series, const WindowSpans& spans,
                                             SortedSeconds& sorted_toco, SmoothedSeconds& smoothing) {
    const Span detection = spans.current_20_min;
    const std::span<const SecondSample> seconds = seconds_within(series, detection);
    const std::size_t n = seconds.size();

    const std::vector<double>& toco = sorted_toco.of(seconds, &SecondSample::toco);
    if (toco.size() < kMinTocoSeconds) return {};
    const double p20 = quantile(toco, kLowQuantile);
    const double p90 = quantile(toco, kEdgeQuantile);
    const double p95 = quantile(toco, kHighQuantile);
    const double range = p95 - p20;
    if (range < kMinTocoRange) return {};

    // Centred moving average over every second of the span, present or not;
    // each point is averaged afresh so that it depends on its own seconds
    // only. A point whose seconds include neither end of the span (so neither
    // end of the window) is the same in every window: it is shared.
    // At most one point a second: they are written in place and the list
    // cut to those written.
    std::vector<SmoothedPoint> points(n);
    SmoothedPoint* next_point = points.data();
    smoothing.start(seconds.front().timestamp_ms);
    const auto add_at = [&](std::int64_t second_ms, const std::optional<double>& mean) {
        *next_point = SmoothedPoint{second_ms, mean.value_or(0.0)};
        next_point += mean ? 1 : 0;
    };
    const auto add_point = [&](std::size_t i, const std::optional<double>& mean) {
        add_at(seconds[i].timestamp_ms, mean);
    };
    const auto average = [&](std::size_t i) {
        return mean_toco(seconds, i >= kSmoothingHalfWidth ? i - kSmoothingHalfWidth : 0,
                         std::min(n - 1, i + kSmoothingHalfWidth));
    };
    // The inner points are those whose seconds hold neither end of the span.
    const std::size_t inner_from = kSmoothingHalfWidth + 1;
    const std::size_t inner_to = n >= kSmoothingHalfWidth + 1 ? n - kSmoothingHalfWidth - 1 : 0;  // exclusive
    if (!smoothing.shared() || inner_from >= inner_to) {
        for (std::size_t i = 0; i < n; ++i) add_point(i, average(i));
    } else {
        for (std::size_t i = 0; i < inner_from; ++i) add_point(i, average(i));
        smoothing.values(seconds, inner_from, inner_to, average, add_at);
        for (std::size_t i = inner_to; i < n; ++i) add_point(i, average(i));
    }
    points.resize(static_cast<std::size_t>(next_point - points.data()));
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
    accepted.reserve(candidates.size());
    for (const Candidate& candidate : candidates) {
        const bool separate =
            std::all_of(accepted.begin(), accepted.end(), [&candidate](const Candidate& other) {
                return time::distance(candidate.time_ms, other.time_ms) > kMinPeakSeparationMs;
            });
        if (separate) accepted.push_back(candidate);
    }
    std::stable_sort(accepted.begin(), accepted.end(), [](const Candidate& a, const Candidate& b) {
        return a.time_ms < b.time_ms;
    });

    std::vector<Contraction> contractions;
    contractions.reserve(accepted.size());
    for (std::size_t k = 0; k < accepted.size(); ++k) {
        const std::int64_t t = accepted[k].time_ms;
        const std::size_t p = accepted[k].index;

        // Neighbouring peaks share the ground between them at the midpoint.
        std::int64_t lower = k > 0 ? time::midpoint(accepted[k - 1].time_ms, t) : detection.from_ms;
        lower = std::max({lower, time::earlier(t, kMaxHalfExtentMs), detection.from_ms});
        std::int64_t upper = k + 1 < accepted.size() ? time::midpoint(t, accepted[k + 1].time_ms) : spans.end_ms;
        upper = std::min({upper, time::later(t, kMaxHalfExtentMs), spans.end_ms});

        std::size_t onset = p;
        while (onset > 0) {
            const SmoothedPoint& before = points[onset - 1];
            if (before.time_ms < lower) break;
            if (before.value <= edge_level) {
                --onset;
                break;
            }
            --onset;
        }
        std::size_t offset = p;
        while (offset + 1 < points.size()) {
            const SmoothedPoint& after = points[offset + 1];
            if (after.time_ms > upper) break;
            if (after.value <= edge_level) {
                ++offset;
                break;
            }
            ++offset;
        }

        // The contraction runs from the second of its onset point to the
        // second of its offset point.
        const std::int64_t onset_ms = points[onset].time_ms;
        const std::int64_t last_ms = points[offset].time_ms;
        const double duration = stretch_seconds(onset_ms, last_ms);
        if (!(kMinDurationSeconds <= duration && duration <= kMaxDurationSeconds)) continue;

        const SecondSample& start = closest_second(series, onset_ms);
        const SecondSample& peak = closest_second(series, t);
        const SecondSample& end = closest_second(series, stretch_end(last_ms));
        Contraction& c = contractions.emplace_back();
        c.event.start = second_text(start);
        c.event.peak = second_text(peak);
        c.event.end = second_text(end);
        c.event.duration_seconds = duration;
        c.event.peak_toco = accepted[k].value;
        c.at = ContractionInstants{second_instant(start), second_instant(peak), second_instant(end)};
    }
    return contractions;
}

double contraction_rate(std::size_t contractions, const WindowSpans& spans) {
    const double window_minutes =
        time::seconds_from_ms(spans.length_ms) / static_cast<double>(time::kSecondsPerMinute);
    if (!(window_minutes > 0.0)) return 0.0;
    return static_cast<double>(contractions) / window_minutes * kRateMinutes;
}

std::optional<bool> tachysystole(std::size_t contractions, std::uint64_t toco_seconds, const WindowSpans& spans) {
    if (!spans.at_least_30_min || toco_seconds < kTachysystoleMinTocoSeconds) return std::nullopt;
    return contractions > kTachysystoleMaxContractions;
}

}  // namespace fhr_core::analysis
