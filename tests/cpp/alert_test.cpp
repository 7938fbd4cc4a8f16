// Alert level, suppression reasons and the seven alert predicates.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/analysis/alert.hpp"
#include "fhr_core/analysis/phrases.hpp"

namespace {

using fhr_core::AlertLevel;
using fhr_core::Classification;
using fhr_core::WindowAnalysis;
using fhr_core::WindowFeatures;
using fhr_core::analysis::Phrases;
namespace p = fhr_core::analysis::phrases;

Phrases texts(std::initializer_list<std::string_view> phrases) {
    return {phrases.begin(), phrases.end()};
}

// Shorthands for the phrases the decision reads.
const std::string_view kRVariable = p::kReasonVariableDeceleration;
const std::string_view kRLate = p::kReasonLateDeceleration;
const std::string_view kRMarked = p::kReasonMarkedVariability;
const std::string_view kRGradual = p::kReasonGradualDeceleration;
const std::string_view kRBrady = p::kReasonBradycardia;
const std::string_view kRTachy = p::kReasonTachycardia;
const std::string_view kRProlonged = p::kReasonProlongedDeceleration;
const std::string_view kHMarked = p::kRiskMarkedVariability;
const std::string_view kHSevere = p::kRiskSevereVariable;
const std::string_view kHDeep = p::kRiskDeepNadir;
const std::string_view kHBurden = p::kRiskDecelerationBurden;
const std::string_view kHRecVariable = p::kRiskRecurrentVariable;
const std::string_view kHRecLate = p::kRiskRecurrentLate;
const std::string_view kHGradual = p::kRiskGradualWithLowVariability;
const std::string_view kPModerate = p::kProtectiveModerateVariability;
const std::string_view kPAccel = p::kProtectiveAccelerations;

// ------------------------------------------------------------- predicates

struct ListsCase {
    const char* name;
    Phrases first;
    Phrases second;
    bool expected;
};

class LowConcernTest : public ::testing::TestWithParam<ListsCase> {};
TEST_P(LowConcernTest, Decides) {
    // first: reasons, second: protective features
    EXPECT_EQ(fhr_core::analysis::is_low_concern_category_ii(GetParam().first, GetParam().second),
              GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Alert, LowConcernTest,
    ::testing::Values(
        ListsCase{"moderate_whatever_reasons", texts({kRTachy, kRLate}), texts({kPModerate}), true},
        ListsCase{"only_marked_reason", texts({kRMarked}), {}, true},
        ListsCase{"marked_and_variable_without_protection", texts({kRMarked, kRVariable}), {},
                  false},
        ListsCase{"marked_and_variable_with_accelerations", texts({kRMarked, kRVariable}),
                  texts({kPAccel}), true},
        ListsCase{"gradual_with_accelerations", texts({kRGradual}), texts({kPAccel}), true},
        ListsCase{"no_reasons_with_accelerations", {}, texts({kPAccel}), true},
        ListsCase{"tachycardia_with_accelerations", texts({kRTachy, kRVariable}),
                  texts({kPAccel}), false},
        ListsCase{"variable_without_protection", texts({kRVariable}), {}, false},
        ListsCase{"nothing", {}, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

class DecelerationOrMarkedOnlyTest : public ::testing::TestWithParam<ListsCase> {};
TEST_P(DecelerationOrMarkedOnlyTest, Decides) {
    EXPECT_EQ(fhr_core::analysis::is_deceleration_or_marked_variability_high_risk_only(
                  GetParam().first),
              GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Alert, DecelerationOrMarkedOnlyTest,
    ::testing::Values(ListsCase{"empty", {}, {}, true},
                      ListsCase{"all_five",
                                texts({kHMarked, kHSevere, kHDeep, kHBurden, kHRecVariable}), {},
                                true},
                      ListsCase{"recurrent_late", texts({kHRecLate}), {}, false},
                      ListsCase{"severe_and_tachysystole", texts({kHSevere, p::kRiskTachysystole}),
                                {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

class IsolatedMarkedTest : public ::testing::TestWithParam<ListsCase> {};
TEST_P(IsolatedMarkedTest, Decides) {
    // first: high-risk features, second: reasons
    EXPECT_EQ(fhr_core::analysis::is_isolated_marked_variability_high_risk(GetParam().first,
                                                                            GetParam().second),
              GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Alert, IsolatedMarkedTest,
    ::testing::Values(ListsCase{"marked_with_marked_reason", texts({kHMarked}), texts({kRMarked}),
                                true},
                      ListsCase{"marked_without_reasons", texts({kHMarked}), {}, true},
                      ListsCase{"marked_with_variable_reason", texts({kHMarked}),
                                texts({kRMarked, kRVariable}), false},
                      ListsCase{"marked_and_severe", texts({kHMarked, kHSevere}), texts({kRMarked}),
                                false},
                      ListsCase{"severe_only", texts({kHSevere}), texts({kRMarked}), false},
                      ListsCase{"nothing", {}, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct ContextCase {
    const char* name;
    Phrases high_risk;
    Phrases reasons;
    bool prolonged;
    double total;
    bool expected;
};

class ShortBurdenBradycardiaTest : public ::testing::TestWithParam<ContextCase> {};
TEST_P(ShortBurdenBradycardiaTest, Decides) {
    const ContextCase& c = GetParam();
    EXPECT_EQ(
        fhr_core::analysis::is_short_burden_bradycardia_alert(c.high_risk, c.reasons, c.total),
        c.expected);
}
INSTANTIATE_TEST_SUITE_P(
    Alert, ShortBurdenBradycardiaTest,
    ::testing::Values(
        ContextCase{"bradycardia_short", {}, texts({kRBrady}), false, 59.9, true},
        ContextCase{"bradycardia_60_seconds", {}, texts({kRBrady}), false, 60.0, false},
        ContextCase{"with_deep_and_severe", texts({kHDeep, kHSevere}),
                    texts({kRBrady, kRVariable}), false, 30.0, true},
        ContextCase{"no_bradycardia", {}, texts({kRVariable}), false, 30.0, false},
        ContextCase{"bradycardia_and_minimal", {}, texts({kRBrady, p::kReasonMinimalVariability}),
                    false, 30.0, false},
        ContextCase{"burden_finding", texts({kHBurden}), texts({kRBrady}), false, 30.0, false}),
    [](const auto& info) { return std::string(info.param.name); });

class VariableMarkedOnlyTest : public ::testing::TestWithParam<ContextCase> {};
TEST_P(VariableMarkedOnlyTest, Decides) {
    const ContextCase& c = GetParam();
    EXPECT_EQ(fhr_core::analysis::is_variable_marked_only_alert_context(c.high_risk, c.reasons,
                                                                        c.prolonged, c.total),
              c.expected);
}
INSTANTIATE_TEST_SUITE_P(
    Alert, VariableMarkedOnlyTest,
    ::testing::Values(
        ContextCase{"severe_variable", texts({kHSevere}), texts({kRVariable}), false, 299.9, true},
        ContextCase{"marked_and_variable_reasons", texts({kHBurden, kHRecVariable}),
                    texts({kRMarked, kRVariable}), false, 100.0, true},
        ContextCase{"no_high_risk", {}, texts({kRVariable}), false, 100.0, false},
        ContextCase{"prolonged", texts({kHSevere}), texts({kRVariable}), true, 100.0, false},
        ContextCase{"total_300", texts({kHSevere}), texts({kRVariable}), false, 300.0, false},
        ContextCase{"recurrent_late_finding", texts({kHSevere, kHRecLate}), texts({kRVariable}),
                    false, 100.0, false},
        ContextCase{"marked_reason_only", texts({kHMarked}), texts({kRMarked}), false, 100.0,
                    false},
        ContextCase{"tachycardia_reason", texts({kHSevere}), texts({kRTachy, kRVariable}), false,
                    100.0, false}),
    [](const auto& info) { return std::string(info.param.name); });

class LimitedLateTest : public ::testing::TestWithParam<ContextCase> {};
TEST_P(LimitedLateTest, Decides) {
    const ContextCase& c = GetParam();
    EXPECT_EQ(fhr_core::analysis::is_limited_late_deceleration_alert_context(
                  c.high_risk, c.reasons, c.prolonged, c.total),
              c.expected);
}
INSTANTIATE_TEST_SUITE_P(
    Alert, LimitedLateTest,
    ::testing::Values(
        ContextCase{"late_only", {}, texts({kRLate}), false, 100.0, true},
        ContextCase{"all_allowed_reasons", texts({kHDeep}),
                    texts({kRGradual, kRLate, kRMarked, kRVariable}), false, 299.9, true},
        ContextCase{"other_findings_allowed", texts({p::kRiskTachysystole, kHBurden}),
                    texts({kRLate}), false, 100.0, true},
        ContextCase{"prolonged", {}, texts({kRLate}), true, 100.0, false},
        ContextCase{"total_300", {}, texts({kRLate}), false, 300.0, false},
        ContextCase{"no_late_reason", {}, texts({kRVariable}), false, 100.0, false},
        ContextCase{"recurrent_late_finding", texts({kHRecLate}), texts({kRLate}), false, 100.0,
                    false},
        ContextCase{"gradual_low_variability_finding", texts({kHGradual}), texts({kRLate}), false,
                    100.0, false},
        ContextCase{"tachycardia_reason", {}, texts({kRLate, kRTachy}), false, 100.0, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProtectedVariableCase {
    const char* name;
    Phrases high_risk;
    Phrases reasons;
    double total;
    std::optional<double> deepest_nadir;
    bool prolonged;
    bool expected;
};

class ProtectedVariableTest : public ::testing::TestWithParam<ProtectedVariableCase> {};
TEST_P(ProtectedVariableTest, Decides) {
    const ProtectedVariableCase& c = GetParam();
    WindowFeatures features;
    features.total_deceleration_seconds = c.total;
    features.deepest_deceleration_nadir_bpm = c.deepest_nadir;
    EXPECT_EQ(fhr_core::analysis::is_suppressible_protected_variable_alert(c.high_risk, c.reasons,
                                                                           features, c.prolonged),
              c.expected);
}
INSTANTIATE_TEST_SUITE_P(
    Alert, ProtectedVariableTest,
    ::testing::Values(
        ProtectedVariableCase{"deep_variable", texts({kHDeep}), texts({kRVariable}), 100.0, 75.0,
                              false, true},
        ProtectedVariableCase{"no_findings_gradual", {}, texts({kRGradual}), 119.9, std::nullopt,
                              false, true},
        ProtectedVariableCase{"all_three_findings", texts({kHBurden, kHDeep, kHSevere}),
                              texts({kRTachy, kRVariable}), 100.0, 70.0, false, true},
        ProtectedVariableCase{"prolonged", texts({kHDeep}), texts({kRVariable}), 100.0, 75.0,
                              true, false},
        ProtectedVariableCase{"nadir_below_70", texts({kHDeep}), texts({kRVariable}), 100.0,
                              69.9, false, false},
        ProtectedVariableCase{"recurrent_late", texts({kHRecLate}), texts({kRVariable}), 100.0,
                              75.0, false, false},
        ProtectedVariableCase{"total_120", texts({kHDeep}), texts({kRVariable}), 120.0, 75.0,
                              false, false},
        ProtectedVariableCase{"late_reason_only", texts({kHDeep}), texts({kRLate}), 100.0, 75.0,
                              false, false},
        ProtectedVariableCase{"marked_finding", texts({kHMarked}), texts({kRVariable}), 100.0,
                              75.0, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------- decision

// The values of a window that the alert decision reads; the lists are given
// already sorted, as the decision receives them.
struct AlertInput {
    Classification category = Classification::category_ii;
    Phrases reasons;
    Phrases high_risk;
    Phrases protective;
    double usable = 0.9;
    double total = 0.0;
    std::uint64_t prolonged = 0;
    std::optional<double> nadir;

    using List = std::initializer_list<std::string_view>;
    AlertInput& cat(Classification c) { category = c; return *this; }
    AlertInput& why(List r) { reasons = texts(r); return *this; }
    AlertInput& risk(List h) { high_risk = texts(h); return *this; }
    AlertInput& protect(List pr) { protective = texts(pr); return *this; }
    AlertInput& f(double v) { usable = v; return *this; }
    AlertInput& t(double v) { total = v; return *this; }
    AlertInput& prolong(std::uint64_t n) { prolonged = n; return *this; }
    AlertInput& deepest(double v) { nadir = v; return *this; }

    WindowAnalysis window() const {
        WindowAnalysis w;
        w.classification = category;
        w.reasons = reasons;
        w.high_risk_features = high_risk;
        w.protective_features = protective;
        w.data_quality.fetal_usable_ratio = usable;
        w.features.total_deceleration_seconds = total;
        w.features.prolonged_deceleration_count = prolonged;
        w.features.deepest_deceleration_nadir_bpm = nadir;
        return w;
    }
};

struct AlertCase {
    const char* name;
    AlertInput input;
    AlertLevel level;
    std::optional<std::string_view> suppression;
};

class DecideAlertTest : public ::testing::TestWithParam<AlertCase> {};

TEST_P(DecideAlertTest, FollowsDecisionList) {
    const AlertCase& c = GetParam();
    const auto decision = fhr_core::analysis::decide_alert(c.input.window());
    EXPECT_EQ(decision.level, c.level);
    EXPECT_EQ(decision.suppression, c.suppression);
}

constexpr AlertLevel kNone = AlertLevel::none;
constexpr AlertLevel kWarning = AlertLevel::warning;
constexpr AlertLevel kUrgent = AlertLevel::urgent_review;
constexpr AlertLevel kCritical = AlertLevel::critical;
constexpr AlertLevel kDataQuality = AlertLevel::data_quality;

// High-risk ["concerning deceleration burden", "recurrent variable
// decelerations"], reasons ["variable deceleration"], moderate variability,
// deepest nadir 85, 90 s of deceleration, fetal ratio 0.9.
AlertInput recurrent_variable() {
    return AlertInput()
        .why({kRVariable})
        .risk({kHBurden, kHRecVariable})
        .protect({kPModerate})
        .deepest(85)
        .t(90);
}
AlertInput recurrent_variable_unprotected() { return recurrent_variable().protect({}); }

INSTANTIATE_TEST_SUITE_P(
    AlertSteps1To4, DecideAlertTest,
    ::testing::Values(
        AlertCase{"f_0_49_category_iii", AlertInput().cat(Classification::category_iii).f(0.49),
                  kDataQuality, std::nullopt},
        AlertCase{"f_0_49_category_i", AlertInput().cat(Classification::category_i).f(0.49),
                  kDataQuality, std::nullopt},
        AlertCase{"category_iii_f_0_5", AlertInput().cat(Classification::category_iii).f(0.5),
                  kCritical, std::nullopt},
        AlertCase{"unclassified_f_1", AlertInput().cat(Classification::unclassified).f(1.0),
                  kDataQuality, std::nullopt},
        AlertCase{"absent_variability",
                  AlertInput().why({p::kReasonAbsentVariability}).risk({p::kRiskAbsentVariability}),
                  kUrgent, std::nullopt},
        AlertCase{"persistent_minimal",
                  AlertInput()
                      .why({p::kReasonMinimalVariability})
                      .risk({p::kRiskPersistentMinimal}),
                  kUrgent, std::nullopt},
        AlertCase{"recurrent_late", AlertInput().why({kRLate}).risk({kHRecLate}), kUrgent,
                  std::nullopt},
        AlertCase{"gradual_low_variability", AlertInput().why({kRGradual}).risk({kHGradual}),
                  kUrgent, std::nullopt},
        AlertCase{"tachysystole_category_ii",
                  AlertInput().why({kRTachy}).risk({kHDeep, p::kRiskTachysystoleWithCategoryII}),
                  kUrgent, std::nullopt},
        AlertCase{"multiple_prolonged",
                  AlertInput().why({kRProlonged}).risk({p::kRiskMultipleProlonged}).prolong(2),
                  kUrgent, std::nullopt},
        AlertCase{"escalation_before_recurrent_variable",
                  recurrent_variable().risk({kHRecLate, kHRecVariable}), kUrgent, std::nullopt},
        AlertCase{"escalation_at_low_fetal_ratio",
                  AlertInput().risk({kHRecLate}).why({kRLate}).f(0.5), kUrgent, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    AlertStep5RecurrentVariable, DecideAlertTest,
    ::testing::Values(
        // 5.3
        AlertCase{"moderate_limited_burden", recurrent_variable(), kNone,
                  p::kSuppressRecurrentVariableWithModerate},
        AlertCase{"moderate_t_150_variable_only", recurrent_variable().t(150), kNone,
                  p::kSuppressVariableWithoutContext},
        AlertCase{"moderate_t_150_with_late", recurrent_variable().t(150).why({kRLate, kRVariable}),
                  kNone, p::kSuppressLimitedLate},
        AlertCase{"moderate_t_150_with_tachycardia",
                  recurrent_variable().t(150).why({kRTachy, kRVariable}), kWarning,
                  p::kSuppressDemotedToWarning},
        AlertCase{"moderate_t_120_demotion_boundary",
                  recurrent_variable().t(120).why({kRTachy, kRVariable}), kWarning,
                  p::kSuppressDemotedToWarning},
        AlertCase{"moderate_prolonged_goes_to_5_5",
                  recurrent_variable().t(150).prolong(1).why({kRProlonged, kRVariable}), kUrgent,
                  std::nullopt},
        AlertCase{"moderate_needs_f_0_7", recurrent_variable().f(0.69), kWarning, std::nullopt},
        // 5.4
        AlertCase{"unprotected_limited_burden", recurrent_variable_unprotected(), kNone,
                  p::kSuppressRecurrentVariable},
        AlertCase{"unprotected_limited_burden_f_0_6", recurrent_variable_unprotected().f(0.6),
                  kWarning, std::nullopt},
        AlertCase{"unprotected_t_150_variable_only", recurrent_variable_unprotected().t(150),
                  kNone, p::kSuppressVariableWithoutContext},
        AlertCase{"unprotected_t_150_with_late",
                  recurrent_variable_unprotected().t(150).why({kRLate, kRVariable}), kNone,
                  p::kSuppressLimitedLate},
        AlertCase{"unprotected_t_150_with_tachycardia",
                  recurrent_variable_unprotected().t(150).why({kRTachy, kRVariable}), kWarning,
                  std::nullopt},
        AlertCase{"unprotected_t_300", recurrent_variable_unprotected().t(300), kUrgent,
                  std::nullopt},
        AlertCase{"unprotected_prolonged_nadir_65",
                  recurrent_variable_unprotected().deepest(65).prolong(1).why(
                      {kRProlonged, kRVariable}),
                  kUrgent, std::nullopt},
        AlertCase{"unprotected_t_150_f_0_6", recurrent_variable_unprotected().t(150).f(0.6),
                  kWarning, std::nullopt},
        AlertCase{"unprotected_t_150_f_0_6_nadir_69_9",
                  recurrent_variable_unprotected().t(150).f(0.6).deepest(69.9), kUrgent,
                  std::nullopt},
        AlertCase{"unprotected_t_150_f_0_6_nadir_70",
                  recurrent_variable_unprotected().t(150).f(0.6).deepest(70), kWarning,
                  std::nullopt},
        // 5.2
        AlertCase{"short_shallow_leaves_branch",
                  AlertInput().why({kRVariable}).risk({kHRecVariable}).deepest(85).t(50), kNone,
                  p::kSuppressLimitedBurden},
        AlertCase{"short_nadir_80_leaves_branch",
                  AlertInput().why({kRVariable}).risk({kHRecVariable}).deepest(80).t(50), kNone,
                  p::kSuppressLimitedBurden},
        AlertCase{"short_nadir_79_9_stays",
                  AlertInput().why({kRVariable}).risk({kHRecVariable}).deepest(79.9).t(50), kNone,
                  p::kSuppressRecurrentVariable},
        AlertCase{"t_60_stays",
                  AlertInput().why({kRVariable}).risk({kHRecVariable}).deepest(85).t(60), kNone,
                  p::kSuppressRecurrentVariable},
        AlertCase{"left_branch_low_fetal_ratio",
                  AlertInput().why({kRVariable}).risk({kHRecVariable}).t(50).f(0.6), kWarning,
                  std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    AlertStep6NoHighRisk, DecideAlertTest,
    ::testing::Values(
        AlertCase{"category_i_f_0_69", AlertInput().cat(Classification::category_i).f(0.69),
                  kDataQuality, std::nullopt},
        AlertCase{"category_i_f_0_7", AlertInput().cat(Classification::category_i).f(0.7), kNone,
                  std::nullopt},
        AlertCase{"category_ii_f_0_69",
                  AlertInput().why({kRVariable}).protect({kPModerate}).f(0.69), kDataQuality,
                  std::nullopt},
        AlertCase{"prolonged", AlertInput().why({kRProlonged}).protect({kPModerate}).prolong(1),
                  kWarning, std::nullopt},
        AlertCase{"short_burden_bradycardia",
                  AlertInput().why({kRBrady}).protect({kPModerate}).t(30), kWarning, std::nullopt},
        AlertCase{"bradycardia_60_seconds_is_low_concern",
                  AlertInput().why({kRBrady}).protect({kPModerate}).t(60), kNone, std::nullopt},
        AlertCase{"variable_with_moderate", AlertInput().why({kRVariable}).protect({kPModerate}),
                  kNone, std::nullopt},
        AlertCase{"marked_and_variable_unprotected", AlertInput().why({kRMarked, kRVariable}),
                  kWarning, std::nullopt},
        AlertCase{"marked_and_variable_with_accelerations",
                  AlertInput().why({kRMarked, kRVariable}).protect({kPAccel}), kNone,
                  std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    AlertStep7HighRisk, DecideAlertTest,
    ::testing::Values(
        AlertCase{"isolated_marked_f_0_6", AlertInput().why({kRMarked}).risk({kHMarked}).f(0.6),
                  kNone, p::kSuppressIsolatedMarked},
        AlertCase{"short_burden_bradycardia_before_limited_burden",
                  AlertInput().why({kRBrady, kRVariable}).risk({kHDeep}).t(30), kWarning,
                  std::nullopt},
        AlertCase{"f_0_69", AlertInput().why({kRVariable}).risk({kHSevere}).t(100).f(0.69),
                  kWarning, std::nullopt},
        AlertCase{"severe_variable_limited_burden",
                  AlertInput().why({kRVariable}).risk({kHSevere}).t(100), kNone,
                  p::kSuppressLimitedBurden},
        AlertCase{"severe_variable_limited_burden_f_0_7",
                  AlertInput().why({kRVariable}).risk({kHSevere}).t(100).f(0.7), kNone,
                  p::kSuppressLimitedBurden},
        AlertCase{"burden_and_severe_t_130",
                  AlertInput().why({kRVariable}).risk({kHBurden, kHSevere}).t(130), kNone,
                  p::kSuppressVariableWithoutContext},
        AlertCase{"burden_and_severe_t_310",
                  AlertInput().why({kRVariable}).risk({kHBurden, kHSevere}).t(310), kWarning,
                  std::nullopt},
        AlertCase{"late_with_deep_nadir_t_130",
                  AlertInput().why({kRLate}).risk({kHDeep}).t(130), kNone,
                  p::kSuppressLimitedLate},
        AlertCase{"late_with_tachysystole",
                  AlertInput().why({kRLate}).risk({p::kRiskTachysystole}).t(50), kNone,
                  p::kSuppressLimitedLate},
        AlertCase{"late_and_prolonged_with_moderate",
                  AlertInput()
                      .why({kRLate, kRProlonged})
                      .risk({kHBurden})
                      .protect({kPModerate})
                      .t(200)
                      .prolong(1),
                  kWarning, std::nullopt},
        AlertCase{"moderate_deep_variable_long_burden",
                  AlertInput().why({kRTachy, kRVariable}).risk({kHDeep}).protect({kPModerate}).t(
                      130),
                  kWarning, std::nullopt},
        AlertCase{"maternal_capture", AlertInput().why({kRTachy}).risk({p::kRiskMaternalCapture}),
                  kWarning, std::nullopt},
        AlertCase{"change_to_tachycardia",
                  AlertInput().why({kRTachy}).risk({p::kRiskChangeToTachycardia}), kWarning,
                  std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever the inputs, at most one suppression phrase is given, only with the
// level that belongs to it, and never with urgent_review, critical or
// data_quality.
TEST(AlertDecisionSweep, SuppressionMatchesItsLevel) {
    const std::vector<Phrases> high_risk_sets = {
        {},
        texts({kHMarked}),
        texts({kHSevere}),
        texts({kHDeep}),
        texts({kHBurden, kHSevere}),
        texts({kHBurden, kHRecVariable}),
        texts({kHDeep, kHRecVariable}),
        texts({kHRecLate}),
        texts({p::kRiskMaternalCapture}),
    };
    const std::vector<Phrases> reason_sets = {
        {},
        texts({kRVariable}),
        texts({kRMarked}),
        texts({kRLate}),
        texts({kRLate, kRVariable}),
        texts({kRBrady, kRVariable}),
        texts({kRTachy, kRVariable}),
        texts({kRGradual}),
    };
    const std::vector<Phrases> protective_sets = {{}, texts({kPModerate}), texts({kPAccel})};
    const Classification categories[] = {Classification::category_i, Classification::category_ii,
                                         Classification::category_iii,
                                         Classification::unclassified};
    int checked = 0;
    for (Classification category : categories)
        for (const Phrases& high_risk : high_risk_sets)
            for (const Phrases& reasons : reason_sets)
                for (const Phrases& protective : protective_sets)
                    for (double usable : {0.4, 0.6, 0.9})
                        for (double total : {30.0, 100.0, 150.0, 350.0})
                            for (std::uint64_t prolonged : {0u, 1u})
                                for (std::optional<double> nadir :
                                     {std::optional<double>{}, std::optional<double>{65.0},
                                      std::optional<double>{85.0}}) {
                                    AlertInput in;
                                    in.category = category;
                                    in.high_risk = high_risk;
                                    in.reasons = reasons;
                                    in.protective = protective;
                                    in.usable = usable;
                                    in.total = total;
                                    in.prolonged = prolonged;
                                    in.nadir = nadir;
                                    const auto d = fhr_core::analysis::decide_alert(in.window());
                                    ++checked;
                                    if (!d.suppression) continue;
                                    const AlertLevel expected =
                                        *d.suppression == p::kSuppressDemotedToWarning ? kWarning
                                                                                       : kNone;
                                    ASSERT_EQ(d.level, expected) << *d.suppression;
                                    ASSERT_NE(*d.suppression, p::kSuppressProtectedVariable);
                                }
    EXPECT_GT(checked, 0);
}

}  // namespace
