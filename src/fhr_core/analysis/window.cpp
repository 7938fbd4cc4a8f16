#include "fhr_core/analysis/window.hpp"

#include <utility>

#include "fhr_core/analysis/alert.hpp"
#include "fhr_core/analysis/baseline.hpp"
#include "fhr_core/analysis/classification.hpp"
#include "fhr_core/analysis/contractions.hpp"
#include "fhr_core/analysis/diagnostics.hpp"
#include "fhr_core/analysis/events.hpp"
#include "fhr_core/analysis/features.hpp"
#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/sinusoidal.hpp"
#include "fhr_core/analysis/variability.hpp"

namespace fhr_core::analysis {

WindowAnalysis analyze_window(std::span<const MonitorSample> samples, const AnalysisConfig& config,
                              std::int64_t window_start, std::int64_t window_end) {
    WindowAnalysis w;

    // Measuring: per-second series and data quality.
    PreparedWindow prepared =
        build_second_samples(samples, config.fetal_channel, window_start, window_end);
    const Series& series = prepared.series;
    w.window_start = std::move(prepared.window_start);
    w.window_end = std::move(prepared.window_end);
    w.duration_seconds = prepared.duration_seconds;
    w.data_quality = prepared.data_quality;

    // Baseline and variability of the current 10 minutes.
    const Span current10 = current_segment(window_start, window_end, kTenMinutesMs);
    const Span current20 = current_segment(window_start, window_end, kTwentyMinutesMs);
    w.baseline_bpm = estimate_baseline(series, current10.from_ms, current10.to_ms);
    w.baseline_class = classify_baseline(w.baseline_bpm);
    if (w.baseline_bpm) {
        w.variability_bpm = estimate_variability(series, current10.from_ms, current10.to_ms,
                                                 static_cast<double>(*w.baseline_bpm));
        // Accelerations and decelerations over the current 20 minutes.
        w.acceleration_events =
            detect_accelerations(series, current20, *w.baseline_bpm,
                                 acceleration_criterion(config.gestational_age_weeks));
        w.deceleration_events = detect_decelerations(series, current20, *w.baseline_bpm);
    }
    w.variability_class = classify_variability(w.variability_bpm);

    // Contractions, then the timing of gradual decelerations against them.
    std::vector<ContractionEvent> contractions =
        detect_contractions(series, window_start, window_end);
    time_gradual_decelerations(w.deceleration_events, contractions);

    w.sinusoidal_pattern = detect_sinusoidal_pattern(series, window_start, window_end);
    w.toco_summary =
        summarize_contractions(std::move(contractions), series, window_start, window_end);
    w.features = compute_features(series, w.baseline_bpm, w.acceleration_events,
                                  w.deceleration_events, w.toco_summary);

    // Judging.
    w.limitations = initial_limitations(w, window_start, window_end);
    CategoryDecision category = decide_category(w, window_start, window_end);
    w.classification = category.classification;
    w.reasons = std::move(category.reasons);
    w.category_iii_diagnostics =
        category_iii_diagnostics(w, window_start, window_end, category.recurrent_late_min2,
                                 category.recurrent_variable_min2);
    w.high_risk_features = high_risk_features(w, series, window_start, window_end);
    w.protective_features = protective_features(w);
    if (auto limitation = baseline_limitation(w)) w.limitations.emplace_back(*limitation);
    add_capture_and_tachysystole_entries(w);
    sort_phrases(w.reasons);
    sort_phrases(w.high_risk_features);
    sort_phrases(w.protective_features);

    const AlertDecision alert = decide_alert(w);
    w.alert_level = alert.level;
    if (alert.suppression) w.alert_suppression_reasons.emplace_back(*alert.suppression);
    return w;
}

}  // namespace fhr_core::analysis
