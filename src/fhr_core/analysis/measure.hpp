// The measuring stage: everything the judgement of a window reads, measured
// once from the window's rows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fhr_core/analysis/contractions.hpp"
#include "fhr_core/analysis/events.hpp"
#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/sorted_seconds.hpp"
#include "fhr_core/analysis/window_spans.hpp"
#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Baseline and variability of a 10-minute span, with their classes.
struct SpanRate {
    std::optional<std::int32_t> baseline_bpm;
    std::optional<BaselineClass> baseline_class;
    std::optional<double> variability_bpm;
    std::optional<VariabilityClass> variability_class;
};

struct Measurements {
    WindowSpans spans;
    PreparedWindow window;  // the per-second series, window texts and data quality
    SpanRate current;       // the current 10 minutes
    // The 10 minutes before them, measured in a window of at least 20 minutes
    // only where the judgement can read a change: the baseline when the
    // current one is tachycardic, the variability (against the current
    // baseline) when the current one is minimal.
    SpanRate previous;
    std::vector<AccelerationEvent> accelerations;
    std::vector<Deceleration> decelerations;  // gradual ones already timed against the contractions
    std::vector<Contraction> contractions;
    double contractions_per_10_min = 0.0;
    std::optional<bool> tachysystole;
    bool sinusoidal_pattern = false;
    WindowFeatures features;
};

// Measures the window from its per-second series.
// `sorts` carries the sorted value lists from the window measured before.
Measurements measure(PreparedWindow&& window, const AnalysisConfig& config, const WindowSpans& spans,
                     WindowSorts& sorts);

}  // namespace fhr_core::analysis
