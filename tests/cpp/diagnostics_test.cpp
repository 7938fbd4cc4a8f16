// Limitations of a window and its Category III diagnostics.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/analysis/diagnostics.hpp"
#include "fhr_core/analysis/phrases.hpp"
#include "judging_test_support.hpp"

namespace {

using fhr_core::CategoryIiiDiagnostics;
using fhr_core::DecelerationKind;
using fhr_core::LateDecelTimingConfidence;
using fhr_core::TocoRecurrenceConfidence;
using judging_test::kMinuteMs;
using judging_test::WindowBuilder;
namespace p = fhr_core::analysis::phrases;

constexpr std::int64_t m(std::int64_t minutes) { return minutes * kMinuteMs; }

std::vector<std::string> texts(std::initializer_list<std::string_view> phrases) {
    return {phrases.begin(), phrases.end()};
}

// ---------------------------------------------------------------- limitations

struct LimitationCase {
    const char* name;
    WindowBuilder window;
    std::vector<std::string> expected;  // append order
};

class LimitationTest : public ::testing::TestWithParam<LimitationCase> {};

TEST_P(LimitationTest, AppendsInOrder) {
    const LimitationCase& c = GetParam();
    EXPECT_EQ(fhr_core::analysis::initial_limitations(c.window.build(), c.window.start(),
                                                      c.window.end()),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Diagnostics, LimitationTest,
    ::testing::Values(
        LimitationCase{"five_minutes_with_toco", WindowBuilder(m(5)).baseline(140),
                       texts({p::kLimitUnder10Minutes, p::kLimitUnder20Minutes,
                              p::kLimitUnder30Minutes, p::kLimitTachysystoleAverage})},
        LimitationCase{"twenty_five_minutes_one_contraction",
                       WindowBuilder(m(25)).baseline(140).contractions(1).toco_ratio(0.8),
                       texts({p::kLimitFewContractions, p::kLimitUnder30Minutes,
                              p::kLimitTachysystoleAverage})},
        LimitationCase{"empty_thirty_minutes", WindowBuilder(m(30)).toco_ratio(0.0),
                       texts({p::kLimitFewContractions, p::kLimitSparseToco})},
        LimitationCase{"exactly_600_seconds", WindowBuilder(m(10)).contractions(3),
                       texts({p::kLimitUnder20Minutes, p::kLimitUnder30Minutes,
                              p::kLimitTachysystoleAverage})},
        LimitationCase{"just_under_600_seconds", WindowBuilder(m(10) - 1).contractions(3),
                       texts({p::kLimitUnder10Minutes, p::kLimitUnder20Minutes,
                              p::kLimitUnder30Minutes, p::kLimitTachysystoleAverage})},
        LimitationCase{"exactly_1200_seconds_two_contractions",
                       WindowBuilder(m(20)).contractions(2),
                       texts({p::kLimitUnder30Minutes, p::kLimitTachysystoleAverage})},
        LimitationCase{"just_under_1200_seconds_one_contraction",
                       WindowBuilder(m(20) - 1).contractions(1),
                       texts({p::kLimitUnder20Minutes, p::kLimitUnder30Minutes,
                              p::kLimitTachysystoleAverage})},
        LimitationCase{"exactly_1800000_ms", WindowBuilder(m(30)).contractions(2), {}},
        LimitationCase{"just_under_1800000_ms", WindowBuilder(m(30) - 1).contractions(2),
                       texts({p::kLimitUnder30Minutes, p::kLimitTachysystoleAverage})},
        LimitationCase{"toco_0_49", WindowBuilder(m(30)).contractions(2).toco_ratio(0.49),
                       texts({p::kLimitSparseToco})},
        LimitationCase{"toco_0_5", WindowBuilder(m(30)).contractions(2).toco_ratio(0.5), {}},
        LimitationCase{"short_window_with_tachysystole_judged",
                       WindowBuilder(m(25)).contractions(2).tachysystole(false),
                       texts({p::kLimitUnder30Minutes})},
        LimitationCase{"end_before_start", WindowBuilder(-m(5)).contractions(2),
                       texts({p::kLimitUnder10Minutes, p::kLimitUnder20Minutes,
                              p::kLimitUnder30Minutes, p::kLimitTachysystoleAverage})}),
    [](const auto& info) { return std::string(info.param.name); });

struct BaselineLimitationCase {
    const char* name;
    WindowBuilder window;
    std::optional<std::string_view> expected;
};

class BaselineLimitationTest : public ::testing::TestWithParam<BaselineLimitationCase> {};

TEST_P(BaselineLimitationTest, OnlyWithoutBaseline) {
    EXPECT_EQ(fhr_core::analysis::baseline_limitation(GetParam().window.build()),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Diagnostics, BaselineLimitationTest,
    ::testing::Values(BaselineLimitationCase{"no_baseline", WindowBuilder(), p::kLimitNoBaseline},
                      BaselineLimitationCase{"baseline", WindowBuilder().baseline(140),
                                             std::nullopt},
                      BaselineLimitationCase{"bradycardic_baseline", WindowBuilder().baseline(90),
                                             std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- diagnostics

struct DiagnosticsCase {
    const char* name;
    WindowBuilder window;
    bool late_min2;
    bool variable_min2;
    CategoryIiiDiagnostics expected;
};

CategoryIiiDiagnostics diag(bool candidate, std::vector<std::string> blockers, bool near_absent,
                            bool late_candidate, bool variable_candidate,
                            TocoRecurrenceConfidence toco, LateDecelTimingConfidence timing) {
    return {candidate, std::move(blockers), near_absent, late_candidate, variable_candidate, toco,
            timing};
}

constexpr auto kAdequate = TocoRecurrenceConfidence::adequate;
constexpr auto kLimited = TocoRecurrenceConfidence::limited;
constexpr auto kLow = TocoRecurrenceConfidence::low;
constexpr auto kConfirmed = LateDecelTimingConfidence::confirmed;
constexpr auto kTimingLimited = LateDecelTimingConfidence::limited;
constexpr auto kTimingLow = LateDecelTimingConfidence::low;
constexpr auto kNotApplicable = LateDecelTimingConfidence::not_applicable;

constexpr DecelerationKind kLate = DecelerationKind::late;
constexpr DecelerationKind kVariable = DecelerationKind::variable;
constexpr DecelerationKind kGradual = DecelerationKind::gradual_unclassified;

class DiagnosticsTest : public ::testing::TestWithParam<DiagnosticsCase> {};

TEST_P(DiagnosticsTest, FillsEveryField) {
    const DiagnosticsCase& c = GetParam();
    const CategoryIiiDiagnostics d = fhr_core::analysis::category_iii_diagnostics(
        c.window.build(), c.window.start(), c.window.end(), c.late_min2, c.variable_min2);
    EXPECT_EQ(d.cat_iii_candidate, c.expected.cat_iii_candidate);
    EXPECT_EQ(d.cat_iii_blockers, c.expected.cat_iii_blockers);
    EXPECT_EQ(d.variability_near_absent, c.expected.variability_near_absent);
    EXPECT_EQ(d.recurrent_late_candidate, c.expected.recurrent_late_candidate);
    EXPECT_EQ(d.recurrent_variable_candidate, c.expected.recurrent_variable_candidate);
    EXPECT_EQ(d.toco_recurrence_confidence, c.expected.toco_recurrence_confidence);
    EXPECT_EQ(d.late_decel_timing_confidence, c.expected.late_decel_timing_confidence);
}

INSTANTIATE_TEST_SUITE_P(
    Diagnostics, DiagnosticsTest,
    ::testing::Values(
        DiagnosticsCase{"empty_thirty_minutes", WindowBuilder().toco_ratio(0.0), false, false,
                        diag(false, {}, false, false, false, kLow, kNotApplicable)},
        DiagnosticsCase{"near_absent_with_bradycardia",
                        WindowBuilder().baseline(100).variability(2.5).contractions(3), false,
                        false,
                        diag(true, texts({p::kBlockNearAbsent}), true, false, false, kAdequate,
                             kNotApplicable)},
        DiagnosticsCase{"near_absent_top_3",
                        WindowBuilder().baseline(100).variability(3.0).contractions(3), false,
                        false,
                        diag(true, texts({p::kBlockNearAbsent}), true, false, false, kAdequate,
                             kNotApplicable)},
        DiagnosticsCase{"minimal_3_5_not_near_absent",
                        WindowBuilder().baseline(100).variability(3.5).contractions(3), false,
                        false, diag(false, {}, false, false, false, kAdequate, kNotApplicable)},
        DiagnosticsCase{"absent_1_0_with_bradycardia",
                        WindowBuilder().baseline(100).variability(1.0).contractions(3), false,
                        false, diag(true, {}, false, false, false, kAdequate, kNotApplicable)},
        DiagnosticsCase{"absent_two_variable_one_contraction",
                        WindowBuilder()
                            .baseline(140)
                            .variability(0.5)
                            .contractions(1)
                            .toco_ratio(0.9)
                            .decel(kVariable, m(4), m(5))
                            .decel(kVariable, m(10), m(11)),
                        false, false,
                        diag(true,
                             texts({p::kBlockFewContractions, p::kBlockVariableNotConfirmed}),
                             false, false, true, kLimited, kNotApplicable)},
        DiagnosticsCase{"absent_with_confirmed_late_recurrence",
                        WindowBuilder()
                            .baseline(140)
                            .variability(0.5)
                            .contractions(3)
                            .decel(kLate, m(4), m(5))
                            .decel(kLate, m(10), m(11)),
                        true, false,
                        diag(true, {}, false, true, false, kAdequate, kConfirmed)},
        DiagnosticsCase{"sinusoidal_with_near_absent",
                        WindowBuilder().sinusoidal().baseline(140).variability(2.5).contractions(
                            2),
                        false, false,
                        diag(true, {}, true, false, false, kAdequate, kNotApplicable)},
        DiagnosticsCase{"all_blockers_sorted",
                        WindowBuilder(m(10))
                            .baseline(140)
                            .variability(2.5)
                            .toco_ratio(0.3)
                            .decel(kLate, m(1), m(2))
                            .decel(kGradual, m(4), m(5)),
                        false, false,
                        diag(true,
                             texts({p::kBlockSparseToco, p::kBlockFewContractions,
                                    p::kBlockUnder20Minutes, p::kBlockLateNotConfirmed,
                                    p::kBlockNearAbsent}),
                             true, true, false, kLow, kConfirmed)},
        DiagnosticsCase{"variable_recurrence_with_moderate_variability",
                        WindowBuilder().baseline(140).variability(10).contractions(4), false,
                        true, diag(false, {}, false, false, true, kAdequate, kNotApplicable)},
        DiagnosticsCase{"minimal_two_late_not_near_absent",
                        WindowBuilder()
                            .baseline(140)
                            .variability(4)
                            .contractions(3)
                            .decel(kLate, m(4), m(5))
                            .decel(kLate, m(10), m(11)),
                        false, false,
                        diag(false, {}, false, false, false, kAdequate, kConfirmed)},
        DiagnosticsCase{"gradual_with_contractions",
                        WindowBuilder().baseline(140).variability(10).contractions(3).toco_ratio(
                            0.9).decel(kGradual, m(4), m(5)),
                        false, false,
                        diag(false, {}, false, false, false, kAdequate, kTimingLimited)},
        DiagnosticsCase{"gradual_without_contractions",
                        WindowBuilder().baseline(140).variability(10).toco_ratio(0.9).decel(
                            kGradual, m(4), m(5)),
                        false, false,
                        diag(false, {}, false, false, false, kLimited, kTimingLow)},
        DiagnosticsCase{"gradual_with_sparse_toco",
                        WindowBuilder().baseline(140).variability(10).contractions(3).toco_ratio(
                            0.4).decel(kGradual, m(4), m(5)),
                        false, false,
                        diag(false, {}, false, false, false, kLow, kTimingLow)},
        DiagnosticsCase{"two_contractions_twenty_minutes_toco_0_5",
                        WindowBuilder(m(20)).baseline(140).variability(10).contractions(2)
                            .toco_ratio(0.5),
                        false, false,
                        diag(false, {}, false, false, false, kAdequate, kNotApplicable)},
        DiagnosticsCase{"two_contractions_nineteen_minutes",
                        WindowBuilder(m(19)).baseline(140).variability(10).contractions(2)
                            .toco_ratio(0.5),
                        false, false,
                        diag(false, {}, false, false, false, kLimited, kNotApplicable)},
        DiagnosticsCase{"absent_late_and_gradual_make_late_candidate",
                        WindowBuilder()
                            .baseline(140)
                            .variability(0.5)
                            .contractions(2)
                            .decel(kGradual, m(4), m(5))
                            .decel(kLate, m(10), m(11)),
                        false, false,
                        diag(true, texts({p::kBlockLateNotConfirmed}), false, true, false,
                             kAdequate, kConfirmed)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
