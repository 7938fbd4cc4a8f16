// How far a window's judgement can be trusted: its limitations and the
// Category III diagnostics.
#include "fhr_core/analysis/diagnostics.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fhr_core/analysis/bands.hpp"

namespace fhr_core::analysis {

namespace {

// Below this share of seconds with TOCO the contraction trace is too sparse.
constexpr double kSparseTocoRatioBelow = 0.5;

// The lower part of the minimal-variability band, read as near-absent (bpm).
constexpr double kNearAbsentAtMost = 3.0;

// Late and gradual decelerations together, or variable ones, that make a
// recurrence candidate when variability is (near-)absent.
constexpr std::size_t kCandidateDecelerations = 2;

std::size_t count_kind(const Measurements& m, DecelerationKind kind) {
    return static_cast<std::size_t>(std::count_if(m.decelerations.begin(), m.decelerations.end(),
                                                  [kind](const Deceleration& d) { return d.event.kind == kind; }));
}

bool sparse_toco(const Measurements& m) { return m.window.data_quality.toco_usable_ratio < kSparseTocoRatioBelow; }

bool few_contractions(const Measurements& m) { return m.features.contraction_count < kRecurrenceMinContractions; }

}  // namespace

FindingSet<Limitation> limitations(const Measurements& m) {
    const WindowSpans& spans = m.spans;
    FindingSet<Limitation> found;
    if (!spans.at_least_10_min) found.add(Limitation::under_10_minutes);
    if (!spans.at_least_20_min) {
        found.add(Limitation::under_20_minutes);
    } else if (few_contractions(m)) {
        found.add(Limitation::few_contractions);
    }
    if (!spans.at_least_30_min) found.add(Limitation::under_30_minutes);
    if (sparse_toco(m)) found.add(Limitation::sparse_toco);
    if (!spans.at_least_30_min && !m.tachysystole.has_value()) {
        found.add(Limitation::tachysystole_needs_30_minutes);
    }
    if (!m.current.baseline_bpm) found.add(Limitation::no_baseline);
    return found;
}

CategoryIiiDiagnostics category_iii_diagnostics(const Measurements& m, const Recurrence& recurrence) {
    CategoryIiiDiagnostics d;
    const std::size_t late = count_kind(m, DecelerationKind::late);
    const std::size_t variable = count_kind(m, DecelerationKind::variable);
    const std::size_t gradual = count_kind(m, DecelerationKind::gradual_unclassified);
    const std::optional<double> variability = m.current.variability_bpm;
    const bool bradycardia = m.current.baseline_class == BaselineClass::bradycardia;

    d.variability_near_absent =
        variability && *variability > bands::kAbsentVariabilityMaxBpm && *variability <= kNearAbsentAtMost;
    const bool absent_or_near_absent =
        m.current.variability_class == VariabilityClass::absent || d.variability_near_absent;
    d.recurrent_late_candidate =
        recurrence.late_min2 || (absent_or_near_absent && late + gradual >= kCandidateDecelerations);
    d.recurrent_variable_candidate =
        recurrence.variable_min2 || (absent_or_near_absent && variable >= kCandidateDecelerations);
    d.cat_iii_candidate =
        m.sinusoidal_pattern ||
        (absent_or_near_absent && (bradycardia || d.recurrent_late_candidate || d.recurrent_variable_candidate));

    if (sparse_toco(m)) {
        d.toco_recurrence_confidence = TocoRecurrenceConfidence::low;
    } else if (!few_contractions(m) && m.spans.at_least_20_min) {
        d.toco_recurrence_confidence = TocoRecurrenceConfidence::adequate;
    } else {
        d.toco_recurrence_confidence = TocoRecurrenceConfidence::limited;
    }

    if (late >= 1) {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::confirmed;
    } else if (gradual == 0) {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::not_applicable;
    } else if (sparse_toco(m) || m.features.contraction_count == 0) {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::low;
    } else {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::limited;
    }

    // Blockers explain a candidate pattern that is not confirmed; a sinusoidal
    // pattern is Category III on its own.
    if (d.cat_iii_candidate && !m.sinusoidal_pattern) {
        FindingSet<Cat3Blocker>& blockers = d.cat_iii_blockers;
        if (d.variability_near_absent) blockers.add(Cat3Blocker::near_absent_variability);
        if (!(bradycardia || recurrence.late_min2 || recurrence.variable_min2)) {
            if (!m.spans.at_least_20_min) blockers.add(Cat3Blocker::under_20_minutes);
            if (few_contractions(m)) blockers.add(Cat3Blocker::few_contractions);
            if (sparse_toco(m)) blockers.add(Cat3Blocker::sparse_toco);
            if (d.recurrent_late_candidate) blockers.add(Cat3Blocker::late_not_confirmed);
            if (d.recurrent_variable_candidate) blockers.add(Cat3Blocker::variable_not_confirmed);
        }
    }
    return d;
}

}  // namespace fhr_core::analysis
