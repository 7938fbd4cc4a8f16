// Alert level, suppression and the alert predicates, decided from findings.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "fhr_core/analysis/alert.hpp"
#include "judging_test_support.hpp"

namespace {

using namespace fhr_core;
using namespace fhr_core::analysis::detail;
using fhr_core::analysis::Findings;
using R = Reason;
using H = HighRisk;
using P = Protective;
using S = Suppression;
using Reasons = FindingSet<Reason>;
using Risks = FindingSet<HighRisk>;
using Protection = FindingSet<Protective>;

// ------------------------------------------------------------- predicates

TEST(AlertPredicates, LowConcernCategoryII) {
    const struct {
        Reasons reasons;
        Protection protective;
        bool expected;
    } cases[] = {
        {{R::tachycardia, R::late_deceleration}, {P::moderate_variability}, true},
        {{R::marked_variability}, {}, true},
        {{R::marked_variability, R::variable_deceleration}, {}, false},
        {{R::marked_variability, R::variable_deceleration}, {P::accelerations}, true},
        {{R::gradual_deceleration}, {P::accelerations}, true},
        {{}, {P::accelerations}, true},
        {{R::tachycardia, R::variable_deceleration}, {P::accelerations}, false},
        {{R::variable_deceleration}, {}, false},
        {{}, {}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_low_concern_category_ii(c.reasons, c.protective), c.expected);
}

TEST(AlertPredicates, HighRiskOnlyAndIsolatedMarked) {
    EXPECT_TRUE(is_deceleration_or_marked_variability_high_risk_only({}));
    EXPECT_TRUE(is_deceleration_or_marked_variability_high_risk_only(
        {H::marked_variability, H::severe_variable, H::deep_nadir, H::deceleration_burden, H::recurrent_variable}));
    EXPECT_FALSE(is_deceleration_or_marked_variability_high_risk_only({H::recurrent_late}));
    EXPECT_FALSE(is_deceleration_or_marked_variability_high_risk_only({H::severe_variable, H::tachysystole}));

    const struct {
        Risks high_risk;
        Reasons reasons;
        bool expected;
    } cases[] = {
        {{H::marked_variability}, {R::marked_variability}, true},
        {{H::marked_variability}, {}, true},
        {{H::marked_variability}, {R::marked_variability, R::variable_deceleration}, false},
        {{H::marked_variability, H::severe_variable}, {R::marked_variability}, false},
        {{H::severe_variable}, {R::marked_variability}, false},
        {{}, {}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_isolated_marked_variability_high_risk(c.high_risk, c.reasons), c.expected);
}

struct ContextCase {
    Risks high_risk;
    Reasons reasons;
    bool prolonged;
    double total;
    bool expected;
};

TEST(AlertPredicates, ShortBurdenBradycardia) {
    const ContextCase cases[] = {
        {{}, {R::bradycardia}, false, 59.9, true},
        {{}, {R::bradycardia}, false, 60.0, false},
        {{H::deep_nadir, H::severe_variable}, {R::bradycardia, R::variable_deceleration}, false, 30.0, true},
        {{}, {R::variable_deceleration}, false, 30.0, false},
        {{}, {R::bradycardia, R::minimal_variability}, false, 30.0, false},
        {{H::deceleration_burden}, {R::bradycardia}, false, 30.0, false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_short_burden_bradycardia_alert(c.high_risk, c.reasons, c.total), c.expected);
}

TEST(AlertPredicates, VariableMarkedOnlyContext) {
    const ContextCase cases[] = {
        {{H::severe_variable}, {R::variable_deceleration}, false, 299.9, true},
        {{H::deceleration_burden, H::recurrent_variable}, {R::marked_variability, R::variable_deceleration}, false, 100.0, true},
        {{}, {R::variable_deceleration}, false, 100.0, false},
        {{H::severe_variable}, {R::variable_deceleration}, true, 100.0, false},
        {{H::severe_variable}, {R::variable_deceleration}, false, 300.0, false},
        {{H::severe_variable, H::recurrent_late}, {R::variable_deceleration}, false, 100.0, false},
        {{H::marked_variability}, {R::marked_variability}, false, 100.0, false},
        {{H::severe_variable}, {R::tachycardia, R::variable_deceleration}, false, 100.0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_variable_marked_only_alert_context(c.high_risk, c.reasons, c.prolonged, c.total), c.expected);
    }
}

TEST(AlertPredicates, LimitedLateContext) {
    const ContextCase cases[] = {
        {{}, {R::late_deceleration}, false, 100.0, true},
        {{H::deep_nadir},
         {R::gradual_deceleration, R::late_deceleration, R::marked_variability, R::variable_deceleration},
         false, 299.9, true},
        {{H::tachysystole, H::deceleration_burden}, {R::late_deceleration}, false, 100.0, true},
        {{}, {R::late_deceleration}, true, 100.0, false},
        {{}, {R::late_deceleration}, false, 300.0, false},
        {{}, {R::variable_deceleration}, false, 100.0, false},
        {{H::recurrent_late}, {R::late_deceleration}, false, 100.0, false},
        {{H::gradual_with_low_variability}, {R::late_deceleration}, false, 100.0, false},
        {{}, {R::late_deceleration, R::tachycardia}, false, 100.0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_limited_late_deceleration_alert_context(c.high_risk, c.reasons, c.prolonged, c.total), c.expected);
    }
}

TEST(AlertPredicates, SuppressibleProtectedVariable) {
    const struct {
        Risks high_risk;
        Reasons reasons;
        double total;
        std::optional<double> deepest_nadir;
        bool prolonged;
        bool expected;
    } cases[] = {
        {{H::deep_nadir}, {R::variable_deceleration}, 100.0, 75.0, false, true},
        {{}, {R::gradual_deceleration}, 119.9, std::nullopt, false, true},
        {{H::deceleration_burden, H::deep_nadir, H::severe_variable}, {R::tachycardia, R::variable_deceleration}, 100.0, 70.0, false, true},
        {{H::deep_nadir}, {R::variable_deceleration}, 100.0, 75.0, true, false},
        {{H::deep_nadir}, {R::variable_deceleration}, 100.0, 69.9, false, false},
        {{H::recurrent_late}, {R::variable_deceleration}, 100.0, 75.0, false, false},
        {{H::deep_nadir}, {R::variable_deceleration}, 120.0, 75.0, false, false},
        {{H::deep_nadir}, {R::late_deceleration}, 100.0, 75.0, false, false},
        {{H::marked_variability}, {R::variable_deceleration}, 100.0, 75.0, false, false},
    };
    for (const auto& c : cases) {
        WindowFeatures features;
        features.total_deceleration_seconds = c.total;
        features.deepest_deceleration_nadir_bpm = c.deepest_nadir;
        EXPECT_EQ(is_suppressible_protected_variable_alert(c.high_risk, c.reasons, features, c.prolonged), c.expected);
    }
}

// ----------------------------------------------------------------- decision

// What the decision reads of a window.
struct AlertInput {
    Classification category = Classification::category_ii;
    Findings findings;
    double usable = 0.9;
    WindowFeatures features;

    AlertInput& cat(Classification c) { category = c; return *this; }
    AlertInput& why(Reasons r) { findings.reasons = r; return *this; }
    AlertInput& risk(Risks h) { findings.high_risk = h; return *this; }
    AlertInput& protect(Protection p) { findings.protective = p; return *this; }
    AlertInput& f(double v) { usable = v; return *this; }
    AlertInput& t(double v) { features.total_deceleration_seconds = v; return *this; }
    AlertInput& prolong(std::uint64_t n) { features.prolonged_deceleration_count = n; return *this; }
    AlertInput& deepest(double v) { features.deepest_deceleration_nadir_bpm = v; return *this; }

    analysis::AlertDecision decide() const { return analysis::decide_alert(category, findings, features, usable); }
};

constexpr AlertLevel kNone = AlertLevel::none;
constexpr AlertLevel kWarning = AlertLevel::warning;
constexpr AlertLevel kUrgent = AlertLevel::urgent_review;
constexpr AlertLevel kCritical = AlertLevel::critical;
constexpr AlertLevel kDataQuality = AlertLevel::data_quality;
constexpr std::optional<Suppression> kNoReason;

// Recurrent variable decelerations with a burden, moderate variability,
// deepest nadir 85, 90 s of deceleration, fetal ratio 0.9.
AlertInput recurrent_variable() {
    return AlertInput().why({R::variable_deceleration}).risk({H::deceleration_burden, H::recurrent_variable})
        .protect({P::moderate_variability}).deepest(85).t(90);
}
AlertInput unprotected() { return recurrent_variable().protect({}); }
AlertInput short_recurrent() { return AlertInput().why({R::variable_deceleration}).risk({H::recurrent_variable}); }

TEST(AlertDecision, FollowsTheDecisionList) {
    const struct {
        const char* name;
        AlertInput input;
        AlertLevel level;
        std::optional<Suppression> suppression;
    } cases[] = {
        // Steps 1-4.
        {"F 0.49, category III", AlertInput().cat(Classification::category_iii).f(0.49), kDataQuality, kNoReason},
        {"F 0.49, category I", AlertInput().cat(Classification::category_i).f(0.49), kDataQuality, kNoReason},
        {"category III, F 0.5", AlertInput().cat(Classification::category_iii).f(0.5), kCritical, kNoReason},
        {"unclassified, F 1", AlertInput().cat(Classification::unclassified).f(1.0), kDataQuality, kNoReason},
        {"absent variability", AlertInput().why({R::absent_variability}).risk({H::absent_variability}), kUrgent, kNoReason},
        {"persistent minimal", AlertInput().why({R::minimal_variability}).risk({H::persistent_minimal_variability}), kUrgent, kNoReason},
        {"gradual with low variability", AlertInput().why({R::gradual_deceleration}).risk({H::gradual_with_low_variability}), kUrgent, kNoReason},
        {"tachysystole in category II", AlertInput().why({R::tachycardia}).risk({H::deep_nadir, H::tachysystole_with_category_ii}), kUrgent, kNoReason},
        {"two prolonged", AlertInput().why({R::prolonged_deceleration}).risk({H::multiple_prolonged}).prolong(2), kUrgent, kNoReason},
        {"escalation before recurrent variable", recurrent_variable().risk({H::recurrent_late, H::recurrent_variable}), kUrgent, kNoReason},
        {"escalation at a low fetal ratio", AlertInput().risk({H::recurrent_late}).why({R::late_deceleration}).f(0.5), kUrgent, kNoReason},
        // Step 5.3.
        {"moderate, limited burden", recurrent_variable(), kNone, S::recurrent_variable_with_moderate},
        {"moderate, T 150, variable only", recurrent_variable().t(150), kNone, S::variable_without_context},
        {"moderate, T 150, with late", recurrent_variable().t(150).why({R::late_deceleration, R::variable_deceleration}), kNone, S::limited_late},
        {"moderate, T 150, with tachycardia", recurrent_variable().t(150).why({R::tachycardia, R::variable_deceleration}), kWarning, S::demoted_to_warning},
        {"moderate, T 120 demotes", recurrent_variable().t(120).why({R::tachycardia, R::variable_deceleration}), kWarning, S::demoted_to_warning},
        {"moderate, prolonged goes to 5.5", recurrent_variable().t(150).prolong(1).why({R::prolonged_deceleration, R::variable_deceleration}), kUrgent, kNoReason},
        {"moderate needs F 0.7", recurrent_variable().f(0.69), kWarning, kNoReason},
        // Step 5.4.
        {"unprotected, limited burden", unprotected(), kNone, S::recurrent_variable},
        {"unprotected, limited burden, F 0.6", unprotected().f(0.6), kWarning, kNoReason},
        {"unprotected, T 150, variable only", unprotected().t(150), kNone, S::variable_without_context},
        {"unprotected, T 150, with late", unprotected().t(150).why({R::late_deceleration, R::variable_deceleration}), kNone, S::limited_late},
        {"unprotected, T 150, with tachycardia", unprotected().t(150).why({R::tachycardia, R::variable_deceleration}), kWarning, kNoReason},
        {"unprotected, T 300", unprotected().t(300), kUrgent, kNoReason},
        {"unprotected, prolonged, nadir 65", unprotected().deepest(65).prolong(1).why({R::prolonged_deceleration, R::variable_deceleration}), kUrgent, kNoReason},
        {"unprotected, T 150, F 0.6", unprotected().t(150).f(0.6), kWarning, kNoReason},
        {"unprotected, T 150, F 0.6, nadir 69.9", unprotected().t(150).f(0.6).deepest(69.9), kUrgent, kNoReason},
        {"unprotected, T 150, F 0.6, nadir 70", unprotected().t(150).f(0.6).deepest(70), kWarning, kNoReason},
        // Step 5.2.
        {"short and shallow leaves the branch", short_recurrent().deepest(85).t(50), kNone, S::limited_burden},
        {"short with nadir 80 leaves the branch", short_recurrent().deepest(80).t(50), kNone, S::limited_burden},
        {"short with nadir 79.9 stays", short_recurrent().deepest(79.9).t(50), kNone, S::recurrent_variable},
        {"T 60 stays", short_recurrent().deepest(85).t(60), kNone, S::recurrent_variable},
        {"left the branch at a low fetal ratio", short_recurrent().t(50).f(0.6), kWarning, kNoReason},
        // Step 6.
        {"category I, F 0.69", AlertInput().cat(Classification::category_i).f(0.69), kDataQuality, kNoReason},
        {"category I, F 0.7", AlertInput().cat(Classification::category_i).f(0.7), kNone, kNoReason},
        {"category II, F 0.69", AlertInput().why({R::variable_deceleration}).protect({P::moderate_variability}).f(0.69), kDataQuality, kNoReason},
        {"prolonged", AlertInput().why({R::prolonged_deceleration}).protect({P::moderate_variability}).prolong(1), kWarning, kNoReason},
        {"short burden with bradycardia", AlertInput().why({R::bradycardia}).protect({P::moderate_variability}).t(30), kWarning, kNoReason},
        {"bradycardia, 60 s, low concern", AlertInput().why({R::bradycardia}).protect({P::moderate_variability}).t(60), kNone, kNoReason},
        {"variable with moderate", AlertInput().why({R::variable_deceleration}).protect({P::moderate_variability}), kNone, kNoReason},
        {"marked and variable, unprotected", AlertInput().why({R::marked_variability, R::variable_deceleration}), kWarning, kNoReason},
        {"marked and variable with accelerations", AlertInput().why({R::marked_variability, R::variable_deceleration}).protect({P::accelerations}), kNone, kNoReason},
        // Step 7.
        {"isolated marked, F 0.6", AlertInput().why({R::marked_variability}).risk({H::marked_variability}).f(0.6), kNone, S::isolated_marked},
        {"short burden bradycardia before limited burden", AlertInput().why({R::bradycardia, R::variable_deceleration}).risk({H::deep_nadir}).t(30), kWarning, kNoReason},
        {"F 0.69", AlertInput().why({R::variable_deceleration}).risk({H::severe_variable}).t(100).f(0.69), kWarning, kNoReason},
        {"severe variable, limited burden, F 0.7", AlertInput().why({R::variable_deceleration}).risk({H::severe_variable}).t(100).f(0.7), kNone, S::limited_burden},
        {"burden and severe, T 130", AlertInput().why({R::variable_deceleration}).risk({H::deceleration_burden, H::severe_variable}).t(130), kNone, S::variable_without_context},
        {"burden and severe, T 310", AlertInput().why({R::variable_deceleration}).risk({H::deceleration_burden, H::severe_variable}).t(310), kWarning, kNoReason},
        {"late with a deep nadir, T 130", AlertInput().why({R::late_deceleration}).risk({H::deep_nadir}).t(130), kNone, S::limited_late},
        {"late with tachysystole", AlertInput().why({R::late_deceleration}).risk({H::tachysystole}).t(50), kNone, S::limited_late},
        {"late and prolonged with moderate", AlertInput().why({R::late_deceleration, R::prolonged_deceleration}).risk({H::deceleration_burden}).protect({P::moderate_variability}).t(200).prolong(1), kWarning, kNoReason},
        {"moderate, deep variable, long burden", AlertInput().why({R::tachycardia, R::variable_deceleration}).risk({H::deep_nadir}).protect({P::moderate_variability}).t(130), kWarning, kNoReason},
        {"maternal capture", AlertInput().why({R::tachycardia}).risk({H::maternal_capture}), kWarning, kNoReason},
        {"change to tachycardia", AlertInput().why({R::tachycardia}).risk({H::change_to_tachycardia}), kWarning, kNoReason},
    };
    for (const auto& c : cases) {
        const analysis::AlertDecision decision = c.input.decide();
        EXPECT_EQ(decision.level, c.level) << c.name;
        EXPECT_EQ(decision.suppression, c.suppression) << c.name;
    }
}

// Whatever the inputs, a suppression comes only with the level that belongs
// to it, never with urgent_review, critical or data_quality; and step 7.7
// is never the one that decides.
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
                                    AlertInput in = AlertInput().cat(category).risk(high_risk).why(reasons).protect(protective)
                                                        .f(usable).t(total).prolong(prolonged);
                                    in.features.deepest_deceleration_nadir_bpm = nadir;
                                    const analysis::AlertDecision d = in.decide();
                                    if (!d.suppression) continue;
                                    ++suppressed;
                                    ASSERT_EQ(d.level, *d.suppression == S::demoted_to_warning ? kWarning : kNone);
                                    ASSERT_NE(*d.suppression, S::protected_variable);
                                }
    EXPECT_GT(suppressed, 0);
}

}  // namespace
