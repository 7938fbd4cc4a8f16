// The three-tier category of a window, the findings that explain it, and the
// contraction-linked recurrence test shared with the diagnostics.
#include "fhr_core/analysis/classification.hpp"

#include <algorithm>
#include <cstdint>

namespace fhr_core::analysis {

namespace {

// Recurrence needs at least two decelerations of the kind.
constexpr std::size_t kMinRecurrentDecelerations = 2;
// The recurrence test of the category counts from two contractions, that of
// the high-risk findings from three.
constexpr std::size_t kHighRiskRecurrenceContractions = 3;

// Marked variability above this is a high-risk finding (bpm).
constexpr double kHighRiskMarkedVariabilityAbove = 30.0;

// Deceleration severity thresholds.
constexpr double kSevereVariableDepthAtLeast = 60.0;
constexpr double kSevereVariableDurationAtLeast = 60.0;
constexpr double kBurdenAlwaysSeconds = 120.0;
constexpr double kBurdenWithContextSeconds = 60.0;
constexpr double kBurdenContextNadirBelow = 100.0;
constexpr double kBurdenContextDepthAtLeast = 30.0;
constexpr std::uint64_t kMultipleProlongedAtLeast = 2;

// Share of paired seconds in which the fetal channel tracks the maternal rate
// before a maternal capture is suspected.
constexpr double kMaternalCaptureRatioAbove = 0.25;

std::size_t count_kind(const std::vector<Deceleration>& decelerations, DecelerationKind kind) {
    return static_cast<std::size_t>(std::count_if(decelerations.begin(), decelerations.end(),
                                                  [kind](const Deceleration& d) { return d.event.kind == kind; }));
}

bool any_kind(const std::vector<Deceleration>& decelerations, DecelerationKind kind) {
    return count_kind(decelerations, kind) > 0;
}

template <class Test>
bool any_deceleration(const Measurements& m, Test test) {
    return std::any_of(m.decelerations.begin(), m.decelerations.end(),
                       [&test](const Deceleration& d) { return test(d.event); });
}

bool is_severe_variable(const DecelerationEvent& d) {
    return d.kind == DecelerationKind::variable &&
           (d.nadir_bpm < kDeepNadirBelowBpm || d.depth_bpm >= kSevereVariableDepthAtLeast ||
            d.duration_seconds >= kSevereVariableDurationAtLeast);
}

bool concerning_burden(const Measurements& m, const Recurrence& recurrence) {
    const double total = m.features.total_deceleration_seconds;
    if (total >= kBurdenAlwaysSeconds) return true;
    if (total < kBurdenWithContextSeconds) return false;
    return recurrence.late_min3 || recurrence.variable_min3 ||
           any_deceleration(m, [](const DecelerationEvent& d) { return d.nadir_bpm < kBurdenContextNadirBelow; }) ||
           any_deceleration(m, [](const DecelerationEvent& d) { return d.depth_bpm >= kBurdenContextDepthAtLeast; });
}

// Minimal variability in both the previous and the current 10 minutes.
bool persistent_minimal_variability(const Measurements& m) {
    return m.spans.at_least_20_min && m.current.variability_class == VariabilityClass::minimal &&
           m.previous.variability_class == VariabilityClass::minimal;
}

// A normal baseline in the previous 10 minutes that has become tachycardic.
bool changed_to_tachycardia(const Measurements& m) {
    return m.spans.at_least_20_min && m.current.baseline_class == BaselineClass::tachycardia &&
           m.previous.baseline_class == BaselineClass::normal;
}

Category category_and_reasons(const Measurements& m, const Recurrence& recurrence) {
    const SpanRate& rate = m.current;
    if (m.sinusoidal_pattern) return {Classification::category_iii, {Reason::sinusoidal}};
    if (!rate.baseline_class) return {Classification::unclassified, {Reason::no_baseline}};
    if (!rate.variability_class) return {Classification::unclassified, {Reason::no_variability}};

    const BaselineClass baseline = *rate.baseline_class;
    const VariabilityClass variability = *rate.variability_class;
    if (variability == VariabilityClass::absent &&
        (baseline == BaselineClass::bradycardia || recurrence.late_min2 || recurrence.variable_min2)) {
        return {Classification::category_iii, {Reason::absent_variability_with_bradycardia_or_recurrence}};
    }

    const auto& decels = m.decelerations;
    const bool variable_late_or_prolonged = any_kind(decels, DecelerationKind::variable) ||
                                            any_kind(decels, DecelerationKind::late) ||
                                            any_kind(decels, DecelerationKind::prolonged);
    if (variability == VariabilityClass::moderate && baseline == BaselineClass::normal &&
        !variable_late_or_prolonged) {
        return {Classification::category_i, {Reason::reassuring_trace}};
    }

    Category category{Classification::category_ii, {}};
    FindingSet<Reason>& reasons = category.reasons;
    switch (baseline) {
        case BaselineClass::bradycardia: reasons.add(Reason::bradycardia); break;
        case BaselineClass::tachycardia: reasons.add(Reason::tachycardia); break;
        case BaselineClass::normal: break;
    }
    switch (variability) {
        case VariabilityClass::absent: reasons.add(Reason::absent_variability); break;
        case VariabilityClass::minimal: reasons.add(Reason::minimal_variability); break;
        case VariabilityClass::marked: reasons.add(Reason::marked_variability); break;
        case VariabilityClass::moderate: break;
    }
    for (const Deceleration& d : decels) {
        switch (d.event.kind) {
            case DecelerationKind::variable: reasons.add(Reason::variable_deceleration); break;
            case DecelerationKind::late: reasons.add(Reason::late_deceleration); break;
            case DecelerationKind::prolonged: reasons.add(Reason::prolonged_deceleration); break;
            case DecelerationKind::gradual_unclassified: reasons.add(Reason::gradual_deceleration); break;
            case DecelerationKind::early: break;
        }
    }
    return category;
}

}  // namespace

namespace detail {

bool recurrent_deceleration_kind(const std::vector<Deceleration>& decelerations,
                                 const std::vector<Contraction>& contractions, DecelerationKind kind,
                                 const WindowSpans& spans, std::size_t min_contractions) {
    if (!spans.at_least_20_min) return false;
    if (decelerations.empty() || contractions.size() < min_contractions) return false;
    if (count_kind(decelerations, kind) < kMinRecurrentDecelerations) return false;

    std::size_t matched = 0;
    for (const Contraction& c : contractions) {
        if (!c.at.start || !c.at.end) continue;
        const Span link = link_span(*c.at.start, *c.at.end);
        const bool linked = std::any_of(decelerations.begin(), decelerations.end(), [&](const Deceleration& d) {
            return d.event.kind == kind && d.at && d.at->start <= link.to_ms && d.at->end >= link.from_ms;
        });
        if (linked) ++matched;  // once per contraction, however many decelerations qualify
    }
    // At least half of all contractions (those without instants included)
    // matched: total <= 2 * matched, written so that it cannot overflow.
    return contractions.size() - matched <= matched;
}

}  // namespace detail

Recurrence assess_recurrence(const Measurements& m) {
    const auto test = [&m](DecelerationKind kind, std::size_t min_contractions) {
        return detail::recurrent_deceleration_kind(m.decelerations, m.contractions, kind, m.spans, min_contractions);
    };
    return Recurrence{
        test(DecelerationKind::late, kRecurrenceMinContractions),
        test(DecelerationKind::variable, kRecurrenceMinContractions),
        test(DecelerationKind::late, kHighRiskRecurrenceContractions),
        test(DecelerationKind::variable, kHighRiskRecurrenceContractions),
    };
}

Category decide_category(const Measurements& m, const Recurrence& recurrence) {
    Category category = category_and_reasons(m, recurrence);
    if (m.tachysystole.value_or(false)) category.reasons.add(Reason::tachysystole);
    return category;
}

FindingSet<HighRisk> high_risk_findings(const Measurements& m, const Recurrence& recurrence,
                                        Classification classification) {
    FindingSet<HighRisk> findings;
    const std::optional<VariabilityClass> variability = m.current.variability_class;
    if (m.sinusoidal_pattern) findings.add(HighRisk::sinusoidal);
    if (variability == VariabilityClass::absent) {
        findings.add(HighRisk::absent_variability);
    } else if (variability == VariabilityClass::marked &&
               *m.current.variability_bpm > kHighRiskMarkedVariabilityAbove) {
        findings.add(HighRisk::marked_variability);
    }
    if (persistent_minimal_variability(m)) findings.add(HighRisk::persistent_minimal_variability);
    if (changed_to_tachycardia(m)) findings.add(HighRisk::change_to_tachycardia);
    if (recurrence.late_min3) findings.add(HighRisk::recurrent_late);
    if (recurrence.variable_min3) findings.add(HighRisk::recurrent_variable);
    if ((variability == VariabilityClass::absent || variability == VariabilityClass::minimal) &&
        any_kind(m.decelerations, DecelerationKind::gradual_unclassified)) {
        findings.add(HighRisk::gradual_with_low_variability);
    }
    if (any_deceleration(m, is_severe_variable)) findings.add(HighRisk::severe_variable);
    if (any_deceleration(m, [](const DecelerationEvent& d) { return d.nadir_bpm < kDeepNadirBelowBpm; })) {
        findings.add(HighRisk::deep_nadir);
    }
    if (concerning_burden(m, recurrence)) findings.add(HighRisk::deceleration_burden);
    if (m.features.prolonged_deceleration_count >= kMultipleProlongedAtLeast) {
        findings.add(HighRisk::multiple_prolonged);
    }
    if (m.window.data_quality.suspected_maternal_capture_ratio > kMaternalCaptureRatioAbove) {
        findings.add(HighRisk::maternal_capture);
    }
    // Tachysystole weighs more beside another finding of a Category II
    // window (maternal capture included).
    if (m.tachysystole.value_or(false)) {
        findings.add(classification == Classification::category_ii && !findings.empty()
                         ? HighRisk::tachysystole_with_category_ii
                         : HighRisk::tachysystole);
    }
    return findings;
}

FindingSet<Protective> protective_findings(const Measurements& m) {
    FindingSet<Protective> findings;
    if (m.current.variability_class == VariabilityClass::moderate) findings.add(Protective::moderate_variability);
    if (!m.accelerations.empty()) findings.add(Protective::accelerations);
    return findings;
}

}  // namespace fhr_core::analysis
