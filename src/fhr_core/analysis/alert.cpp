// How loudly a window alerts, and why an alert was withheld or lowered.
#include "fhr_core/analysis/alert.hpp"

#include "fhr_core/analysis/classification.hpp"

namespace fhr_core::analysis {

namespace {

using R = Reason;
using H = HighRisk;
using P = Protective;

// Fetal signal shares: below the first nothing can be judged; below the
// second a quiet verdict is not trusted.
constexpr double kUnusableFetalRatioBelow = 0.5;
constexpr double kReliableFetalRatio = 0.7;

// Deceleration burden thresholds (total seconds of deceleration).
constexpr double kShortBurdenBelow = 60.0;
constexpr double kLimitedBurdenBelow = 120.0;
constexpr double kContextBurdenBelow = 300.0;
// A deepest nadir below this is low (bpm).
constexpr double kLowNadirBelow = 70.0;

// High-risk findings that always call for urgent review of a Category I or II window.
constexpr FindingSet<H> kEscalating = {
    H::absent_variability,           H::persistent_minimal_variability, H::recurrent_late,
    H::gradual_with_low_variability, H::tachysystole_with_category_ii,  H::multiple_prolonged,
};
// Findings that are about decelerations or marked variability only.
constexpr FindingSet<H> kDecelerationOrMarked = {
    H::marked_variability, H::severe_variable, H::deep_nadir, H::deceleration_burden, H::recurrent_variable,
};

bool nadir_below(const WindowFeatures& features, double bound) {
    return features.deepest_deceleration_nadir_bpm && *features.deepest_deceleration_nadir_bpm < bound;
}

AlertDecision alert(AlertLevel level) { return {level, std::nullopt}; }
AlertDecision alert(AlertLevel level, Suppression suppression) { return {level, suppression}; }

}  // namespace

namespace detail {

bool is_low_concern_category_ii(FindingSet<Reason> reasons, FindingSet<Protective> protective) {
    if (protective.contains(P::moderate_variability)) return true;
    if (reasons == FindingSet<R>{R::marked_variability}) return true;
    return protective.contains(P::accelerations) &&
           reasons.within({R::gradual_deceleration, R::variable_deceleration, R::marked_variability});
}

bool is_short_burden_bradycardia_alert(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                       double total_deceleration_seconds) {
    return reasons.contains(R::bradycardia) && total_deceleration_seconds < kShortBurdenBelow &&
           reasons.within({R::variable_deceleration, R::bradycardia}) &&
           high_risk.within({H::deep_nadir, H::severe_variable});
}

bool is_deceleration_or_marked_variability_high_risk_only(FindingSet<HighRisk> high_risk) {
    return high_risk.within(kDecelerationOrMarked);
}

bool is_variable_marked_only_alert_context(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                           bool prolonged_present, double total_deceleration_seconds) {
    return !high_risk.empty() && !prolonged_present && total_deceleration_seconds < kContextBurdenBelow &&
           is_deceleration_or_marked_variability_high_risk_only(high_risk) &&
           reasons.contains(R::variable_deceleration) &&
           reasons.within({R::variable_deceleration, R::marked_variability});
}

bool is_isolated_marked_variability_high_risk(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons) {
    return high_risk == FindingSet<H>{H::marked_variability} && reasons.within({R::marked_variability});
}

bool is_suppressible_protected_variable_alert(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                              const WindowFeatures& features, bool prolonged_present) {
    if (prolonged_present || nadir_below(features, kLowNadirBelow) || high_risk.contains(H::recurrent_late) ||
        features.total_deceleration_seconds >= kLimitedBurdenBelow) {
        return false;
    }
    return reasons.intersects({R::gradual_deceleration, R::variable_deceleration}) &&
           high_risk.within({H::deep_nadir, H::deceleration_burden, H::severe_variable});
}

bool is_limited_late_deceleration_alert_context(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                                bool prolonged_present, double total_deceleration_seconds) {
    return !prolonged_present && total_deceleration_seconds < kContextBurdenBelow &&
           reasons.contains(R::late_deceleration) &&
           !high_risk.intersects({H::recurrent_late, H::gradual_with_low_variability}) &&
           reasons.within({R::marked_variability, R::late_deceleration, R::variable_deceleration,
                           R::gradual_deceleration});
}

}  // namespace detail

AlertDecision decide_alert(Classification classification, const Findings& findings,
                           const WindowFeatures& features, double fetal_usable_ratio) {
    using namespace detail;
    const FindingSet<R> reasons = findings.reasons;
    const FindingSet<H> high_risk = findings.high_risk;
    const double usable = fetal_usable_ratio;
    const double total = features.total_deceleration_seconds;
    const bool prolonged = features.prolonged_deceleration_count != 0;
    const bool moderate = findings.protective.contains(P::moderate_variability);

    // Steps 1-4: unusable data, Category III, unclassifiable, escalating finding.
    if (usable < kUnusableFetalRatioBelow) return alert(AlertLevel::data_quality);
    if (classification == Classification::category_iii) return alert(AlertLevel::critical);
    if (classification == Classification::unclassified) return alert(AlertLevel::data_quality);
    if (high_risk.intersects(kEscalating)) return alert(AlertLevel::urgent_review);

    // Step 5: recurrent variable decelerations.
    if (high_risk.contains(H::recurrent_variable)) {
        // 5.1
        const bool low_nadir = nadir_below(features, kLowNadirBelow);
        // 5.7: graded by prolongation, nadir and burden.
        const auto by_burden = [&] {
            const bool urgent = prolonged || low_nadir || total >= kContextBurdenBelow;
            return alert(urgent ? AlertLevel::urgent_review : AlertLevel::warning);
        };
        // 5.5
        const auto variable_or_late_context = [&] {
            if (is_variable_marked_only_alert_context(high_risk, reasons, prolonged, total)) {
                return alert(AlertLevel::none, Suppression::variable_without_context);
            }
            if (is_limited_late_deceleration_alert_context(high_risk, reasons, prolonged, total)) {
                return alert(AlertLevel::none, Suppression::limited_late);
            }
            return by_burden();
        };
        // 5.6: judged as without a prolonged deceleration; whatever is not
        // withheld is demoted to a warning.
        const auto demote_with_moderate = [&] {
            if (is_variable_marked_only_alert_context(high_risk, reasons, false, total)) {
                return alert(AlertLevel::none, Suppression::variable_without_context);
            }
            if (is_limited_late_deceleration_alert_context(high_risk, reasons, false, total)) {
                return alert(AlertLevel::none, Suppression::limited_late);
            }
            return alert(AlertLevel::warning, Suppression::demoted_to_warning);
        };

        // 5.2: a short burden without a deep nadir leaves the branch for step 7.
        const bool leaves_branch = !nadir_below(features, kDeepNadirBelowBpm) && total < kShortBurdenBelow;
        if (!leaves_branch) {
            // 5.3
            if (moderate && usable >= kReliableFetalRatio) {
                if (prolonged) return variable_or_late_context();
                if (total >= kLimitedBurdenBelow) return demote_with_moderate();
                return alert(AlertLevel::none, Suppression::recurrent_variable_with_moderate);
            }
            // 5.4
            if (!prolonged && total < kLimitedBurdenBelow) {
                if (usable < kReliableFetalRatio) return alert(AlertLevel::warning);
                return alert(AlertLevel::none, Suppression::recurrent_variable);
            }
            if (usable < kReliableFetalRatio) return by_burden();
            return variable_or_late_context();
        }
    }

    // Step 6: no high-risk finding.
    if (high_risk.empty()) {
        // 6.1
        if (usable < kReliableFetalRatio) return alert(AlertLevel::data_quality);
        // 6.2
        if (classification == Classification::category_i) return alert(AlertLevel::none);
        // 6.3
        if (classification == Classification::category_ii && prolonged) return alert(AlertLevel::warning);
        // 6.4
        if (is_short_burden_bradycardia_alert(high_risk, reasons, total)) return alert(AlertLevel::warning);
        // 6.5
        if (is_low_concern_category_ii(reasons, findings.protective)) return alert(AlertLevel::none);
        return alert(AlertLevel::warning);
    }

    // Step 7: high-risk findings present (also windows that left step 5 at 5.2).
    // 7.1
    if (is_isolated_marked_variability_high_risk(high_risk, reasons)) {
        return alert(AlertLevel::none, Suppression::isolated_marked);
    }
    // 7.2
    if (is_short_burden_bradycardia_alert(high_risk, reasons, total)) return alert(AlertLevel::warning);
    // 7.3
    if (usable < kReliableFetalRatio) return alert(AlertLevel::warning);
    // 7.4
    if (is_deceleration_or_marked_variability_high_risk_only(high_risk) && !prolonged &&
        total < kLimitedBurdenBelow) {
        return alert(AlertLevel::none, Suppression::limited_burden);
    }
    // 7.5
    if (is_variable_marked_only_alert_context(high_risk, reasons, prolonged, total)) {
        return alert(AlertLevel::none, Suppression::variable_without_context);
    }
    // 7.6
    if (is_limited_late_deceleration_alert_context(high_risk, reasons, prolonged, total)) {
        return alert(AlertLevel::none, Suppression::limited_late);
    }
    // 7.7: kept as a step of its own, although a window that passes it has
    // already stopped at 7.4 (its findings and burden are a subset of those).
    if (moderate && is_suppressible_protected_variable_alert(high_risk, reasons, features, prolonged)) {
        return alert(AlertLevel::none, Suppression::protected_variable);
    }
    // 7.8
    return alert(AlertLevel::warning);
}

}  // namespace fhr_core::analysis
