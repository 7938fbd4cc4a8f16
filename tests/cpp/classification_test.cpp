// Category, reasons, high-risk and protective features, and the
// contraction-linked recurrence test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/analysis/baseline.hpp"
#include "fhr_core/analysis/classification.hpp"
#include "fhr_core/analysis/phrases.hpp"
#include "fhr_core/analysis/variability.hpp"
#include "judging_test_support.hpp"

namespace {

using fhr_core::Classification;
using fhr_core::DecelerationKind;
using fhr_core::WindowAnalysis;
using fhr_core::analysis::SecondSample;
using fhr_core::analysis::Series;
using judging_test::kMinuteMs;
using judging_test::kSecondMs;
using judging_test::WindowBuilder;
namespace p = fhr_core::analysis::phrases;

constexpr DecelerationKind kLate = DecelerationKind::late;
constexpr DecelerationKind kVariable = DecelerationKind::variable;
constexpr DecelerationKind kEarly = DecelerationKind::early;
constexpr DecelerationKind kProlonged = DecelerationKind::prolonged;
constexpr DecelerationKind kGradual = DecelerationKind::gradual_unclassified;

constexpr std::int64_t m(std::int64_t minutes) { return minutes * kMinuteMs; }
constexpr std::int64_t s(std::int64_t seconds) { return seconds * kSecondMs; }
constexpr std::int64_t kWindow30 = m(30);
constexpr std::int64_t kWindow20 = m(20);

std::vector<std::string> texts(std::initializer_list<std::string_view> phrases) {
    return {phrases.begin(), phrases.end()};
}

// Four one-minute contractions at minutes 2, 8, 14 and 20.
WindowBuilder four_contractions(std::int64_t length_ms = kWindow30) {
    WindowBuilder b(length_ms);
    for (std::int64_t at : {m(2), m(8), m(14), m(20)}) b.contraction(at, at + m(1));
    return b;
}

// Three one-minute contractions at minutes 2, 8 and 20; a late deceleration
// lies over the first.
WindowBuilder three_contractions_first_matched() {
    WindowBuilder b;
    b.contraction(m(2), m(3)).contraction(m(8), m(9)).contraction(m(20), m(21));
    b.decel(kLate, m(2) + s(20), m(2) + s(45));
    return b;
}

// ---------------------------------------------------------------- recurrence

struct RecurrenceCase {
    const char* name;
    WindowBuilder window;
    DecelerationKind kind;
    std::size_t min_contractions;
    bool expected;
};

class RecurrenceTest : public ::testing::TestWithParam<RecurrenceCase> {};

TEST_P(RecurrenceTest, MatchesAtLeastHalfOfTheContractions) {
    const RecurrenceCase& c = GetParam();
    const WindowAnalysis w = c.window.build();
    EXPECT_EQ(fhr_core::analysis::recurrent_deceleration_kind(
                  w.deceleration_events, w.toco_summary.contraction_events, c.kind,
                  c.window.start(), c.window.end(), c.min_contractions),
              c.expected);
}

const std::string kUnparsable = "1704067680000ms";  // a synthesized second text

INSTANTIATE_TEST_SUITE_P(
    Classification, RecurrenceTest,
    ::testing::Values(
        RecurrenceCase{"two_of_four_matched",
                       four_contractions()
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, true},
        RecurrenceCase{"one_of_four_matched",
                       four_contractions()
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(26), m(26) + s(40)),
                       kLate, 2, false},
        RecurrenceCase{"ends_exactly_30s_before_start",
                       three_contractions_first_matched().decel(kLate, m(7), m(8) - s(30)), kLate,
                       2, true},
        RecurrenceCase{"ends_30s_and_1ms_before_start",
                       three_contractions_first_matched().decel(kLate, m(7) - 1, m(8) - s(30) - 1),
                       kLate, 2, false},
        RecurrenceCase{"starts_exactly_60s_after_end",
                       three_contractions_first_matched().decel(kLate, m(10), m(10) + s(30)),
                       kLate, 2, true},
        RecurrenceCase{"starts_60s_and_1ms_after_end",
                       three_contractions_first_matched().decel(kLate, m(10) + 1, m(10) + s(30)),
                       kLate, 2, false},
        RecurrenceCase{"all_contraction_texts_parse",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction(m(8), m(9))
                           .contraction(m(20), m(21))
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, true},
        RecurrenceCase{"unparsable_start_counts_but_never_matches",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction_with_texts(kUnparsable, judging_test::stamp(m(9)))
                           .contraction(m(20), m(21))
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, false},
        RecurrenceCase{"unparsable_end_counts_but_never_matches",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction_with_texts(judging_test::stamp(m(8)), "09:00")
                           .contraction(m(20), m(21))
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, false},
        RecurrenceCase{"unplaceable_deceleration_still_counts_toward_two",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction(m(8), m(9))
                           .decel(kLate, m(2) + s(20), m(8) + s(30))
                           .decel_with_texts(kLate, kUnparsable, kUnparsable),
                       kLate, 2, true},
        RecurrenceCase{"unplaceable_deceleration_matches_nothing",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction(m(8), m(9))
                           .decel(kLate, m(25), m(25) + s(30))
                           .decel_with_texts(kLate, judging_test::stamp(m(2)), "bad"),
                       kLate, 2, false},
        RecurrenceCase{"two_contractions_minimum_two",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction(m(8), m(9))
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, true},
        RecurrenceCase{"two_contractions_minimum_three",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction(m(8), m(9))
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 3, false},
        RecurrenceCase{"one_contraction_below_minimum",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(2) + s(40), m(3) + s(50)),
                       kLate, 2, false},
        RecurrenceCase{"single_deceleration_of_kind",
                       WindowBuilder()
                           .contraction(m(2), m(3))
                           .contraction(m(8), m(9))
                           .decel(kLate, m(2), m(9)),
                       kLate, 2, false},
        RecurrenceCase{"contraction_matched_once_by_many",
                       four_contractions()
                           .decel(kLate, m(2), m(2) + s(20))
                           .decel(kLate, m(2) + s(20), m(2) + s(40))
                           .decel(kLate, m(2) + s(40), m(3)),
                       kLate, 2, false},
        RecurrenceCase{"other_kinds_do_not_match_for_late",
                       four_contractions()
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(26), m(26) + s(30))
                           .decel(kVariable, m(8) + s(10), m(8) + s(40))
                           .decel(kVariable, m(14) + s(10), m(14) + s(40)),
                       kLate, 2, false},
        RecurrenceCase{"variable_kind_tested_on_its_own_events",
                       four_contractions()
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(26), m(26) + s(30))
                           .decel(kVariable, m(8) + s(10), m(8) + s(40))
                           .decel(kVariable, m(14) + s(10), m(14) + s(40)),
                       kVariable, 2, true},
        RecurrenceCase{"exactly_twenty_minutes",
                       four_contractions(kWindow20)
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, true},
        RecurrenceCase{"one_ms_short_of_twenty_minutes",
                       four_contractions(kWindow20 - 1)
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, false},
        RecurrenceCase{"end_before_start",
                       four_contractions(-kWindow30)
                           .decel(kLate, m(2) + s(20), m(3) + s(30))
                           .decel(kLate, m(8) + s(20), m(9) + s(30)),
                       kLate, 2, false},
        RecurrenceCase{"no_decelerations", four_contractions(), kLate, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ category

struct CategoryCase {
    const char* name;
    WindowBuilder window;
    Classification expected;
    std::vector<std::string> reasons;  // append order
};

class CategoryTest : public ::testing::TestWithParam<CategoryCase> {};

TEST_P(CategoryTest, DecidesCategoryAndReasons) {
    const CategoryCase& c = GetParam();
    const auto decision =
        fhr_core::analysis::decide_category(c.window.build(), c.window.start(), c.window.end());
    EXPECT_EQ(decision.classification, c.expected);
    EXPECT_EQ(decision.reasons, c.reasons);
}

// Two late (or variable) decelerations over two of four contractions.
WindowBuilder recurrent(DecelerationKind kind) {
    return four_contractions()
        .decel(kind, m(2) + s(20), m(3) + s(30))
        .decel(kind, m(8) + s(20), m(9) + s(30));
}

INSTANTIATE_TEST_SUITE_P(
    Classification, CategoryTest,
    ::testing::Values(
        CategoryCase{"sinusoidal_even_without_baseline", WindowBuilder().sinusoidal(),
                     Classification::category_iii, texts({p::kReasonSinusoidal})},
        CategoryCase{"no_baseline", WindowBuilder(), Classification::unclassified,
                     texts({p::kReasonNoBaseline})},
        CategoryCase{"no_variability", WindowBuilder().baseline(140),
                     Classification::unclassified, texts({p::kReasonNoVariability})},
        CategoryCase{"absent_with_bradycardia", WindowBuilder().baseline(100).variability(0.5),
                     Classification::category_iii,
                     texts({p::kReasonAbsentWithBradycardiaOrRecurrence})},
        CategoryCase{"absent_with_recurrent_late", recurrent(kLate).baseline(140).variability(1.0),
                     Classification::category_iii,
                     texts({p::kReasonAbsentWithBradycardiaOrRecurrence})},
        CategoryCase{"absent_with_recurrent_variable",
                     recurrent(kVariable).baseline(140).variability(1.0),
                     Classification::category_iii,
                     texts({p::kReasonAbsentWithBradycardiaOrRecurrence})},
        CategoryCase{"absent_without_recurrence", WindowBuilder().baseline(140).variability(0.5),
                     Classification::category_ii, texts({p::kReasonAbsentVariability})},
        CategoryCase{"normal_moderate_early_and_gradual",
                     WindowBuilder()
                         .baseline(140)
                         .variability(10)
                         .decel(kEarly, m(5), m(6))
                         .decel(kGradual, m(9), m(10)),
                     Classification::category_i, texts({p::kReasonCategoryI})},
        CategoryCase{"normal_moderate_prolonged",
                     WindowBuilder().baseline(140).variability(10).decel(kProlonged, m(5), m(8)),
                     Classification::category_ii, texts({p::kReasonProlongedDeceleration})},
        CategoryCase{"normal_moderate_late",
                     WindowBuilder().baseline(140).variability(10).decel(kLate, m(5), m(6)),
                     Classification::category_ii, texts({p::kReasonLateDeceleration})},
        CategoryCase{"three_variable_one_reason_each",
                     WindowBuilder()
                         .baseline(140)
                         .variability(10)
                         .decel(kVariable, m(1), m(2))
                         .decel(kVariable, m(4), m(5))
                         .decel(kVariable, m(7), m(8)),
                     Classification::category_ii,
                     texts({p::kReasonVariableDeceleration, p::kReasonVariableDeceleration,
                            p::kReasonVariableDeceleration})},
        CategoryCase{"tachycardia_minimal_late_in_append_order",
                     WindowBuilder().baseline(165).variability(3).decel(kLate, m(5), m(6)),
                     Classification::category_ii,
                     texts({p::kReasonTachycardia, p::kReasonMinimalVariability,
                            p::kReasonLateDeceleration})},
        CategoryCase{"bradycardia_moderate", WindowBuilder().baseline(105).variability(10),
                     Classification::category_ii, texts({p::kReasonBradycardia})},
        CategoryCase{"tachycardia_moderate_no_decelerations",
                     WindowBuilder().baseline(165).variability(10), Classification::category_ii,
                     texts({p::kReasonTachycardia})},
        CategoryCase{"marked_28", WindowBuilder().baseline(140).variability(28),
                     Classification::category_ii, texts({p::kReasonMarkedVariability})},
        CategoryCase{"minimal_with_gradual_and_early",
                     WindowBuilder()
                         .baseline(140)
                         .variability(3)
                         .decel(kGradual, m(5), m(6))
                         .decel(kEarly, m(8), m(9)),
                     Classification::category_ii,
                     texts({p::kReasonMinimalVariability, p::kReasonGradualDeceleration})}),
    [](const auto& info) { return std::string(info.param.name); });

struct RecurrenceFlagCase {
    const char* name;
    WindowBuilder window;
    bool late_min2;
    bool variable_min2;
};

class RecurrenceFlagTest : public ::testing::TestWithParam<RecurrenceFlagCase> {};

// The diagnostics read both flags for every window, whichever step decided it.
TEST_P(RecurrenceFlagTest, FlagsAreSetForEveryWindow) {
    const RecurrenceFlagCase& c = GetParam();
    const auto decision =
        fhr_core::analysis::decide_category(c.window.build(), c.window.start(), c.window.end());
    EXPECT_EQ(decision.recurrent_late_min2, c.late_min2);
    EXPECT_EQ(decision.recurrent_variable_min2, c.variable_min2);
}

INSTANTIATE_TEST_SUITE_P(
    Classification, RecurrenceFlagTest,
    ::testing::Values(
        RecurrenceFlagCase{"sinusoidal_with_late", recurrent(kLate).sinusoidal(), true, false},
        RecurrenceFlagCase{"no_baseline_with_variable", recurrent(kVariable), false, true},
        RecurrenceFlagCase{"category_ii_with_late", recurrent(kLate).baseline(140).variability(3),
                           true, false},
        RecurrenceFlagCase{"none", WindowBuilder().baseline(140).variability(3), false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------- high risk

struct HighRiskCase {
    const char* name;
    WindowBuilder window;
    std::vector<std::string> expected;  // append order
};

class HighRiskTest : public ::testing::TestWithParam<HighRiskCase> {};

TEST_P(HighRiskTest, AppendsFindingsInOrder) {
    const HighRiskCase& c = GetParam();
    EXPECT_EQ(fhr_core::analysis::high_risk_features(c.window.build(), Series{}, c.window.start(),
                                                     c.window.end()),
              c.expected);
}

WindowBuilder normal_moderate() { return WindowBuilder().baseline(140).variability(10); }

// Three contractions, two of them under a 25-second deceleration of `kind`.
WindowBuilder recurrent_min3(DecelerationKind kind) {
    return WindowBuilder()
        .contraction(m(2), m(3))
        .contraction(m(8), m(9))
        .contraction(m(20), m(21))
        .decel(kind, m(2) + s(20), m(2) + s(45))
        .decel(kind, m(8) + s(20), m(8) + s(45))
        .baseline(140)
        .variability(10);
}

INSTANTIATE_TEST_SUITE_P(
    Classification, HighRiskTest,
    ::testing::Values(
        HighRiskCase{"none", normal_moderate(), {}},
        HighRiskCase{"sinusoidal", normal_moderate().sinusoidal(), texts({p::kRiskSinusoidal})},
        HighRiskCase{"absent_variability", WindowBuilder().baseline(140).variability(0.8),
                     texts({p::kRiskAbsentVariability})},
        HighRiskCase{"marked_31", WindowBuilder().baseline(140).variability(31),
                     texts({p::kRiskMarkedVariability})},
        HighRiskCase{"marked_30_is_not", WindowBuilder().baseline(140).variability(30.0), {}},
        HighRiskCase{"marked_28_is_not", WindowBuilder().baseline(140).variability(28), {}},
        HighRiskCase{"recurrent_late_min3", recurrent_min3(kLate),
                     texts({p::kRiskRecurrentLate})},
        HighRiskCase{"recurrent_variable_min3", recurrent_min3(kVariable),
                     texts({p::kRiskRecurrentVariable})},
        HighRiskCase{"two_contractions_no_min3_recurrence",
                     WindowBuilder()
                         .contraction(m(2), m(3))
                         .contraction(m(8), m(9))
                         .decel(kLate, m(2) + s(20), m(2) + s(50))
                         .decel(kLate, m(8) + s(20), m(8) + s(50))
                         .baseline(140)
                         .variability(10),
                     {}},
        HighRiskCase{"gradual_with_minimal",
                     WindowBuilder().baseline(140).variability(3).decel(kGradual, m(5),
                                                                        m(5) + s(40)),
                     texts({p::kRiskGradualWithLowVariability})},
        HighRiskCase{"gradual_with_absent",
                     WindowBuilder().baseline(140).variability(1).decel(kGradual, m(5),
                                                                        m(5) + s(40)),
                     texts({p::kRiskAbsentVariability, p::kRiskGradualWithLowVariability})},
        HighRiskCase{"gradual_with_moderate",
                     normal_moderate().decel(kGradual, m(5), m(5) + s(40)), {}},
        HighRiskCase{"severe_variable_by_nadir",
                     normal_moderate().decel_lasting(kVariable, 30, 79.9, 50),
                     texts({p::kRiskSevereVariable, p::kRiskDeepNadir})},
        HighRiskCase{"severe_variable_by_depth",
                     normal_moderate().decel_lasting(kVariable, 30, 85, 60),
                     texts({p::kRiskSevereVariable})},
        HighRiskCase{"severe_variable_by_duration",
                     normal_moderate().decel_lasting(kVariable, 60, 100, 20),
                     texts({p::kRiskSevereVariable})},
        HighRiskCase{"variable_just_short_of_severe",
                     normal_moderate().decel_lasting(kVariable, 59, 80, 59.9), {}},
        HighRiskCase{"late_below_80_is_deep_not_severe",
                     normal_moderate().decel_lasting(kLate, 30, 79, 61),
                     texts({p::kRiskDeepNadir})},
        HighRiskCase{"burden_120_alone",
                     normal_moderate().decel_lasting(kEarly, 120, 100, 20),
                     texts({p::kRiskDecelerationBurden})},
        HighRiskCase{"burden_119_without_context",
                     normal_moderate().decel_lasting(kEarly, 119, 100, 29.9), {}},
        HighRiskCase{"burden_59_with_nadir_90",
                     normal_moderate().decel_lasting(kEarly, 59, 90, 20), {}},
        HighRiskCase{"burden_60_with_nadir_90",
                     normal_moderate().decel_lasting(kEarly, 60, 90, 20),
                     texts({p::kRiskDecelerationBurden})},
        HighRiskCase{"burden_60_with_depth_30",
                     normal_moderate().decel_lasting(kEarly, 60, 100, 30),
                     texts({p::kRiskDecelerationBurden})},
        HighRiskCase{"burden_60_with_recurrent_late",
                     recurrent_min3(kLate).decel_lasting(kEarly, 10, 100, 20),
                     texts({p::kRiskRecurrentLate, p::kRiskDecelerationBurden})},
        HighRiskCase{"burden_60_with_recurrent_variable",
                     recurrent_min3(kVariable).decel_lasting(kEarly, 10, 100, 20),
                     texts({p::kRiskRecurrentVariable, p::kRiskDecelerationBurden})},
        HighRiskCase{"one_prolonged", normal_moderate().decel_lasting(kProlonged, 20, 100, 20),
                     {}},
        HighRiskCase{"two_prolonged",
                     normal_moderate()
                         .decel_lasting(kProlonged, 20, 100, 20)
                         .decel_lasting(kProlonged, 20, 100, 20),
                     texts({p::kRiskMultipleProlonged})},
        HighRiskCase{"several_in_append_order",
                     WindowBuilder()
                         .baseline(140)
                         .variability(0.5)
                         .decel_lasting(kGradual, 30, 75, 65)
                         .decel_lasting(kProlonged, 130, 95, 45)
                         .decel_lasting(kProlonged, 130, 95, 45),
                     texts({p::kRiskAbsentVariability, p::kRiskGradualWithLowVariability,
                            p::kRiskDeepNadir, p::kRiskDecelerationBurden,
                            p::kRiskMultipleProlonged})}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- look-backs

constexpr int kNoData = -1;

bool contains(const std::vector<std::string>& phrases, std::string_view phrase) {
    return std::find(phrases.begin(), phrases.end(), phrase) != phrases.end();
}

// One second per entry over [start, end]; `value` gets the offset into the window.
template <class ValueAt>
Series make_series(std::int64_t start, std::int64_t end, ValueAt value) {
    Series series;
    for (std::int64_t t = start; t <= end; t += kSecondMs) {
        SecondSample second;
        second.fetal_bpm = value(t - start);
        second.timestamp_ms = t;
        series.push_back(second);
    }
    return series;
}

// The setting of the 10-minute block (counted from the window start) that
// holds `offset_ms`; the last block runs to the window end.
int block_setting(const std::vector<int>& blocks, std::int64_t offset_ms) {
    const auto index = static_cast<std::size_t>(offset_ms / m(10));
    return blocks[std::min(index, blocks.size() - 1)];
}

struct LookBackCase {
    const char* name;
    std::int64_t length_ms;
    std::optional<std::int32_t> baseline;  // of the window
    std::vector<int> blocks;               // per 10-minute block
    bool expected;
};

class PersistentMinimalTest : public ::testing::TestWithParam<LookBackCase> {};

// Each block cycles through baseline 140 + 0..amplitude, so every one-minute
// chunk spans exactly `amplitude` bpm between its 5th and 95th percentiles.
TEST_P(PersistentMinimalTest, NeedsMinimalVariabilityInBothSpans) {
    const LookBackCase& c = GetParam();
    WindowBuilder b(c.length_ms);
    const Series series =
        make_series(b.start(), b.end(), [&c](std::int64_t offset) -> std::optional<double> {
            const int amplitude = block_setting(c.blocks, offset);
            if (amplitude == kNoData) return std::nullopt;
            return 140.0 + static_cast<double>(offset / kSecondMs % (amplitude + 1));
        });
    // The window's own variability is measured on its last 10 minutes, as in
    // a real window.
    if (c.baseline) {
        b.baseline(*c.baseline);
        const auto current = fhr_core::analysis::estimate_variability(
            series, b.end() - m(10), b.end(), static_cast<double>(*c.baseline));
        if (current) b.variability(*current);
    }
    const auto features =
        fhr_core::analysis::high_risk_features(b.build(), series, b.start(), b.end());
    EXPECT_EQ(contains(features, p::kRiskPersistentMinimal), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Classification, PersistentMinimalTest,
    ::testing::Values(LookBackCase{"minimal_both", m(20), 140, {3, 3}, true},
                      LookBackCase{"minimal_band_top_5", m(20), 140, {5, 5}, true},
                      LookBackCase{"absent_band_1", m(20), 140, {1, 1}, false},
                      LookBackCase{"previous_moderate", m(20), 140, {10, 3}, false},
                      LookBackCase{"current_moderate", m(20), 140, {3, 10}, false},
                      LookBackCase{"previous_without_data", m(20), 140, {kNoData, 3}, false},
                      LookBackCase{"no_baseline", m(20), std::nullopt, {3, 3}, false},
                      LookBackCase{"short_window", m(20) - s(1), 140, {3, 3}, false},
                      LookBackCase{"thirty_minutes_last_twenty_minimal", m(30), 140, {10, 3, 3},
                                   true},
                      LookBackCase{"thirty_minutes_middle_moderate", m(30), 140, {3, 10, 3},
                                   false}),
    [](const auto& info) { return std::string(info.param.name); });

// The window's baseline as a real window measures it: over its last 10 minutes.
void set_measured_baseline(WindowBuilder& b, const Series& series) {
    if (const auto bpm = fhr_core::analysis::estimate_baseline(series, b.end() - m(10), b.end())) {
        b.baseline(*bpm).variability(10);
    }
}

class ChangeToTachycardiaTest : public ::testing::TestWithParam<LookBackCase> {};

// Each block holds a constant fetal rate.
TEST_P(ChangeToTachycardiaTest, NeedsNormalThenTachycardicBaseline) {
    const LookBackCase& c = GetParam();
    WindowBuilder b(c.length_ms);
    const Series series =
        make_series(b.start(), b.end(), [&c](std::int64_t offset) -> std::optional<double> {
            const int bpm = block_setting(c.blocks, offset);
            if (bpm == kNoData) return std::nullopt;
            return static_cast<double>(bpm);
        });
    set_measured_baseline(b, series);
    const auto features =
        fhr_core::analysis::high_risk_features(b.build(), series, b.start(), b.end());
    EXPECT_EQ(contains(features, p::kRiskChangeToTachycardia), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Classification, ChangeToTachycardiaTest,
    ::testing::Values(LookBackCase{"normal_to_tachycardia", m(20), 170, {150, 170}, true},
                      LookBackCase{"from_160", m(20), 170, {160, 170}, true},
                      LookBackCase{"from_110", m(20), 170, {110, 170}, true},
                      LookBackCase{"from_165", m(20), 170, {165, 170}, false},
                      LookBackCase{"from_105", m(20), 170, {105, 170}, false},
                      LookBackCase{"previous_without_data", m(20), 170, {kNoData, 170}, false},
                      LookBackCase{"window_not_tachycardic", m(20), 155, {150, 155}, false},
                      LookBackCase{"short_window", m(20) - s(1), 170, {150, 170}, false},
                      LookBackCase{"thirty_minutes_change_in_last_ten", m(30), 170,
                                   {170, 150, 170}, true},
                      LookBackCase{"thirty_minutes_change_before", m(30), 170, {150, 170, 170},
                                   false}),
    [](const auto& info) { return std::string(info.param.name); });

// The second at window end - 10 minutes belongs to both spans: each side holds
// just enough seconds for a baseline only when that second is counted in it.
struct SharedSecondCase {
    const char* name;
    std::int64_t previous_from;  // first second at 150 bpm (offset)
    std::int64_t current_to;     // last second at 170 bpm (offset); 170 from the split on
    bool expected;
};

class SharedSecondTest : public ::testing::TestWithParam<SharedSecondCase> {};

TEST_P(SharedSecondTest, SplitSecondCountsOnBothSides) {
    const SharedSecondCase& c = GetParam();
    WindowBuilder b(m(20));
    const Series series =
        make_series(b.start(), b.end(), [&c](std::int64_t offset) -> std::optional<double> {
            if (offset >= c.previous_from && offset < m(10)) return 150.0;
            if (offset >= m(10) && offset <= c.current_to) return 170.0;
            return std::nullopt;
        });
    set_measured_baseline(b, series);
    const auto features =
        fhr_core::analysis::high_risk_features(b.build(), series, b.start(), b.end());
    EXPECT_EQ(contains(features, p::kRiskChangeToTachycardia), c.expected);
}

// A baseline needs 120 fetal seconds.
INSTANTIATE_TEST_SUITE_P(
    Classification, SharedSecondTest,
    ::testing::Values(SharedSecondCase{"previous_119_plus_split", m(10) - s(119), m(20), true},
                      SharedSecondCase{"previous_118_plus_split", m(10) - s(118), m(20), false},
                      SharedSecondCase{"current_split_plus_119", 0, m(10) + s(119), true},
                      SharedSecondCase{"current_split_plus_118", 0, m(10) + s(118), false}),
    [](const auto& info) { return std::string(info.param.name); });

// Window bounds at the ends of the 64-bit range must not wrap in the look-back
// arithmetic (the sanitizer build traps any signed overflow).
TEST(ClassificationLookBackBounds, ExtremeWindowBoundsAreSafe) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const WindowAnalysis w = WindowBuilder().baseline(170).variability(3).build();
    const struct {
        std::int64_t start, end;
    } bounds[] = {{kMin, kMax}, {kMin, kMin + m(20)}, {kMax - m(20), kMax}, {kMin, kMin}};
    for (const auto& b : bounds) {
        EXPECT_TRUE(fhr_core::analysis::high_risk_features(w, Series{}, b.start, b.end).empty());
    }
}

// ---------------------------------------------------------------- protective

struct ProtectiveCase {
    const char* name;
    WindowBuilder window;
    std::vector<std::string> expected;
};

class ProtectiveTest : public ::testing::TestWithParam<ProtectiveCase> {};

TEST_P(ProtectiveTest, ListsReassuringFindings) {
    EXPECT_EQ(fhr_core::analysis::protective_features(GetParam().window.build()),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Classification, ProtectiveTest,
    ::testing::Values(
        ProtectiveCase{"moderate", WindowBuilder().baseline(140).variability(10),
                       texts({p::kProtectiveModerateVariability})},
        ProtectiveCase{"moderate_with_accelerations",
                       WindowBuilder().baseline(140).variability(25).accelerations(2),
                       texts({p::kProtectiveModerateVariability, p::kProtectiveAccelerations})},
        ProtectiveCase{"accelerations_with_minimal",
                       WindowBuilder().baseline(140).variability(5).accelerations(1),
                       texts({p::kProtectiveAccelerations})},
        ProtectiveCase{"marked_without_accelerations",
                       WindowBuilder().baseline(140).variability(26), {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------- maternal capture, tachysystole

struct LateEntryCase {
    const char* name;
    Classification classification;
    std::vector<std::string> high_risk_before;
    double capture_ratio;
    std::optional<bool> tachysystole;
    std::vector<std::string> reasons_added;
    std::vector<std::string> high_risk_after;
};

class LateEntryTest : public ::testing::TestWithParam<LateEntryCase> {};

TEST_P(LateEntryTest, AppendsCaptureAndTachysystole) {
    const LateEntryCase& c = GetParam();
    WindowAnalysis w = WindowBuilder()
                           .classification(c.classification)
                           .capture_ratio(c.capture_ratio)
                           .tachysystole(c.tachysystole)
                           .build();
    w.reasons = texts({p::kReasonTachycardia});
    w.high_risk_features = c.high_risk_before;
    fhr_core::analysis::add_capture_and_tachysystole_entries(w);

    std::vector<std::string> reasons = texts({p::kReasonTachycardia});
    reasons.insert(reasons.end(), c.reasons_added.begin(), c.reasons_added.end());
    EXPECT_EQ(w.reasons, reasons);
    EXPECT_EQ(w.high_risk_features, c.high_risk_after);
}

INSTANTIATE_TEST_SUITE_P(
    Classification, LateEntryTest,
    ::testing::Values(
        LateEntryCase{"category_i_tachysystole", Classification::category_i, {}, 0.0, true,
                      texts({p::kReasonTachysystole}), texts({p::kRiskTachysystole})},
        LateEntryCase{"category_ii_with_other_finding", Classification::category_ii,
                      texts({p::kRiskAbsentVariability}), 0.0, true,
                      texts({p::kReasonTachysystole}),
                      texts({p::kRiskAbsentVariability, p::kRiskTachysystoleWithCategoryII})},
        LateEntryCase{"category_ii_alone", Classification::category_ii, {}, 0.0, true,
                      texts({p::kReasonTachysystole}), texts({p::kRiskTachysystole})},
        LateEntryCase{"category_ii_capture_counts", Classification::category_ii, {}, 0.3, true,
                      texts({p::kReasonTachysystole}),
                      texts({p::kRiskMaternalCapture, p::kRiskTachysystoleWithCategoryII})},
        LateEntryCase{"category_iii_with_other_finding", Classification::category_iii,
                      texts({p::kRiskSinusoidal}), 0.0, true, texts({p::kReasonTachysystole}),
                      texts({p::kRiskSinusoidal, p::kRiskTachysystole})},
        LateEntryCase{"capture_at_threshold", Classification::category_ii, {}, 0.25, true,
                      texts({p::kReasonTachysystole}), texts({p::kRiskTachysystole})},
        LateEntryCase{"capture_only", Classification::category_i, {}, 0.26, std::nullopt, {},
                      texts({p::kRiskMaternalCapture})},
        LateEntryCase{"tachysystole_false", Classification::category_ii,
                      texts({p::kRiskDeepNadir}), 0.0, false, {}, texts({p::kRiskDeepNadir})},
        LateEntryCase{"tachysystole_unknown", Classification::category_ii,
                      texts({p::kRiskDeepNadir}), 0.0, std::nullopt, {},
                      texts({p::kRiskDeepNadir})}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------- sorting

struct SortCase {
    const char* name;
    std::vector<std::string> input;
    std::vector<std::string> expected;
};

class SortPhrasesTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortPhrasesTest, SortsByBytesWithoutDuplicates) {
    std::vector<std::string> phrases = GetParam().input;
    fhr_core::analysis::sort_phrases(phrases);
    EXPECT_EQ(phrases, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Classification, SortPhrasesTest,
    ::testing::Values(
        SortCase{"category_ii_reasons",
                 texts({p::kReasonTachycardia, p::kReasonMinimalVariability,
                        p::kReasonLateDeceleration}),
                 texts({p::kReasonLateDeceleration, p::kReasonMinimalVariability,
                        p::kReasonTachycardia})},
        SortCase{"duplicates_removed",
                 {"variable deceleration", "late deceleration", "variable deceleration",
                  "late deceleration"},
                 {"late deceleration", "variable deceleration"}},
        SortCase{"prefix_first", {"tachysystole with x", "tachysystole"},
                 {"tachysystole", "tachysystole with x"}},
        SortCase{"upper_case_before_lower", {"fewer", "TOCO"}, {"TOCO", "fewer"}},
        SortCase{"non_ascii_after_ascii", {"\xc3\xa9t\xc3\xa9", "zone", "\x7f"},
                 {"zone", "\x7f", "\xc3\xa9t\xc3\xa9"}},
        SortCase{"single", {"b"}, {"b"}},
        SortCase{"empty", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
