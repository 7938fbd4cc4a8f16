#include "fhr_core/analysis/window.hpp"

#include <utility>

#include "fhr_core/analysis/judge.hpp"
#include "fhr_core/analysis/measure.hpp"

namespace fhr_core::analysis {

namespace {

// The window's record: what was measured and what it was judged to mean.
WindowAnalysis assemble(Measurements&& m, const Judgement& j) {
    WindowAnalysis w;
    w.window_start = std::move(m.window.window_start);
    w.window_end = std::move(m.window.window_end);
    w.duration_seconds = m.window.duration_seconds;
    w.classification = j.classification;
    w.alert_level = j.alert_level;
    w.baseline_bpm = m.current.baseline_bpm;
    w.baseline_class = m.current.baseline_class;
    w.variability_bpm = m.current.variability_bpm;
    w.variability_class = m.current.variability_class;
    w.sinusoidal_pattern = m.sinusoidal_pattern;
    w.category_iii_diagnostics = j.diagnostics;
    w.features = m.features;
    w.acceleration_events = std::move(m.accelerations);
    w.deceleration_events.reserve(m.decelerations.size());
    for (Deceleration& d : m.decelerations) w.deceleration_events.push_back(std::move(d.event));
    w.toco_summary.contraction_events.reserve(m.contractions.size());
    for (Contraction& c : m.contractions) w.toco_summary.contraction_events.push_back(std::move(c.event));
    w.toco_summary.contractions_per_10_min = m.contractions_per_10_min;
    w.toco_summary.tachysystole = m.tachysystole;
    w.data_quality = m.window.data_quality;
    w.reasons = j.reasons;
    w.high_risk_features = j.high_risk;
    w.protective_features = j.protective;
    w.alert_suppression_reasons = j.suppression;
    w.limitations = j.limitations;
    return w;
}

}  // namespace

WindowAnalysis analyze_window(RecordingSeconds& recording, const AnalysisConfig& config,
                              std::int64_t window_start, std::int64_t window_end, WindowSorts& sorts) {
    const WindowSpans spans = window_spans(window_start, window_end);
    Measurements measured = measure(recording.prepare(spans), config, spans, sorts);
    const Judgement judged = judge(measured);
    return assemble(std::move(measured), judged);
}

WindowAnalysis analyze_window(std::span<const MonitorSample> samples, const AnalysisConfig& config,
                              std::int64_t window_start, std::int64_t window_end) {
    const WindowSpans spans = window_spans(window_start, window_end);
    WindowSorts fresh;
    Measurements measured = measure(build_second_samples(samples, config.fetal_channel, spans), config, spans, fresh);
    const Judgement judged = judge(measured);
    return assemble(std::move(measured), judged);
}

}  // namespace fhr_core::analysis
