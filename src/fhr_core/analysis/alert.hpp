// Alert level and suppression.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

using Phrases = std::vector<std::string>;

bool is_low_concern_category_ii(const Phrases& reasons, const Phrases& protective);
bool is_short_burden_bradycardia_alert(const Phrases& high_risk, const Phrases& reasons,
                                       double total_deceleration_seconds);
bool is_deceleration_or_marked_variability_high_risk_only(const Phrases& high_risk);
bool is_variable_marked_only_alert_context(const Phrases& high_risk, const Phrases& reasons,
                                           bool prolonged_present,
                                           double total_deceleration_seconds);
bool is_isolated_marked_variability_high_risk(const Phrases& high_risk, const Phrases& reasons);
bool is_suppressible_protected_variable_alert(const Phrases& high_risk, const Phrases& reasons,
                                              const WindowFeatures& features,
                                              bool prolonged_present);
bool is_limited_late_deceleration_alert_context(const Phrases& high_risk, const Phrases& reasons,
                                                bool prolonged_present,
                                                double total_deceleration_seconds);

struct AlertDecision {
    AlertLevel level = AlertLevel::none;
    std::optional<std::string_view> suppression;  // at most one phrase
};

// Reads the category, the sorted phrase lists, the features group and the
// fetal usable ratio of `window`.
AlertDecision decide_alert(const WindowAnalysis& window);

}  // namespace fhr_core::analysis
