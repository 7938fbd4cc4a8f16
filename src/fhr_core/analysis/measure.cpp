#include "fhr_core/analysis/measure.hpp"

#include "fhr_core/analysis/baseline.hpp"
#include "fhr_core/analysis/features.hpp"
#include "fhr_core/analysis/sinusoidal.hpp"
#include "fhr_core/analysis/variability.hpp"

#include <utility>

namespace fhr_core::analysis {

Measurements measure(PreparedWindow&& window, const AnalysisConfig& config, const WindowSpans& spans,
                     WindowSorts& sorts) {
    Measurements m;
    m.spans = spans;
    m.window = std::move(window);
    const SeriesView series = m.window.seconds();

    // Baseline and variability of the current 10 minutes; without a baseline
    // there is no variability and no event.
    SpanRate& current = m.current;
    current.baseline_bpm = estimate_baseline(series, spans.current_10_min, sorts.baseline);
    current.baseline_class = classify_baseline(current.baseline_bpm);
    if (current.baseline_bpm) {
        const auto baseline = static_cast<double>(*current.baseline_bpm);
        sorts.variability_chunks.drop_before(spans.previous_10_min.from_ms);
        current.variability_bpm =
            estimate_variability(series, spans.current_10_min, baseline, sorts.variability_chunks, m.window.whole_ends);
        m.accelerations = detect_accelerations(series, spans.current_20_min, *current.baseline_bpm,
                                               acceleration_criterion(config.gestational_age_weeks));
        m.decelerations = detect_decelerations(series, spans.current_20_min, *current.baseline_bpm);
    }
    current.variability_class = classify_variability(current.variability_bpm);

    // Contractions, and the gradual decelerations timed against them.
    m.contractions = detect_contractions(series, spans, sorts.contraction_toco, sorts.contraction_smoothing);
    time_gradual_decelerations(m.decelerations, m.contractions);
    m.contractions_per_10_min = contraction_rate(m.contractions.size(), spans);
    m.tachysystole = tachysystole(m.contractions.size(), m.window.toco_seconds, spans);

    m.sinusoidal_pattern = detect_sinusoidal_pattern(series, spans);
    sorts.window_is_current_10_min = seconds_within(series, spans.current_10_min).size() == series.size();
    sorts.window_is_current_20_min = seconds_within(series, spans.current_20_min).size() == series.size();
    m.features = compute_features(series, sorts, current.baseline_bpm, m.accelerations.size(), m.decelerations,
                                  m.contractions.size(), m.contractions_per_10_min);

    // The look-back over the previous 10 minutes.
    if (spans.at_least_20_min) {
        SpanRate& previous = m.previous;
        if (current.baseline_class == BaselineClass::tachycardia) {
            previous.baseline_bpm = estimate_baseline(series, spans.previous_10_min, sorts.previous_baseline);
            previous.baseline_class = classify_baseline(previous.baseline_bpm);
        }
        if (current.variability_class == VariabilityClass::minimal) {
            previous.variability_bpm = estimate_variability(series, spans.previous_10_min,
                                                            static_cast<double>(*current.baseline_bpm),
                                                            sorts.variability_chunks, m.window.whole_ends);
            previous.variability_class = classify_variability(previous.variability_bpm);
        }
    }
    return m;
}

}  // namespace fhr_core::analysis
