#include "fhr_core/analysis/events.hpp"

#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "fhr_core/time/timestamp.hpp"

namespace fhr_core::analysis {

namespace {

// Acceleration criterion: bpm above the baseline and seconds of duration.
constexpr double kPretermAccelerationCriterion = 10.0;
constexpr double kTermAccelerationCriterion = 15.0;
constexpr std::uint8_t kTermFromWeeks = 32;

constexpr std::int64_t kSecondMs = 1000;
constexpr double kMsPerSecond = 1000.0;

// Up to this many consecutive non-qualifying seconds are bridged inside a run.
constexpr int kBridgedSeconds = 3;

constexpr double kAccelerationMaxSeconds = 120.0;
constexpr double kAccelerationMaxTimeToPeakSeconds = 30.0;

constexpr double kDecelerationDropBpm = 15.0;
constexpr double kDecelerationMinSeconds = 15.0;
constexpr double kDecelerationMinDepthBpm = 15.0;
constexpr double kProlongedMinSeconds = 120.0;
constexpr double kProlongedMaxSeconds = 600.0;
constexpr double kVariableMaxOnsetToNadirSeconds = 30.0;

// Association of a deceleration nadir with a contraction, and the lag that
// separates an early from a late deceleration.
constexpr std::int64_t kAssociationBeforeStartMs = 30'000;
constexpr std::int64_t kAssociationAfterEndMs = 60'000;
constexpr std::int64_t kEarlyMaxLagMs = 5'000;

using Wide = __int128;

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// A run of qualifying seconds: `start` is the first qualifying second,
// `end` one second past the last (kept wide so that the very last
// representable second still gets its full length), `first_index` the
// index of the first qualifying second in the series.
struct Run {
    std::int64_t start = 0;
    Wide end = 0;
    std::size_t first_index = 0;
};

// Key under which doubles compare in IEEE 754 total order.
std::int64_t total_order_key(double value) {
    const auto bits = std::bit_cast<std::int64_t>(value);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

bool total_order_less(double a, double b) { return total_order_key(a) < total_order_key(b); }

// Clamps a wide instant to the int64 range, for looking up the closest second.
std::int64_t clamp_to_int64(Wide ms) {
    return ms > Wide{kInt64Max} ? kInt64Max : static_cast<std::int64_t>(ms);
}

// max(end - start, 0) / 1000.0, exact for any pair of instants.
double seconds_between(Wide start, Wide end) {
    if (end <= start) return 0.0;
    return static_cast<double>(static_cast<std::uint64_t>(end - start)) / kMsPerSecond;
}

// Finds the runs of qualifying seconds within the detection span. Seconds
// outside the span leave the state untouched.
template <class Qualifies>
std::vector<Run> find_runs(const Series& series, Span detection, Qualifies qualifies) {
    std::vector<Run> runs;
    bool in_run = false;
    int gap = 0;
    Run current;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const SecondSample& second = series[i];
        if (!detection.contains(second.timestamp_ms)) continue;
        if (qualifies(second)) {
            gap = 0;
            if (!in_run) {
                current.start = second.timestamp_ms;
                current.first_index = i;
                in_run = true;
            }
            current.end = Wide{second.timestamp_ms} + kSecondMs;
        } else if (in_run) {
            if (gap < kBridgedSeconds) {
                ++gap;
            } else {
                runs.push_back(current);
                in_run = false;
                gap = 0;
            }
        }
    }
    if (in_run) runs.push_back(current);
    return runs;
}

// Index of the extreme fetal value among the seconds of [run.start, run.end].
// `prefer(candidate, best)` decides whether a later second replaces the best
// so far. Returns series.size() when no second in the run has a fetal value.
template <class Prefer>
std::size_t extreme_second(const Series& series, const Run& run, Prefer prefer) {
    std::size_t best = series.size();
    for (std::size_t i = run.first_index; i < series.size(); ++i) {
        const SecondSample& second = series[i];
        if (Wide{second.timestamp_ms} > run.end) break;
        if (!second.fetal_bpm) continue;
        if (best == series.size() || prefer(*second.fetal_bpm, *series[best].fetal_bpm)) best = i;
    }
    return best;
}

}  // namespace

double acceleration_criterion(std::optional<std::uint8_t> gestational_age_weeks) {
    if (gestational_age_weeks && *gestational_age_weeks < kTermFromWeeks) {
        return kPretermAccelerationCriterion;
    }
    return kTermAccelerationCriterion;
}

std::vector<AccelerationEvent> detect_accelerations(const Series& series, Span detection,
                                                    std::int32_t baseline_bpm, double criterion) {
    const double threshold = static_cast<double>(baseline_bpm) + criterion;
    const std::vector<Run> runs = find_runs(series, detection, [threshold](const SecondSample& s) {
        return s.fetal_bpm && *s.fetal_bpm >= threshold;
    });

    std::vector<AccelerationEvent> events;
    for (const Run& run : runs) {
        const double duration = seconds_between(run.start, run.end);
        if (!(criterion <= duration && duration < kAccelerationMaxSeconds)) continue;

        // Highest value; among equals the latest second wins.
        const std::size_t peak = extreme_second(series, run, [](double candidate, double best) {
            return !total_order_less(candidate, best);
        });
        if (peak == series.size()) continue;
        const double time_to_peak = seconds_between(run.start, series[peak].timestamp_ms);
        if (time_to_peak >= kAccelerationMaxTimeToPeakSeconds) continue;

        AccelerationEvent event;
        event.start = closest_second_text(series, run.start);
        event.end = closest_second_text(series, clamp_to_int64(run.end));
        event.duration_seconds = duration;
        event.peak_bpm = *series[peak].fetal_bpm;
        events.push_back(std::move(event));
    }
    return events;
}

std::vector<DecelerationEvent> detect_decelerations(const Series& series, Span detection,
                                                    std::int32_t baseline_bpm) {
    const double baseline = static_cast<double>(baseline_bpm);
    const double threshold = baseline - kDecelerationDropBpm;
    const std::vector<Run> runs = find_runs(series, detection, [threshold](const SecondSample& s) {
        return s.fetal_bpm && *s.fetal_bpm <= threshold;
    });

    std::vector<DecelerationEvent> events;
    for (const Run& run : runs) {
        const double duration = seconds_between(run.start, run.end);
        if (duration < kDecelerationMinSeconds) continue;

        // Lowest value; among equals the earliest second wins.
        const std::size_t nadir = extreme_second(series, run, [](double candidate, double best) {
            return total_order_less(candidate, best);
        });
        if (nadir == series.size()) continue;
        const double nadir_bpm = *series[nadir].fetal_bpm;
        const double depth = baseline - nadir_bpm;
        if (depth < kDecelerationMinDepthBpm) continue;
        const double onset_to_nadir = seconds_between(run.start, series[nadir].timestamp_ms);

        DecelerationKind kind = DecelerationKind::gradual_unclassified;
        if (kProlongedMinSeconds <= duration && duration < kProlongedMaxSeconds) {
            kind = DecelerationKind::prolonged;
        } else if (onset_to_nadir < kVariableMaxOnsetToNadirSeconds) {
            kind = DecelerationKind::variable;
        }

        DecelerationEvent event;
        event.start = closest_second_text(series, run.start);
        event.end = closest_second_text(series, clamp_to_int64(run.end));
        event.duration_seconds = duration;
        event.nadir_bpm = nadir_bpm;
        event.depth_bpm = depth;
        event.onset_to_nadir_seconds = onset_to_nadir;
        event.kind = kind;
        events.push_back(std::move(event));
    }
    return events;
}

std::optional<DecelTimes> decel_times(const DecelerationEvent& event) {
    const Result<std::int64_t> start = time::parse_monitor_timestamp(event.start);
    if (!start) return std::nullopt;
    const Result<std::int64_t> end = time::parse_monitor_timestamp(event.end);
    if (!end) return std::nullopt;

    // The nadir offset must be a whole number of milliseconds that keeps the
    // nadir instant representable; otherwise the instant does not exist.
    constexpr double kInt64Bound = 9223372036854775808.0;  // 2^63
    const double offset = std::round(event.onset_to_nadir_seconds * kMsPerSecond);
    if (!(offset >= -kInt64Bound && offset < kInt64Bound)) return std::nullopt;
    std::int64_t nadir = 0;
    if (__builtin_add_overflow(*start, static_cast<std::int64_t>(offset), &nadir)) {
        return std::nullopt;
    }
    return DecelTimes{*start, nadir, *end};
}

void time_gradual_decelerations(std::vector<DecelerationEvent>& decelerations,
                                const std::vector<ContractionEvent>& contractions) {
    if (contractions.empty()) return;

    struct ContractionTimes {
        std::int64_t start = 0;
        std::int64_t peak = 0;
        std::int64_t end = 0;
    };
    // Contractions whose texts do not all parse take no part in the timing.
    std::vector<ContractionTimes> timed;
    timed.reserve(contractions.size());
    for (const ContractionEvent& contraction : contractions) {
        const Result<std::int64_t> start = time::parse_monitor_timestamp(contraction.start);
        if (!start) continue;
        const Result<std::int64_t> peak = time::parse_monitor_timestamp(contraction.peak);
        if (!peak) continue;
        const Result<std::int64_t> end = time::parse_monitor_timestamp(contraction.end);
        if (!end) continue;
        timed.push_back(ContractionTimes{*start, *peak, *end});
    }

    for (DecelerationEvent& deceleration : decelerations) {
        if (deceleration.kind == DecelerationKind::variable ||
            deceleration.kind == DecelerationKind::prolonged) {
            continue;
        }
        const std::optional<DecelTimes> times = decel_times(deceleration);
        if (!times) continue;

        // Wide arithmetic: the bounds and distances may leave the int64 range.
        const Wide nadir = times->nadir;
        const ContractionTimes* chosen = nullptr;
        Wide best_distance = 0;
        for (const ContractionTimes& c : timed) {
            const bool near_nadir = Wide{c.start} - kAssociationBeforeStartMs <= nadir &&
                                    nadir <= Wide{c.end} + kAssociationAfterEndMs;
            const bool overlaps = times->start <= c.end && c.start <= times->end;
            if (!near_nadir && !overlaps) continue;
            const Wide lag = nadir - c.peak;
            const Wide distance = lag < 0 ? -lag : lag;
            if (chosen == nullptr || distance < best_distance) {
                chosen = &c;
                best_distance = distance;
            }
        }
        if (chosen == nullptr) continue;

        const Wide lag = nadir - chosen->peak;
        if (lag >= -kEarlyMaxLagMs && lag <= kEarlyMaxLagMs) {
            deceleration.kind = DecelerationKind::early;
        } else if (lag > kEarlyMaxLagMs) {
            deceleration.kind = DecelerationKind::late;
        }
        // A nadir more than the early lag before the peak keeps its kind.
    }
}

}  // namespace fhr_core::analysis
