// The three-tier category of a window, the phrases that explain it, and the
// contraction-linked recurrence test shared with the diagnostics.
#include "fhr_core/analysis/classification.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "fhr_core/analysis/baseline.hpp"
#include "fhr_core/analysis/events.hpp"
#include "fhr_core/analysis/phrases.hpp"
#include "fhr_core/analysis/variability.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fhr_core::analysis {

namespace {

// A deceleration is linked to a contraction when it overlaps the span from
// this long before the contraction starts ...
constexpr std::int64_t kLinkBeforeContractionMs = 30'000;
// ... to this long after it ends.
constexpr std::int64_t kLinkAfterContractionMs = 60'000;

// Recurrence needs at least two decelerations of the kind.
constexpr std::size_t kMinRecurrentDecelerations = 2;
// Minimum contraction counts of the two recurrence tests.
constexpr std::size_t kRecurrenceMinContractionsCategory = 2;
constexpr std::size_t kRecurrenceMinContractionsHighRisk = 3;

// Variability bands and thresholds (bpm).
constexpr double kHighRiskMarkedVariabilityAbove = 30.0;
constexpr double kMinimalVariabilityAbove = 1.0;
constexpr double kMinimalVariabilityAtMost = 5.0;

// Baseline bands of the change-to-tachycardia look-back (bpm).
constexpr std::int32_t kNormalBaselineLow = 110;
constexpr std::int32_t kNormalBaselineHigh = 160;

// Deceleration severity thresholds.
constexpr double kSevereVariableNadirBelow = 80.0;
constexpr double kSevereVariableDepthAtLeast = 60.0;
constexpr double kSevereVariableDurationAtLeast = 60.0;
constexpr double kDeepNadirBelow = 80.0;
constexpr double kBurdenAlwaysSeconds = 120.0;
constexpr double kBurdenWithContextSeconds = 60.0;
constexpr double kBurdenContextNadirBelow = 100.0;
constexpr double kBurdenContextDepthAtLeast = 30.0;
constexpr std::uint64_t kMultipleProlongedAtLeast = 2;

// Share of paired seconds in which the fetal channel tracks the maternal rate
// before a maternal capture is suspected.
constexpr double kMaternalCaptureRatioAbove = 0.25;

// Instants near the ends of the 64-bit range must not wrap: saturating at the
// limits keeps every comparison below exact, since no instant lies beyond them.
std::int64_t saturating_add(std::int64_t instant, std::int64_t delta) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    return instant > kMax - delta ? kMax : instant + delta;
}

std::int64_t saturating_sub(std::int64_t instant, std::int64_t delta) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    return instant < kMin + delta ? kMin : instant - delta;
}

bool at_least_twenty_minutes(std::int64_t window_start, std::int64_t window_end) {
    return window_span_ms(window_start, window_end) >= static_cast<std::uint64_t>(kTwentyMinutesMs);
}

std::size_t count_kind(const std::vector<DecelerationEvent>& decelerations, DecelerationKind kind) {
    return static_cast<std::size_t>(
        std::count_if(decelerations.begin(), decelerations.end(),
                      [kind](const DecelerationEvent& d) { return d.kind == kind; }));
}

bool any_kind(const std::vector<DecelerationEvent>& decelerations, DecelerationKind kind) {
    return count_kind(decelerations, kind) > 0;
}

bool variability_is(const WindowAnalysis& window, VariabilityClass cls) {
    return window.variability_class == cls;
}

bool baseline_is(const WindowAnalysis& window, BaselineClass cls) {
    return window.baseline_class == cls;
}

// The two 10-minute spans ending at the window end: the previous one and the
// current one. Only meaningful for windows of at least 20 minutes; the second
// at window end - 10 minutes belongs to both.
struct LookBackSpans {
    Span previous;
    Span current;
};

LookBackSpans look_back_spans(std::int64_t window_end) {
    const std::int64_t split = saturating_sub(window_end, kTenMinutesMs);
    return {Span{saturating_sub(window_end, kTwentyMinutesMs), split}, Span{split, window_end}};
}

bool in_minimal_band(const std::optional<double>& variability) {
    return variability && *variability > kMinimalVariabilityAbove &&
           *variability <= kMinimalVariabilityAtMost;
}

// Minimal variability in both the previous and the current 10 minutes,
// measured against the window's baseline.
bool persistent_minimal_variability(const WindowAnalysis& window, const Series& series,
                                    std::int64_t window_start, std::int64_t window_end) {
    if (!at_least_twenty_minutes(window_start, window_end) || !window.baseline_bpm) return false;
    // In a window of 20 minutes or more the current span is the window's own
    // last 10 minutes, so its variability is `variability_bpm`; the previous
    // span is measured only when the current one is minimal.
    if (!in_minimal_band(window.variability_bpm)) return false;
    const double baseline = static_cast<double>(*window.baseline_bpm);
    const LookBackSpans spans = look_back_spans(window_end);
    return in_minimal_band(
        estimate_variability(series, spans.previous.from_ms, spans.previous.to_ms, baseline));
}

// A normal baseline in the previous 10 minutes that has become tachycardic.
bool changed_to_tachycardia(const WindowAnalysis& window, const Series& series,
                            std::int64_t window_start, std::int64_t window_end) {
    if (!baseline_is(window, BaselineClass::tachycardia) ||
        !at_least_twenty_minutes(window_start, window_end)) {
        return false;
    }
    // The current span is the window's last 10 minutes: its baseline is
    // `baseline_bpm`, tachycardic (above 160) by the test above.
    const LookBackSpans spans = look_back_spans(window_end);
    const std::optional<std::int32_t> previous =
        estimate_baseline(series, spans.previous.from_ms, spans.previous.to_ms);
    return previous && *previous >= kNormalBaselineLow && *previous <= kNormalBaselineHigh;
}

bool is_severe_variable(const DecelerationEvent& d) {
    return d.kind == DecelerationKind::variable &&
           (d.nadir_bpm < kSevereVariableNadirBelow || d.depth_bpm >= kSevereVariableDepthAtLeast ||
            d.duration_seconds >= kSevereVariableDurationAtLeast);
}

bool concerning_burden(const WindowAnalysis& window, bool recurrent_late_min3,
                       bool recurrent_variable_min3) {
    const double total = window.features.total_deceleration_seconds;
    if (total >= kBurdenAlwaysSeconds) return true;
    if (total < kBurdenWithContextSeconds) return false;
    const auto& decels = window.deceleration_events;
    return recurrent_late_min3 || recurrent_variable_min3 ||
           std::any_of(decels.begin(), decels.end(),
                       [](const DecelerationEvent& d) {
                           return d.nadir_bpm < kBurdenContextNadirBelow;
                       }) ||
           std::any_of(decels.begin(), decels.end(), [](const DecelerationEvent& d) {
               return d.depth_bpm >= kBurdenContextDepthAtLeast;
           });
}

void append(std::vector<std::string>& phrases, std::string_view phrase) {
    phrases.emplace_back(phrase);
}

}  // namespace

bool recurrent_deceleration_kind(const std::vector<DecelerationEvent>& decelerations,
                                 const std::vector<ContractionEvent>& contractions,
                                 DecelerationKind kind, std::int64_t window_start,
                                 std::int64_t window_end, std::size_t min_contractions) {
    if (!at_least_twenty_minutes(window_start, window_end)) return false;
    if (decelerations.empty() || contractions.size() < min_contractions) return false;
    if (count_kind(decelerations, kind) < kMinRecurrentDecelerations) return false;

    // Instants of the decelerations of this kind whose texts parse; the rest
    // still counted above but cannot be placed against a contraction.
    std::vector<DecelTimes> placed;
    for (const DecelerationEvent& d : decelerations) {
        if (d.kind != kind) continue;
        if (std::optional<DecelTimes> times = decel_times(d)) placed.push_back(*times);
    }

    std::size_t matched = 0;
    for (const ContractionEvent& c : contractions) {
        const Result<std::int64_t> start = time::parse_monitor_timestamp(c.start);
        if (!start) continue;
        const Result<std::int64_t> end = time::parse_monitor_timestamp(c.end);
        if (!end) continue;
        const std::int64_t link_from = saturating_sub(*start, kLinkBeforeContractionMs);
        const std::int64_t link_to = saturating_add(*end, kLinkAfterContractionMs);
        const bool linked = std::any_of(placed.begin(), placed.end(), [&](const DecelTimes& d) {
            return d.start <= link_to && d.end >= link_from;
        });
        if (linked) ++matched;  // once per contraction, however many decelerations qualify
    }
    // At least half of all contractions (unparsable ones included) matched:
    // total <= 2 * matched, written so that it cannot overflow.
    return contractions.size() - matched <= matched;
}

CategoryDecision decide_category(const WindowAnalysis& window, std::int64_t window_start,
                                 std::int64_t window_end) {
    namespace p = phrases;
    CategoryDecision decision;
    // The diagnostics need both recurrence results for every window, also for
    // those decided before they matter here.
    const auto& decels = window.deceleration_events;
    const auto& contractions = window.toco_summary.contraction_events;
    decision.recurrent_late_min2 =
        recurrent_deceleration_kind(decels, contractions, DecelerationKind::late, window_start,
                                    window_end, kRecurrenceMinContractionsCategory);
    decision.recurrent_variable_min2 =
        recurrent_deceleration_kind(decels, contractions, DecelerationKind::variable,
                                    window_start, window_end, kRecurrenceMinContractionsCategory);

    auto decide = [&decision](Classification classification, std::string_view reason) {
        decision.classification = classification;
        append(decision.reasons, reason);
        return decision;
    };

    if (window.sinusoidal_pattern) {
        return decide(Classification::category_iii, p::kReasonSinusoidal);
    }
    if (!window.baseline_class) return decide(Classification::unclassified, p::kReasonNoBaseline);
    if (!window.variability_class) {
        return decide(Classification::unclassified, p::kReasonNoVariability);
    }

    if (variability_is(window, VariabilityClass::absent) &&
        (baseline_is(window, BaselineClass::bradycardia) || decision.recurrent_late_min2 ||
         decision.recurrent_variable_min2)) {
        return decide(Classification::category_iii, p::kReasonAbsentWithBradycardiaOrRecurrence);
    }

    const bool has_variable_late_or_prolonged =
        any_kind(decels, DecelerationKind::variable) || any_kind(decels, DecelerationKind::late) ||
        any_kind(decels, DecelerationKind::prolonged);
    if (variability_is(window, VariabilityClass::moderate) &&
        baseline_is(window, BaselineClass::normal) && !has_variable_late_or_prolonged) {
        return decide(Classification::category_i, p::kReasonCategoryI);
    }

    decision.classification = Classification::category_ii;
    switch (*window.baseline_class) {
        case BaselineClass::bradycardia: append(decision.reasons, p::kReasonBradycardia); break;
        case BaselineClass::tachycardia: append(decision.reasons, p::kReasonTachycardia); break;
        case BaselineClass::normal: break;
    }
    switch (*window.variability_class) {
        case VariabilityClass::absent: append(decision.reasons, p::kReasonAbsentVariability); break;
        case VariabilityClass::minimal:
            append(decision.reasons, p::kReasonMinimalVariability);
            break;
        case VariabilityClass::marked: append(decision.reasons, p::kReasonMarkedVariability); break;
        case VariabilityClass::moderate: break;
    }
    for (const DecelerationEvent& d : decels) {
        switch (d.kind) {
            case DecelerationKind::variable:
                append(decision.reasons, p::kReasonVariableDeceleration);
                break;
            case DecelerationKind::late:
                append(decision.reasons, p::kReasonLateDeceleration);
                break;
            case DecelerationKind::prolonged:
                append(decision.reasons, p::kReasonProlongedDeceleration);
                break;
            case DecelerationKind::gradual_unclassified:
                append(decision.reasons, p::kReasonGradualDeceleration);
                break;
            case DecelerationKind::early: break;
        }
    }
    return decision;
}

std::vector<std::string> high_risk_features(const WindowAnalysis& window, const Series& series,
                                            std::int64_t window_start, std::int64_t window_end) {
    namespace p = phrases;
    std::vector<std::string> features;
    const auto& decels = window.deceleration_events;
    const auto& contractions = window.toco_summary.contraction_events;

    if (window.sinusoidal_pattern) append(features, p::kRiskSinusoidal);

    if (variability_is(window, VariabilityClass::absent)) {
        append(features, p::kRiskAbsentVariability);
    } else if (variability_is(window, VariabilityClass::marked) && window.variability_bpm &&
               *window.variability_bpm > kHighRiskMarkedVariabilityAbove) {
        append(features, p::kRiskMarkedVariability);
    }

    if (persistent_minimal_variability(window, series, window_start, window_end)) {
        append(features, p::kRiskPersistentMinimal);
    }
    if (changed_to_tachycardia(window, series, window_start, window_end)) {
        append(features, p::kRiskChangeToTachycardia);
    }

    const bool recurrent_late_min3 =
        recurrent_deceleration_kind(decels, contractions, DecelerationKind::late, window_start,
                                    window_end, kRecurrenceMinContractionsHighRisk);
    const bool recurrent_variable_min3 =
        recurrent_deceleration_kind(decels, contractions, DecelerationKind::variable,
                                    window_start, window_end, kRecurrenceMinContractionsHighRisk);
    if (recurrent_late_min3) append(features, p::kRiskRecurrentLate);
    if (recurrent_variable_min3) append(features, p::kRiskRecurrentVariable);

    if ((variability_is(window, VariabilityClass::absent) ||
         variability_is(window, VariabilityClass::minimal)) &&
        any_kind(decels, DecelerationKind::gradual_unclassified)) {
        append(features, p::kRiskGradualWithLowVariability);
    }
    if (std::any_of(decels.begin(), decels.end(), is_severe_variable)) {
        append(features, p::kRiskSevereVariable);
    }
    if (std::any_of(decels.begin(), decels.end(),
                    [](const DecelerationEvent& d) { return d.nadir_bpm < kDeepNadirBelow; })) {
        append(features, p::kRiskDeepNadir);
    }
    if (concerning_burden(window, recurrent_late_min3, recurrent_variable_min3)) {
        append(features, p::kRiskDecelerationBurden);
    }
    if (window.features.prolonged_deceleration_count >= kMultipleProlongedAtLeast) {
        append(features, p::kRiskMultipleProlonged);
    }
    return features;
}

std::vector<std::string> protective_features(const WindowAnalysis& window) {
    std::vector<std::string> features;
    if (variability_is(window, VariabilityClass::moderate)) {
        append(features, phrases::kProtectiveModerateVariability);
    }
    if (!window.acceleration_events.empty()) append(features, phrases::kProtectiveAccelerations);
    return features;
}

void add_capture_and_tachysystole_entries(WindowAnalysis& window) {
    if (window.data_quality.suspected_maternal_capture_ratio > kMaternalCaptureRatioAbove) {
        append(window.high_risk_features, phrases::kRiskMaternalCapture);
    }
    if (window.toco_summary.tachysystole.value_or(false)) {
        append(window.reasons, phrases::kReasonTachysystole);
        // Reads the high-risk list as it stands now, maternal capture included.
        const bool with_category_ii = window.classification == Classification::category_ii &&
                                      !window.high_risk_features.empty();
        append(window.high_risk_features, with_category_ii
                                              ? phrases::kRiskTachysystoleWithCategoryII
                                              : phrases::kRiskTachysystole);
    }
}

void sort_phrases(std::vector<std::string>& phrases) {
    // std::string compares its bytes as unsigned char, which is byte order.
    std::stable_sort(phrases.begin(), phrases.end());
    phrases.erase(std::unique(phrases.begin(), phrases.end()), phrases.end());
}

}  // namespace fhr_core::analysis
