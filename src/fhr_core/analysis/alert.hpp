// Alert level and suppression.
#pragma once

#include <optional>

#include "fhr_core/model/findings.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// The findings the alert decision reads.
struct Findings {
    FindingSet<Reason> reasons;
    FindingSet<HighRisk> high_risk;
    FindingSet<Protective> protective;
};

struct AlertDecision {
    AlertLevel level = AlertLevel::none;
    std::optional<Suppression> suppression;
};

AlertDecision decide_alert(Classification classification, const Findings& findings,
                           const WindowFeatures& features, double fetal_usable_ratio);

namespace detail {

// The finer tests of the decision.
bool is_low_concern_category_ii(FindingSet<Reason> reasons, FindingSet<Protective> protective);
bool is_short_burden_bradycardia_alert(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                       double total_deceleration_seconds);
bool is_deceleration_or_marked_variability_high_risk_only(FindingSet<HighRisk> high_risk);
bool is_variable_marked_only_alert_context(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                           bool prolonged_present, double total_deceleration_seconds);
bool is_isolated_marked_variability_high_risk(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons);
bool is_suppressible_protected_variable_alert(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                              const WindowFeatures& features, bool prolonged_present);
bool is_limited_late_deceleration_alert_context(FindingSet<HighRisk> high_risk, FindingSet<Reason> reasons,
                                                bool prolonged_present, double total_deceleration_seconds);

}  // namespace detail
}  // namespace fhr_core::analysis
