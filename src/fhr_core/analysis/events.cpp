#include "fhr_core/analysis/events.hpp"

#include <bit>
#include <cstddef>
#include <utility>

#include "fhr_core/time/instant.hpp"

namespace fhr_core::analysis {

namespace {

// Acceleration criterion: bpm above the baseline and seconds of duration.
constexpr double kPretermAccelerationCriterion = 10.0;
constexpr double kTermAccelerationCriterion = 15.0;
constexpr std::uint8_t kTermFromWeeks = 32;

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

// A nadir this close to its contraction's peak makes an early deceleration.
constexpr std::uint64_t kEarlyMaxLagMs = time::seconds_ms(5);

// Room made at once for this many runs of a span, enough for most.
constexpr std::size_t kRunsReserved = 16;

// A run of qualifying seconds: the first and the last qualifying second, and
// the index of the first in the series.
struct Run {
    std::int64_t start = 0;
    std::int64_t last = 0;
    std::size_t first_index = 0;

    std::int64_t end() const { return stretch_end(last); }
    double duration_seconds() const { return stretch_seconds(start, last); }
};

// Key under which doubles compare in IEEE 754 total order.
std::int64_t total_order_key(double value) {
    const auto bits = std::bit_cast<std::int64_t>(value);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

bool total_order_less(double a, double b) { return total_order_key(a) < total_order_key(b); }

// Finds the runs of qualifying seconds within the detection span (one
// stretch of the series).
template <class Qualifies>
std::vector<Run> find_runs(SeriesView series, Span detection, Qualifies qualifies) {
    std::vector<Run> runs;
    runs.reserve(kRunsReserved);
    bool in_run = false;
    int gap = 0;
    Run current;
    const SeriesView within = seconds_within(series, detection);
    const std::size_t first = within.empty() ? 0 : static_cast<std::size_t>(within.data() - series.data());
    for (std::size_t i = first; i < first + within.size(); ++i) {
        const SecondSample& second = series[i];
        if (qualifies(second)) {
            gap = 0;
            if (!in_run) {
                current.start = second.timestamp_ms;
                current.first_index = i;
                in_run = true;
            }
            current.last = second.timestamp_ms;
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

// Index of the extreme fetal value among the seconds from the run's start to
// its end, both included. `prefer(candidate, best)` decides whether a later
// second replaces the best so far. Returns series.size() when no second in
// the run has a fetal value.
template <class Prefer>
std::size_t extreme_second(SeriesView series, const Run& run, Prefer prefer) {
    const std::int64_t end = run.end();
    std::size_t best = series.size();
    for (std::size_t i = run.first_index; i < series.size(); ++i) {
        const SecondSample& second = series[i];
        if (second.timestamp_ms > end) break;
        if (!second.fetal_bpm) continue;
        if (best == series.size() || prefer(*second.fetal_bpm, *series[best].fetal_bpm)) best = i;
    }
    return best;
}

// The instants of a deceleration's texts and its nadir, when all exist.
std::optional<DecelerationInstants> deceleration_instants(const SecondSample& start, const SecondSample& end,
                                                          std::uint64_t onset_to_nadir_ms) {
    const std::optional<std::int64_t> start_ms = second_instant(start);
    const std::optional<std::int64_t> end_ms = second_instant(end);
    if (!start_ms || !end_ms) return std::nullopt;
    const std::optional<std::int64_t> nadir_ms = time::checked_later(*start_ms, onset_to_nadir_ms);
    if (!nadir_ms) return std::nullopt;
    return DecelerationInstants{*start_ms, *nadir_ms, *end_ms};
}

}  // namespace

double acceleration_criterion(std::optional<std::uint8_t> gestational_age_weeks) {
    if (gestational_age_weeks && *gestational_age_weeks < kTermFromWeeks) {
        return kPretermAccelerationCriterion;
    }
    return kTermAccelerationCriterion;
}

std::vector<AccelerationEvent> detect_accelerations(SeriesView series, Span detection,
                                                    std::int32_t baseline_bpm, double criterion) {
    const double threshold = static_cast<double>(baseline_bpm) + criterion;
    const std::vector<Run> runs = find_runs(series, detection, [threshold](const SecondSample& s) {
        return s.fetal_bpm && *s.fetal_bpm >= threshold;
    });

    std::vector<AccelerationEvent> events;
    events.reserve(runs.size());
    for (const Run& run : runs) {
        const double duration = run.duration_seconds();
        if (!(criterion <= duration && duration < kAccelerationMaxSeconds)) continue;

        // Highest value; among equals the latest second wins.
        const std::size_t peak = extreme_second(series, run, [](double candidate, double best) {
            return !total_order_less(candidate, best);
        });
        if (peak == series.size()) continue;
        const double time_to_peak =
            time::seconds_from_ms(time::length_between(run.start, series[peak].timestamp_ms));
        if (time_to_peak >= kAccelerationMaxTimeToPeakSeconds) continue;

        AccelerationEvent event;
        event.start = second_text(closest_second(series, run.start));
        event.end = second_text(closest_second(series, run.end()));
        event.duration_seconds = duration;
        event.peak_bpm = *series[peak].fetal_bpm;
        events.push_back(std::move(event));
    }
    return events;
}

std::vector<Deceleration> detect_decelerations(SeriesView series, Span detection,
                                               std::int32_t baseline_bpm) {
    const double baseline = static_cast<double>(baseline_bpm);
    const double threshold = baseline - kDecelerationDropBpm;
    const std::vector<Run> runs = find_runs(series, detection, [threshold](const SecondSample& s) {
        return s.fetal_bpm && *s.fetal_bpm <= threshold;
    });

    std::vector<Deceleration> decelerations;
    decelerations.reserve(runs.size());
    for (const Run& run : runs) {
        const double duration = run.duration_seconds();
        if (duration < kDecelerationMinSeconds) continue;

        // Lowest value; among equals the earliest second wins.
        const std::size_t nadir = extreme_second(series, run, [](double candidate, double best) {
            return total_order_less(candidate, best);
        });
        if (nadir == series.size()) continue;
        const double nadir_bpm = *series[nadir].fetal_bpm;
        const double depth = baseline - nadir_bpm;
        if (depth < kDecelerationMinDepthBpm) continue;
        const std::uint64_t onset_to_nadir_ms = time::length_between(run.start, series[nadir].timestamp_ms);
        const double onset_to_nadir = time::seconds_from_ms(onset_to_nadir_ms);

        DecelerationKind kind = DecelerationKind::gradual_unclassified;
        if (kProlongedMinSeconds <= duration && duration < kProlongedMaxSeconds) {
            kind = DecelerationKind::prolonged;
        } else if (onset_to_nadir < kVariableMaxOnsetToNadirSeconds) {
            kind = DecelerationKind::variable;
        }

        const SecondSample& start = closest_second(series, run.start);
        const SecondSample& end = closest_second(series, run.end());
        Deceleration& d = decelerations.emplace_back();
        d.event.start = second_text(start);
        d.event.end = second_text(end);
        d.event.duration_seconds = duration;
        d.event.nadir_bpm = nadir_bpm;
        d.event.depth_bpm = depth;
        d.event.onset_to_nadir_seconds = onset_to_nadir;
        d.event.kind = kind;
        d.at = deceleration_instants(start, end, onset_to_nadir_ms);
    }
    return decelerations;
}

void time_gradual_decelerations(std::vector<Deceleration>& decelerations,
                                const std::vector<Contraction>& contractions) {
    if (contractions.empty()) return;

    struct Timed {
        std::int64_t start = 0;
        std::int64_t peak = 0;
        std::int64_t end = 0;
    };
    // Contractions whose texts do not all name instants take no part.
    std::vector<Timed> timed;
    timed.reserve(contractions.size());
    for (const Contraction& c : contractions) {
        if (c.at.start && c.at.peak && c.at.end) timed.push_back(Timed{*c.at.start, *c.at.peak, *c.at.end});
    }

    for (Deceleration& deceleration : decelerations) {
        const DecelerationKind kind = deceleration.event.kind;
        if (kind == DecelerationKind::variable || kind == DecelerationKind::prolonged) continue;
        if (!deceleration.at) continue;
        const DecelerationInstants& d = *deceleration.at;

        // The associated contraction whose peak lies closest to the nadir;
        // the earlier one wins a tie.
        const Timed* chosen = nullptr;
        std::uint64_t best_distance = 0;
        for (const Timed& c : timed) {
            const bool near_nadir = link_span(c.start, c.end).contains(d.nadir);
            const bool overlaps = d.start <= c.end && c.start <= d.end;
            if (!near_nadir && !overlaps) continue;
            const std::uint64_t distance = time::distance(d.nadir, c.peak);
            if (chosen == nullptr || distance < best_distance) {
                chosen = &c;
                best_distance = distance;
            }
        }
        if (chosen == nullptr) continue;

        if (best_distance <= kEarlyMaxLagMs) {
            deceleration.event.kind = DecelerationKind::early;
        } else if (d.nadir > chosen->peak) {
            deceleration.event.kind = DecelerationKind::late;
        }
        // A nadir more than the early lag before the peak keeps its kind.
    }
}

}  // namespace fhr_core::analysis
