// How far a window's judgement can be trusted: its limitations and the
// Category III diagnostics.
#include "fhr_core/analysis/diagnostics.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fhr_core/analysis/classification.hpp"
#include "fhr_core/analysis/phrases.hpp"
#include "fhr_core/analysis/series.hpp"

namespace fhr_core::analysis {

namespace {

// Window lengths (seconds) below which an assessment is incomplete.
constexpr double kVariabilityAssessmentSeconds = 600.0;
constexpr double kRecurrenceAssessmentSeconds = 1200.0;
constexpr double kTachysystoleAssessmentSeconds = 1800.0;

// Recurrence needs at least this many contractions to be judged.
constexpr std::uint64_t kRecurrenceMinContractions = 2;
// Below this share of seconds with TOCO the contraction trace is too sparse.
constexpr double kSparseTocoRatioBelow = 0.5;

// The lower part of the minimal-variability band (bpm), read as near-absent.
constexpr double kNearAbsentAbove = 1.0;
constexpr double kNearAbsentAtMost = 3.0;

// Late and gradual decelerations together, or variable ones, that make a
// recurrence candidate when variability is (near-)absent.
constexpr std::size_t kCandidateDecelerations = 2;

std::size_t count_kind(const WindowAnalysis& window, DecelerationKind kind) {
    const auto& decels = window.deceleration_events;
    return static_cast<std::size_t>(
        std::count_if(decels.begin(), decels.end(),
                      [kind](const DecelerationEvent& d) { return d.kind == kind; }));
}

bool span_below(std::int64_t window_start, std::int64_t window_end, std::int64_t length_ms) {
    return window_span_ms(window_start, window_end) < static_cast<std::uint64_t>(length_ms);
}

bool sparse_toco(const WindowAnalysis& window) {
    return window.data_quality.toco_usable_ratio < kSparseTocoRatioBelow;
}

}  // namespace

std::vector<std::string> initial_limitations(const WindowAnalysis& window,
                                             std::int64_t window_start, std::int64_t window_end) {
    namespace p = phrases;
    std::vector<std::string> limitations;
    const double duration = window.duration_seconds;
    if (duration < kVariabilityAssessmentSeconds) limitations.emplace_back(p::kLimitUnder10Minutes);
    if (duration < kRecurrenceAssessmentSeconds) {
        limitations.emplace_back(p::kLimitUnder20Minutes);
    } else if (window.features.contraction_count < kRecurrenceMinContractions) {
        limitations.emplace_back(p::kLimitFewContractions);
    }
    if (duration < kTachysystoleAssessmentSeconds) {
        limitations.emplace_back(p::kLimitUnder30Minutes);
    }
    if (sparse_toco(window)) limitations.emplace_back(p::kLimitSparseToco);
    if (span_below(window_start, window_end, kThirtyMinutesMs) &&
        !window.toco_summary.tachysystole.has_value()) {
        limitations.emplace_back(p::kLimitTachysystoleAverage);
    }
    return limitations;
}

CategoryIiiDiagnostics category_iii_diagnostics(const WindowAnalysis& window,
                                                std::int64_t window_start, std::int64_t window_end,
                                                bool recurrent_late_min2,
                                                bool recurrent_variable_min2) {
    namespace p = phrases;
    CategoryIiiDiagnostics d;
    const std::size_t late = count_kind(window, DecelerationKind::late);
    const std::size_t variable = count_kind(window, DecelerationKind::variable);
    const std::size_t gradual = count_kind(window, DecelerationKind::gradual_unclassified);
    const std::uint64_t contractions = window.features.contraction_count;
    const bool bradycardia = window.baseline_class == BaselineClass::bradycardia;

    d.variability_near_absent = window.variability_bpm &&
                                *window.variability_bpm > kNearAbsentAbove &&
                                *window.variability_bpm <= kNearAbsentAtMost;
    const bool absent_or_near_absent =
        window.variability_class == VariabilityClass::absent || d.variability_near_absent;
    d.recurrent_late_candidate =
        recurrent_late_min2 || (absent_or_near_absent && late + gradual >= kCandidateDecelerations);
    d.recurrent_variable_candidate =
        recurrent_variable_min2 || (absent_or_near_absent && variable >= kCandidateDecelerations);
    d.cat_iii_candidate = window.sinusoidal_pattern ||
                          (absent_or_near_absent && (bradycardia || d.recurrent_late_candidate ||
                                                     d.recurrent_variable_candidate));

    if (sparse_toco(window)) {
        d.toco_recurrence_confidence = TocoRecurrenceConfidence::low;
    } else if (contractions >= kRecurrenceMinContractions &&
               !span_below(window_start, window_end, kTwentyMinutesMs)) {
        d.toco_recurrence_confidence = TocoRecurrenceConfidence::adequate;
    } else {
        d.toco_recurrence_confidence = TocoRecurrenceConfidence::limited;
    }

    if (late >= 1) {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::confirmed;
    } else if (gradual == 0) {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::not_applicable;
    } else if (sparse_toco(window) || contractions == 0) {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::low;
    } else {
        d.late_decel_timing_confidence = LateDecelTimingConfidence::limited;
    }

    // Blockers explain a candidate pattern that is not confirmed; a sinusoidal
    // pattern is Category III on its own.
    if (d.cat_iii_candidate && !window.sinusoidal_pattern) {
        auto& blockers = d.cat_iii_blockers;
        if (d.variability_near_absent) blockers.emplace_back(p::kBlockNearAbsent);
        if (!(bradycardia || recurrent_late_min2 || recurrent_variable_min2)) {
            if (span_below(window_start, window_end, kTwentyMinutesMs)) {
                blockers.emplace_back(p::kBlockUnder20Minutes);
            }
            if (contractions < kRecurrenceMinContractions) {
                blockers.emplace_back(p::kBlockFewContractions);
            }
            if (sparse_toco(window)) blockers.emplace_back(p::kBlockSparseToco);
            if (d.recurrent_late_candidate) blockers.emplace_back(p::kBlockLateNotConfirmed);
            if (d.recurrent_variable_candidate) {
                blockers.emplace_back(p::kBlockVariableNotConfirmed);
            }
        }
        sort_phrases(blockers);
    }
    return d;
}

std::optional<std::string_view> baseline_limitation(const WindowAnalysis& window) {
    if (window.baseline_bpm) return std::nullopt;
    return phrases::kLimitNoBaseline;
}

}  // namespace fhr_core::analysis
