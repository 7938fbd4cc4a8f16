// Alert level and suppression, decided from findings: the decision list row by row, and a sweep over combinations for
// what must hold everywhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fhr_core/analysis/alert.hpp"
#include "support.hpp"

namespace {

using namespace fhr_core;
using namespace fhr_core::analysis::testing_support;
using fhr_core::analysis::Findings;
using R = Reason;
using H = HighRisk;
using P = Protective;
using S = Suppression;
using Reasons = FindingSet<Reason>;
using Risks = FindingSet<HighRisk>;
using Protection = FindingSet<Protective>;

// What the decision reads of a window.
struct AlertInput {
    Classification category = Classification::category_ii;
    Findings findings;
    double usable = 0.9;
    WindowFeatures features;
};

analysis::AlertDecision decide(const AlertInput& in) { return analysis::decide_alert(in.category, in.findings, in.features, in.usable); }

// Keys of tests/data/cpp/alert-decisions.txt; a later key overrides an earlier.
AlertInput alert_input(const std::string& text) {
    AlertInput in;
    for (const std::string& t : words(text)) {
        const auto eq = t.find('=');
        const std::string key = t.substr(0, eq), value = t.substr(eq + 1);
        if (key == "cat") in.category = from_name<Classification>(value);
        else if (key == "why") in.findings.reasons = set_of<Reason>(value);
        else if (key == "risk") in.findings.high_risk = set_of<HighRisk>(value);
        else if (key == "protect") in.findings.protective = set_of<Protective>(value);
        else if (key == "f") in.usable = num(value);
        else if (key == "t") in.features.total_deceleration_seconds = num(value);
        else if (key == "prolong") in.features.prolonged_deceleration_count = static_cast<std::uint64_t>(num(value));
        else if (key == "deepest") in.features.deepest_deceleration_nadir_bpm = num(value);
        else throw std::invalid_argument(t);
    }
    return in;
}

TEST(AlertDecision, FollowsTheDecisionList) {
    for (const auto& row : table("alert-decisions.txt")) {
        const analysis::AlertDecision decision = decide(alert_input(row[1]));
        EXPECT_EQ(decision.level, from_name<AlertLevel>(row[2])) << row[0];
        EXPECT_EQ(decision.suppression, row[3] == "-" ? std::nullopt : std::optional(from_name<Suppression>(row[3]))) << row[0];
    }
}

// Whatever the inputs, a suppression comes only with the level that belongs to it, never with urgent_review, critical
// or data_quality; and the protected-variable suppression is never the one that decides.
TEST(AlertDecision, SuppressionMatchesItsLevel) {
    const std::vector<Risks> high_risk_sets = {
        {}, {H::marked_variability}, {H::severe_variable}, {H::deep_nadir}, {H::deceleration_burden, H::severe_variable},
        {H::deceleration_burden, H::recurrent_variable}, {H::deep_nadir, H::recurrent_variable}, {H::recurrent_late},
        {H::maternal_capture},
    };
    const std::vector<Reasons> reason_sets = {
        {}, {R::variable_deceleration}, {R::marked_variability}, {R::late_deceleration},
        {R::late_deceleration, R::variable_deceleration}, {R::bradycardia, R::variable_deceleration},
        {R::tachycardia, R::variable_deceleration}, {R::gradual_deceleration},
    };
    const Protection protective_sets[] = {{}, {P::moderate_variability}, {P::accelerations}};
    const Classification categories[] = {Classification::category_i, Classification::category_ii,
                                         Classification::category_iii, Classification::unclassified};
    int suppressed = 0;
    for (Classification category : categories)
        for (const Risks& high_risk : high_risk_sets)
            for (const Reasons& reasons : reason_sets)
                for (const Protection& protective : protective_sets)
                    for (double usable : {0.4, 0.6, 0.9})
                        for (double total : {30.0, 100.0, 150.0, 350.0})
                            for (std::uint64_t prolonged : {0u, 1u})
                                for (std::optional<double> nadir : {std::optional<double>{}, std::optional<double>{65.0}, std::optional<double>{85.0}}) {
                                    AlertInput in{category, {}, usable, {}};
                                    in.findings.high_risk = high_risk, in.findings.reasons = reasons, in.findings.protective = protective;
                                    in.features.total_deceleration_seconds = total, in.features.prolonged_deceleration_count = prolonged;
                                    in.features.deepest_deceleration_nadir_bpm = nadir;
                                    const analysis::AlertDecision d = decide(in);
                                    if (!d.suppression) continue;
                                    ++suppressed;
                                    ASSERT_EQ(d.level, *d.suppression == S::demoted_to_warning ? AlertLevel::warning : AlertLevel::none);
                                    ASSERT_NE(*d.suppression, S::protected_variable);
                                }
    EXPECT_GT(suppressed, 0);
}

}  // namespace
