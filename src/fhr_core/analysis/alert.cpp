// How loudly a window alerts, and why an alert was withheld or lowered.
#include "fhr_core/analysis/alert.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "fhr_core/analysis/phrases.hpp"

namespace fhr_core::analysis {

namespace {

namespace p = phrases;

// Fetal signal shares: below the first nothing can be judged; below the
// second a quiet verdict is not trusted.
constexpr double kUnusableFetalRatioBelow = 0.5;
constexpr double kReliableFetalRatio = 0.7;

// Deceleration burden thresholds (total seconds of deceleration).
constexpr double kShortBurdenBelow = 60.0;
constexpr double kLimitedBurdenBelow = 120.0;
constexpr double kContextBurdenBelow = 300.0;
// Deepest nadir thresholds (bpm).
constexpr double kLowNadirBelow = 70.0;
constexpr double kDeepNadirBelow = 80.0;

// High-risk findings that always call for urgent review of a Category I or II window.
constexpr std::array<std::string_view, 6> kEscalatingFeatures = {
    p::kRiskAbsentVariability,         p::kRiskPersistentMinimal,
    p::kRiskRecurrentLate,             p::kRiskGradualWithLowVariability,
    p::kRiskTachysystoleWithCategoryII, p::kRiskMultipleProlonged,
};

bool contains(const Phrases& list, std::string_view phrase) {
    return std::find(list.begin(), list.end(), phrase) != list.end();
}

// Every entry of the list is one of `allowed` (true for an empty list).
bool holds_only(const Phrases& list, std::initializer_list<std::string_view> allowed) {
    return std::all_of(list.begin(), list.end(), [&allowed](const std::string& entry) {
        return std::find(allowed.begin(), allowed.end(), entry) != allowed.end();
    });
}

bool is_exactly(const Phrases& list, std::string_view phrase) {
    return list.size() == 1 && list.front() == phrase;
}

bool nadir_below(const WindowFeatures& features, double bound) {
    return features.deepest_deceleration_nadir_bpm &&
           *features.deepest_deceleration_nadir_bpm < bound;
}

AlertDecision alert(AlertLevel level) { return {level, std::nullopt}; }
AlertDecision alert(AlertLevel level, std::string_view suppression) { return {level, suppression}; }

}  // namespace

bool is_low_concern_category_ii(const Phrases& reasons, const Phrases& protective) {
    if (contains(protective, p::kProtectiveModerateVariability)) return true;
    if (is_exactly(reasons, p::kReasonMarkedVariability)) return true;
    return contains(protective, p::kProtectiveAccelerations) &&
           holds_only(reasons, {p::kReasonGradualDeceleration, p::kReasonVariableDeceleration,
                                p::kReasonMarkedVariability});
}

bool is_short_burden_bradycardia_alert(const Phrases& high_risk, const Phrases& reasons,
                                       double total_deceleration_seconds) {
    return contains(reasons, p::kReasonBradycardia) &&
           total_deceleration_seconds < kShortBurdenBelow &&
           holds_only(reasons, {p::kReasonVariableDeceleration, p::kReasonBradycardia}) &&
           holds_only(high_risk, {p::kRiskDeepNadir, p::kRiskSevereVariable});
}

bool is_deceleration_or_marked_variability_high_risk_only(const Phrases& high_risk) {
    return holds_only(high_risk, {p::kRiskMarkedVariability, p::kRiskSevereVariable,
                                  p::kRiskDeepNadir, p::kRiskDecelerationBurden,
                                  p::kRiskRecurrentVariable});
}

bool is_variable_marked_only_alert_context(const Phrases& high_risk, const Phrases& reasons,
                                           bool prolonged_present,
                                           double total_deceleration_seconds) {
    return !high_risk.empty() && !prolonged_present &&
           total_deceleration_seconds < kContextBurdenBelow &&
           is_deceleration_or_marked_variability_high_risk_only(high_risk) &&
           contains(reasons, p::kReasonVariableDeceleration) &&
           holds_only(reasons, {p::kReasonVariableDeceleration, p::kReasonMarkedVariability});
}

bool is_isolated_marked_variability_high_risk(const Phrases& high_risk, const Phrases& reasons) {
    return is_exactly(high_risk, p::kRiskMarkedVariability) &&
           holds_only(reasons, {p::kReasonMarkedVariability});
}

bool is_suppressible_protected_variable_alert(const Phrases& high_risk, const Phrases& reasons,
                                              const WindowFeatures& features,
                                              bool prolonged_present) {
    if (prolonged_present || nadir_below(features, kLowNadirBelow) ||
        contains(high_risk, p::kRiskRecurrentLate) ||
        features.total_deceleration_seconds >= kLimitedBurdenBelow) {
        return false;
    }
    return (contains(reasons, p::kReasonGradualDeceleration) ||
            contains(reasons, p::kReasonVariableDeceleration)) &&
           holds_only(high_risk,
                      {p::kRiskDeepNadir, p::kRiskDecelerationBurden, p::kRiskSevereVariable});
}

bool is_limited_late_deceleration_alert_context(const Phrases& high_risk, const Phrases& reasons,
                                                bool prolonged_present,
                                                double total_deceleration_seconds) {
    return !prolonged_present && total_deceleration_seconds < kContextBurdenBelow &&
           contains(reasons, p::kReasonLateDeceleration) &&
           !contains(high_risk, p::kRiskRecurrentLate) &&
           !contains(high_risk, p::kRiskGradualWithLowVariability) &&
           holds_only(reasons, {p::kReasonMarkedVariability, p::kReasonLateDeceleration,
                                p::kReasonVariableDeceleration, p::kReasonGradualDeceleration});
}

AlertDecision decide_alert(const WindowAnalysis& window) {
    const Classification category = window.classification;
    const Phrases& reasons = window.reasons;
    const Phrases& high_risk = window.high_risk_features;
    const Phrases& protective = window.protective_features;
    const WindowFeatures& features = window.features;
    const double usable = window.data_quality.fetal_usable_ratio;
    const double total = features.total_deceleration_seconds;
    const bool prolonged = features.prolonged_deceleration_count != 0;
    const bool moderate = contains(protective, p::kProtectiveModerateVariability);

    // Steps 1-4: unusable data, Category III, unclassifiable, escalating finding.
    if (usable < kUnusableFetalRatioBelow) return alert(AlertLevel::data_quality);
    if (category == Classification::category_iii) return alert(AlertLevel::critical);
    if (category == Classification::unclassified) return alert(AlertLevel::data_quality);
    if (std::any_of(kEscalatingFeatures.begin(), kEscalatingFeatures.end(),
                    [&high_risk](std::string_view f) { return contains(high_risk, f); })) {
        return alert(AlertLevel::urgent_review);
    }

    // Step 5: recurrent variable decelerations.
    if (contains(high_risk, p::kRiskRecurrentVariable)) {
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
                return alert(AlertLevel::none, p::kSuppressVariableWithoutContext);
            }
            if (is_limited_late_deceleration_alert_context(high_risk, reasons, prolonged, total)) {
                return alert(AlertLevel::none, p::kSuppressLimitedLate);
            }
            return by_burden();
        };
        // 5.6: judged as without a prolonged deceleration; whatever is not
        // withheld is demoted to a warning.
        const auto demote_with_moderate = [&] {
            if (is_variable_marked_only_alert_context(high_risk, reasons, false, total)) {
                return alert(AlertLevel::none, p::kSuppressVariableWithoutContext);
            }
            if (is_limited_late_deceleration_alert_context(high_risk, reasons, false, total)) {
                return alert(AlertLevel::none, p::kSuppressLimitedLate);
            }
            return alert(AlertLevel::warning, p::kSuppressDemotedToWarning);
        };

        // 5.2: a short burden without a deep nadir leaves the branch for step 7.
        const bool leaves_branch =
            !nadir_below(features, kDeepNadirBelow) && total < kShortBurdenBelow;
        if (!leaves_branch) {
            // 5.3
            if (moderate && usable >= kReliableFetalRatio) {
                if (prolonged) return variable_or_late_context();
                if (total >= kLimitedBurdenBelow) return demote_with_moderate();
                return alert(AlertLevel::none, p::kSuppressRecurrentVariableWithModerate);
            }
            // 5.4
            if (!prolonged && total < kLimitedBurdenBelow) {
                if (usable < kReliableFetalRatio) return alert(AlertLevel::warning);
                return alert(AlertLevel::none, p::kSuppressRecurrentVariable);
            }
            if (usable < kReliableFetalRatio) return by_burden();
            return variable_or_late_context();
        }
    }

    // Step 6: no high-risk feature.
    if (high_risk.empty()) {
        // 6.1
        if (usable < kReliableFetalRatio) return alert(AlertLevel::data_quality);
        // 6.2
        if (category == Classification::category_i) return alert(AlertLevel::none);
        // 6.3
        if (category == Classification::category_ii && prolonged) return alert(AlertLevel::warning);
        // 6.4
        if (is_short_burden_bradycardia_alert(high_risk, reasons, total)) {
            return alert(AlertLevel::warning);
        }
        // 6.5
        if (is_low_concern_category_ii(reasons, protective)) return alert(AlertLevel::none);
        return alert(AlertLevel::warning);
    }

    // Step 7: high-risk features present (also windows that left step 5 at 5.2).
    // 7.1
    if (is_isolated_marked_variability_high_risk(high_risk, reasons)) {
        return alert(AlertLevel::none, p::kSuppressIsolatedMarked);
    }
    // 7.2
    if (is_short_burden_bradycardia_alert(high_risk, reasons, total)) {
        return alert(AlertLevel::warning);
    }
    // 7.3
    if (usable < kReliableFetalRatio) return alert(AlertLevel::warning);
    // 7.4
    if (is_deceleration_or_marked_variability_high_risk_only(high_risk) && !prolonged &&
        total < kLimitedBurdenBelow) {
        return alert(AlertLevel::none, p::kSuppressLimitedBurden);
    }
    // 7.5
    if (is_variable_marked_only_alert_context(high_risk, reasons, prolonged, total)) {
        return alert(AlertLevel::none, p::kSuppressVariableWithoutContext);
    }
    // 7.6
    if (is_limited_late_deceleration_alert_context(high_risk, reasons, prolonged, total)) {
        return alert(AlertLevel::none, p::kSuppressLimitedLate);
    }
    // 7.7: kept as a step of its own, although a window that passes it has
    // already stopped at 7.4 (its findings and burden are a subset of those).
    if (moderate &&
        is_suppressible_protected_variable_alert(high_risk, reasons, features, prolonged)) {
        return alert(AlertLevel::none, p::kSuppressProtectedVariable);
    }
    // 7.8
    return alert(AlertLevel::warning);
}

}  // namespace fhr_core::analysis
