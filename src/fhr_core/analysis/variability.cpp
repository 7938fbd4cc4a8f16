#include "fhr_core/analysis/variability.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "fhr_core/analysis/bands.hpp"
#include "fhr_core/analysis/summary.hpp"

namespace fhr_core::analysis {

namespace {

constexpr std::uint64_t kChunkMs = time::minutes_ms(1);
constexpr std::uint64_t kSecondMs = time::seconds_ms(1);
// Seconds further than this from the baseline belong to accelerations or
// decelerations and are left out of the amplitude.
constexpr double kMaxDistanceFromBaselineBpm = 25.0;
constexpr std::size_t kMinChunkValues = 30;
constexpr std::size_t kMinAmplitudes = 2;
constexpr double kAmplitudeLowQuantile = 0.05;
constexpr double kAmplitudeHighQuantile = 0.95;
constexpr double kMedianQuantile = 0.5;

}  // namespace

std::optional<double> estimate_variability(SeriesView series, Span span, double baseline, ChunkAmplitudes& shared,
                                           WholeEnds whole_ends) {
    const std::int64_t from_ms = span.from_ms;
    const std::int64_t to_ms = span.to_ms;
    if (from_ms >= to_ms) return std::nullopt;

    auto next = std::lower_bound(
        series.begin(), series.end(), from_ms,
        [](const SecondSample& s, std::int64_t value) { return s.timestamp_ms < value; });

    std::vector<double> amplitudes;
    std::vector<double> chunk;
    // Half-open one-minute chunks [c, min(to_ms, c + 1 min)) starting at from_ms.
    std::int64_t chunk_start = from_ms;
    while (next != series.end() && next->timestamp_ms < to_ms) {
        // Chunks holding no second contribute nothing: jump straight to the
        // chunk that holds the next second. Its start is still a whole number
        // of minutes after from_ms and lies at or before that second.
        const std::uint64_t ahead = time::length_between(chunk_start, next->timestamp_ms);
        if (ahead >= kChunkMs) chunk_start = time::later(chunk_start, ahead / kChunkMs * kChunkMs);

        const std::uint64_t remaining = time::length_between(chunk_start, to_ms);
        const std::int64_t chunk_end = remaining > kChunkMs ? time::later(chunk_start, kChunkMs) : to_ms;

        const auto first = next;
        // Seconds mostly follow one another a second apart: the chunk then
        // ends as many seconds on as start before its end. Else walk.
        const auto in_chunk = [&](SeriesView::iterator s) { return s != series.end() && s->timestamp_ms < chunk_end; };
        const std::uint64_t seconds_on = (time::length_between(next->timestamp_ms, chunk_end) + kSecondMs - 1) / kSecondMs;
        const auto guess = next + static_cast<std::ptrdiff_t>(
                                      std::min<std::uint64_t>(seconds_on, static_cast<std::uint64_t>(series.end() - next)));
        if (guess != next && in_chunk(guess - 1) && !in_chunk(guess)) {
            next = guess;
        } else {
            while (in_chunk(next)) ++next;
        }
        const auto measure = [&]() -> std::optional<double> {
            chunk.clear();
            for (auto second = first; second != next; ++second) {
                if (second->fetal_bpm && std::abs(*second->fetal_bpm - baseline) <= kMaxDistanceFromBaselineBpm) {
                    chunk.push_back(*second->fetal_bpm);
                }
            }
            if (chunk.size() < kMinChunkValues) return std::nullopt;
            const double high = select_quantile(chunk, kAmplitudeHighQuantile);
            return high - select_quantile(chunk, kAmplitudeLowQuantile);
        };
        // A chunk holding neither end of the window, or an end second that
        // holds all its rows, is the same in every window meeting it.
        const bool inner =
            (first != series.begin() || whole_ends.first) && (next != series.end() || whole_ends.last);
        const std::optional<double> amplitude =
            inner && shared.shared() ? shared.amplitude(chunk_start, chunk_end, baseline, measure) : measure();
        if (amplitude) amplitudes.push_back(*amplitude);
        if (chunk_end == to_ms) break;
        chunk_start = chunk_end;
    }

    if (amplitudes.size() < kMinAmplitudes) return std::nullopt;
    return select_quantile(amplitudes, kMedianQuantile);
}

std::optional<VariabilityClass> classify_variability(std::optional<double> variability_bpm) {
    if (!variability_bpm) return std::nullopt;
    const double amplitude = *variability_bpm;
    if (amplitude <= bands::kAbsentVariabilityMaxBpm) return VariabilityClass::absent;
    if (amplitude <= bands::kMinimalVariabilityMaxBpm) return VariabilityClass::minimal;
    if (amplitude <= bands::kModerateVariabilityMaxBpm) return VariabilityClass::moderate;
    return VariabilityClass::marked;
}

}  // namespace fhr_core::analysis
