// The judging stage: the recurrence test, category and reasons, high-risk and
// protective findings, limitations and Category III diagnostics, decided from
// measurements; the look-backs through the whole window analysis.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "fhr_core/analysis/classification.hpp"
#include "fhr_core/analysis/diagnostics.hpp"
#include "fhr_core/analysis/window.hpp"
#include "judging_test_support.hpp"

namespace {

using namespace judging_test;
using C = Classification;
using R = Reason;
using H = HighRisk;
using L = Limitation;
using B = Cat3Blocker;

// Four one-minute contractions at minutes 2, 8, 14 and 20.
Measured four_contractions(std::int64_t length_ms = m(30)) {
    Measured w(length_ms);
    for (std::int64_t at : {m(2), m(8), m(14), m(20)}) w.contraction(at, at + m(1));
    return w;
}

// Two decelerations of `kind` over two of four contractions.
Measured recurrent(DecelerationKind kind, std::int64_t length_ms = m(30)) {
    return four_contractions(length_ms).decel(kind, m(2) + s(20), m(3) + s(30)).decel(kind, m(8) + s(20), m(9) + s(30));
}

// Three contractions at minutes 2, 8 and 20.
Measured three_contractions() { return Measured().contraction(m(2), m(3)).contraction(m(8), m(9)).contraction(m(20), m(21)); }

// ---------------------------------------------------------------- recurrence

TEST(Recurrence, AtLeastHalfOfTheContractionsLinked) {
    const struct {
        const char* name;
        Measured window;
        DecelerationKind kind;
        std::size_t min_contractions;
        bool expected;
    } cases[] = {
        {"two of four linked", recurrent(kLate), kLate, 2, true},
        {"one of four linked", four_contractions().decel(kLate, m(2) + s(20), m(3) + s(30)).decel(kLate, m(26), m(26) + s(40)),
         kLate, 2, false},
        {"ends exactly 30 s before a start", three_contractions().decel(kLate, m(2) + s(20), m(2) + s(45)).decel(kLate, m(7), m(8) - s(30)),
         kLate, 2, true},
        {"ends 30 s and 1 ms before a start", three_contractions().decel(kLate, m(2) + s(20), m(2) + s(45)).decel(kLate, m(7) - 1, m(8) - s(30) - 1),
         kLate, 2, false},
        {"starts exactly 60 s after an end", three_contractions().decel(kLate, m(2) + s(20), m(2) + s(45)).decel(kLate, m(10), m(10) + s(30)),
         kLate, 2, true},
        {"starts 60 s and 1 ms after an end", three_contractions().decel(kLate, m(2) + s(20), m(2) + s(45)).decel(kLate, m(10) + 1, m(10) + s(30)),
         kLate, 2, false},
        {"an unplaced contraction counts but never matches",
         Measured().contraction(m(2), m(3)).contraction(std::nullopt, m(9)).contraction(m(20), m(21))
             .decel(kLate, m(2) + s(20), m(3) + s(30)).decel(kLate, m(8) + s(20), m(9) + s(30)),
         kLate, 2, false},
        {"an unplaced deceleration still counts toward two",
         Measured().contraction(m(2), m(3)).contraction(m(8), m(9)).decel(kLate, m(2) + s(20), m(8) + s(30)).decel(kLate, 0, 0).unplaced(),
         kLate, 2, true},
        {"an unplaced deceleration matches nothing",
         Measured().contraction(m(2), m(3)).contraction(m(8), m(9)).decel(kLate, m(25), m(25) + s(30)).decel(kLate, m(2), m(3)).unplaced(),
         kLate, 2, false},
        {"two contractions, minimum three", Measured().contraction(m(2), m(3)).contraction(m(8), m(9))
             .decel(kLate, m(2) + s(20), m(3) + s(30)).decel(kLate, m(8) + s(20), m(9) + s(30)), kLate, 3, false},
        {"a single deceleration of the kind", Measured().contraction(m(2), m(3)).contraction(m(8), m(9)).decel(kLate, m(2), m(9)),
         kLate, 2, false},
        {"a contraction matched once by many",
         four_contractions().decel(kLate, m(2), m(2) + s(20)).decel(kLate, m(2) + s(20), m(2) + s(40)).decel(kLate, m(2) + s(40), m(3)),
         kLate, 2, false},
        {"other kinds do not match", recurrent(kVariable).decel(kLate, m(26), m(27)).decel(kLate, m(28), m(29)), kLate, 2, false},
        {"each kind on its own events", recurrent(kVariable).decel(kLate, m(26), m(27)).decel(kLate, m(28), m(29)), kVariable, 2, true},
        {"exactly twenty minutes", recurrent(kLate, m(20)), kLate, 2, true},
        {"one ms short of twenty minutes", recurrent(kLate, m(20) - 1), kLate, 2, false},
        {"end before start", recurrent(kLate, -m(30)), kLate, 2, false},
        {"no decelerations", four_contractions(), kLate, 0, false},
    };
    for (const auto& c : cases) {
        const Measurements w = c.window.build();
        EXPECT_EQ(detail::recurrent_deceleration_kind(w.decelerations, w.contractions, c.kind, w.spans, c.min_contractions),
                  c.expected)
            << c.name;
    }
}

// ------------------------------------------------------------------ category

TEST(Category, FirstApplyingStepDecides) {
    const struct {
        const char* name;
        Measured window;
        Classification expected;
        FindingSet<Reason> reasons;
    } cases[] = {
        {"sinusoidal even without a baseline", Measured().sinusoidal(), C::category_iii, {R::sinusoidal}},
        {"no baseline", Measured(), C::unclassified, {R::no_baseline}},
        {"no variability", Measured().baseline(140), C::unclassified, {R::no_variability}},
        {"absent with bradycardia", Measured().baseline(100).variability(0.5), C::category_iii,
         {R::absent_variability_with_bradycardia_or_recurrence}},
        {"absent with recurrent late", recurrent(kLate).baseline(140).variability(1.0), C::category_iii,
         {R::absent_variability_with_bradycardia_or_recurrence}},
        {"absent with recurrent variable", recurrent(kVariable).baseline(140).variability(1.0), C::category_iii,
         {R::absent_variability_with_bradycardia_or_recurrence}},
        {"absent without recurrence", Measured().baseline(140).variability(0.5), C::category_ii, {R::absent_variability}},
        {"early and gradual decelerations allow category I",
         Measured().baseline(140).variability(10).decel(kEarly, m(5), m(6)).decel(kGradual, m(9), m(10)), C::category_i,
         {R::reassuring_trace}},
        {"a prolonged deceleration", Measured().baseline(140).variability(10).decel(kProlonged, m(5), m(8)), C::category_ii,
         {R::prolonged_deceleration}},
        {"a late deceleration", Measured().baseline(140).variability(10).decel(kLate, m(5), m(6)), C::category_ii,
         {R::late_deceleration}},
        {"three variable decelerations, one reason",
         Measured().baseline(140).variability(10).decel(kVariable, m(1), m(2)).decel(kVariable, m(4), m(5)).decel(kVariable, m(7), m(8)),
         C::category_ii, {R::variable_deceleration}},
        {"tachycardia, minimal variability, late", Measured().baseline(165).variability(3).decel(kLate, m(5), m(6)), C::category_ii,
         {R::tachycardia, R::minimal_variability, R::late_deceleration}},
        {"bradycardia with moderate variability", Measured().baseline(105).variability(10), C::category_ii, {R::bradycardia}},
        {"marked 28", Measured().baseline(140).variability(28), C::category_ii, {R::marked_variability}},
        {"minimal with gradual and early", Measured().baseline(140).variability(3).decel(kGradual, m(5), m(6)).decel(kEarly, m(8), m(9)),
         C::category_ii, {R::minimal_variability, R::gradual_deceleration}},
        {"tachysystole adds its reason", Measured().baseline(140).variability(10).tachysystole(true), C::category_i,
         {R::reassuring_trace, R::tachysystole}},
        {"tachysystole in any category", Measured().tachysystole(true), C::unclassified, {R::no_baseline, R::tachysystole}},
        {"no tachysystole, no reason", Measured().baseline(140).variability(10).tachysystole(false), C::category_i,
         {R::reassuring_trace}},
    };
    for (const auto& c : cases) {
        const Measurements w = c.window.build();
        const Category category = decide_category(w, assess_recurrence(w));
        EXPECT_EQ(category.classification, c.expected) << c.name;
        EXPECT_EQ(category.reasons, c.reasons) << c.name;
    }
}

// ----------------------------------------------------------------- findings

Measured normal_moderate() { return Measured().baseline(140).variability(10); }

// Three contractions, two of them under a 25-second deceleration of `kind`.
Measured recurrent_min3(DecelerationKind kind) {
    return three_contractions().decel(kind, m(2) + s(20), m(2) + s(45)).decel(kind, m(8) + s(20), m(8) + s(45)).baseline(140).variability(10);
}

TEST(HighRisk, Findings) {
    const struct {
        const char* name;
        Measured window;
        Classification classification;
        FindingSet<HighRisk> expected;
    } cases[] = {
        {"none", normal_moderate(), C::category_i, {}},
        {"sinusoidal", normal_moderate().sinusoidal(), C::category_iii, {H::sinusoidal}},
        {"absent variability", Measured().baseline(140).variability(0.8), C::category_ii, {H::absent_variability}},
        {"marked 31", Measured().baseline(140).variability(31), C::category_ii, {H::marked_variability}},
        {"marked 30 is not", Measured().baseline(140).variability(30.0), C::category_ii, {}},
        {"recurrent late, three contractions", recurrent_min3(kLate), C::category_ii, {H::recurrent_late}},
        {"recurrent variable, three contractions", recurrent_min3(kVariable), C::category_ii, {H::recurrent_variable}},
        {"two contractions are not enough",
         normal_moderate().contraction(m(2), m(3)).contraction(m(8), m(9)).decel(kLate, m(2) + s(20), m(2) + s(50)).decel(kLate, m(8) + s(20), m(8) + s(50)),
         C::category_ii, {}},
        {"gradual with minimal", Measured().baseline(140).variability(3).decel(kGradual, m(5), m(5) + s(40)), C::category_ii,
         {H::gradual_with_low_variability}},
        {"gradual with absent", Measured().baseline(140).variability(1).decel(kGradual, m(5), m(5) + s(40)), C::category_ii,
         {H::absent_variability, H::gradual_with_low_variability}},
        {"gradual with moderate", normal_moderate().decel(kGradual, m(5), m(5) + s(40)), C::category_i, {}},
        {"severe variable by nadir", normal_moderate().decel_lasting(kVariable, 30, 79.9, 50), C::category_ii,
         {H::severe_variable, H::deep_nadir}},
        {"severe variable by depth", normal_moderate().decel_lasting(kVariable, 30, 85, 60), C::category_ii, {H::severe_variable}},
        {"severe variable by duration", normal_moderate().decel_lasting(kVariable, 60, 100, 20), C::category_ii, {H::severe_variable}},
        {"variable just short of severe", normal_moderate().decel_lasting(kVariable, 59, 80, 59.9), C::category_ii, {}},
        {"a deep late nadir is not severe", normal_moderate().decel_lasting(kLate, 30, 79, 61), C::category_ii, {H::deep_nadir}},
        {"burden of 120 s alone", normal_moderate().decel_lasting(kEarly, 120, 100, 20), C::category_i, {H::deceleration_burden}},
        {"burden of 119 s without context", normal_moderate().decel_lasting(kEarly, 119, 100, 29.9), C::category_i, {}},
        {"burden of 59 s with nadir 90", normal_moderate().decel_lasting(kEarly, 59, 90, 20), C::category_i, {}},
        {"burden of 60 s with nadir 90", normal_moderate().decel_lasting(kEarly, 60, 90, 20), C::category_i, {H::deceleration_burden}},
        {"burden of 60 s with depth 30", normal_moderate().decel_lasting(kEarly, 60, 100, 30), C::category_i, {H::deceleration_burden}},
        {"burden of 60 s with recurrent late", recurrent_min3(kLate).decel_lasting(kEarly, 10, 100, 20), C::category_ii,
         {H::recurrent_late, H::deceleration_burden}},
        {"burden of 60 s with recurrent variable", recurrent_min3(kVariable).decel_lasting(kEarly, 10, 100, 20), C::category_ii,
         {H::recurrent_variable, H::deceleration_burden}},
        {"one prolonged", normal_moderate().decel_lasting(kProlonged, 20, 100, 20), C::category_ii, {}},
        {"two prolonged", normal_moderate().decel_lasting(kProlonged, 20, 100, 20).decel_lasting(kProlonged, 20, 100, 20),
         C::category_ii, {H::multiple_prolonged}},
        {"capture above 0.25", normal_moderate().capture_ratio(0.26), C::category_i, {H::maternal_capture}},
        {"capture at 0.25", normal_moderate().capture_ratio(0.25), C::category_i, {}},
        {"tachysystole in category I", normal_moderate().tachysystole(true), C::category_i, {H::tachysystole}},
        {"tachysystole alone in category II", normal_moderate().tachysystole(true), C::category_ii, {H::tachysystole}},
        {"tachysystole beside a category II finding", Measured().baseline(140).variability(0.5).tachysystole(true),
         C::category_ii, {H::absent_variability, H::tachysystole_with_category_ii}},
        {"maternal capture counts as that finding", normal_moderate().capture_ratio(0.3).tachysystole(true), C::category_ii,
         {H::maternal_capture, H::tachysystole_with_category_ii}},
        {"tachysystole beside a category III finding", normal_moderate().sinusoidal().tachysystole(true), C::category_iii,
         {H::sinusoidal, H::tachysystole}},
        {"tachysystole false or unknown", normal_moderate().decel_lasting(kLate, 30, 79, 61).tachysystole(false), C::category_ii,
         {H::deep_nadir}},
    };
    for (const auto& c : cases) {
        const Measurements w = c.window.build();
        EXPECT_EQ(high_risk_findings(w, assess_recurrence(w), c.classification), c.expected) << c.name;
    }
}

TEST(Protective, Findings) {
    using P = Protective;
    EXPECT_EQ(protective_findings(Measured().baseline(140).variability(10).build()), FindingSet<P>{P::moderate_variability});
    EXPECT_EQ(protective_findings(Measured().baseline(140).variability(25).accelerations(2).build()),
              (FindingSet<P>{P::moderate_variability, P::accelerations}));
    EXPECT_EQ(protective_findings(Measured().baseline(140).variability(5).accelerations(1).build()), FindingSet<P>{P::accelerations});
    EXPECT_EQ(protective_findings(Measured().baseline(140).variability(26).build()), FindingSet<P>{});
}

// -------------------------------------------------------------- limitations

TEST(Limitations, ByWindowLengthContractionsTocoAndBaseline) {
    const struct {
        const char* name;
        Measured window;
        FindingSet<Limitation> expected;
    } cases[] = {
        {"five minutes with TOCO", Measured(m(5)).baseline(140),
         {L::under_10_minutes, L::under_20_minutes, L::under_30_minutes, L::tachysystole_needs_30_minutes}},
        {"25 minutes, one contraction", Measured(m(25)).baseline(140).contractions(1).toco_ratio(0.8),
         {L::few_contractions, L::under_30_minutes, L::tachysystole_needs_30_minutes}},
        {"an empty 30 minutes", Measured(m(30)).toco_ratio(0.0), {L::few_contractions, L::sparse_toco, L::no_baseline}},
        {"exactly 600 s", Measured(m(10)).baseline(140).contractions(3),
         {L::under_20_minutes, L::under_30_minutes, L::tachysystole_needs_30_minutes}},
        {"just under 600 s", Measured(m(10) - 1).baseline(140).contractions(3),
         {L::under_10_minutes, L::under_20_minutes, L::under_30_minutes, L::tachysystole_needs_30_minutes}},
        {"exactly 1200 s, two contractions", Measured(m(20)).baseline(140).contractions(2),
         {L::under_30_minutes, L::tachysystole_needs_30_minutes}},
        {"exactly 30 minutes", Measured(m(30)).baseline(140).contractions(2), {}},
        {"just under 30 minutes", Measured(m(30) - 1).baseline(140).contractions(2),
         {L::under_30_minutes, L::tachysystole_needs_30_minutes}},
        {"TOCO 0.49", Measured().baseline(140).contractions(2).toco_ratio(0.49), {L::sparse_toco}},
        {"TOCO 0.5", Measured().baseline(140).contractions(2).toco_ratio(0.5), {}},
        {"tachysystole judged in a short window", Measured(m(25)).baseline(140).contractions(2).tachysystole(false),
         {L::under_30_minutes}},
        {"end before start", Measured(-m(5)).baseline(140).contractions(2),
         {L::under_10_minutes, L::under_20_minutes, L::under_30_minutes, L::tachysystole_needs_30_minutes}},
    };
    for (const auto& c : cases) EXPECT_EQ(limitations(c.window.build()), c.expected) << c.name;
}

// --------------------------------------------------------------- diagnostics

TEST(CategoryIiiDiagnostics, EveryField) {
    using T = TocoRecurrenceConfidence;
    using D = LateDecelTimingConfidence;
    const struct {
        const char* name;
        Measured window;
        CategoryIiiDiagnostics expected;
    } cases[] = {
        {"an empty 30 minutes", Measured().toco_ratio(0.0), {false, {}, false, false, false, T::low, D::not_applicable}},
        {"near-absent with bradycardia", Measured().baseline(100).variability(2.5).contractions(3),
         {true, {B::near_absent_variability}, true, false, false, T::adequate, D::not_applicable}},
        {"near-absent up to 3", Measured().baseline(100).variability(3.0).contractions(3),
         {true, {B::near_absent_variability}, true, false, false, T::adequate, D::not_applicable}},
        {"minimal 3.5 is not near-absent", Measured().baseline(100).variability(3.5).contractions(3),
         {false, {}, false, false, false, T::adequate, D::not_applicable}},
        {"absent with bradycardia", Measured().baseline(100).variability(1.0).contractions(3),
         {true, {}, false, false, false, T::adequate, D::not_applicable}},
        {"absent, two variable, one contraction",
         Measured().baseline(140).variability(0.5).contractions(1).toco_ratio(0.9).decel(kVariable, m(4), m(5)).decel(kVariable, m(10), m(11)),
         {true, {B::few_contractions, B::variable_not_confirmed}, false, false, true, T::limited, D::not_applicable}},
        {"absent with confirmed late recurrence", recurrent(kLate).baseline(140).variability(0.5),
         {true, {}, false, true, false, T::adequate, D::confirmed}},
        {"sinusoidal with near-absent", Measured().sinusoidal().baseline(140).variability(2.5).contractions(2),
         {true, {}, true, false, false, T::adequate, D::not_applicable}},
        {"every blocker", Measured(m(10)).baseline(140).variability(2.5).toco_ratio(0.3).decel(kLate, m(1), m(2)).decel(kGradual, m(4), m(5)),
         {true,
          {B::near_absent_variability, B::under_20_minutes, B::few_contractions, B::sparse_toco, B::late_not_confirmed},
          true, true, false, T::low, D::confirmed}},
        {"variable recurrence with moderate variability", recurrent(kVariable).baseline(140).variability(10),
         {false, {}, false, false, true, T::adequate, D::not_applicable}},
        {"minimal, two late, not near-absent",
         Measured().baseline(140).variability(4).contractions(3).decel(kLate, m(4), m(5)).decel(kLate, m(10), m(11)),
         {false, {}, false, false, false, T::adequate, D::confirmed}},
        {"gradual with contractions", normal_moderate().contractions(3).toco_ratio(0.9).decel(kGradual, m(4), m(5)),
         {false, {}, false, false, false, T::adequate, D::limited}},
        {"gradual without contractions", normal_moderate().toco_ratio(0.9).decel(kGradual, m(4), m(5)),
         {false, {}, false, false, false, T::limited, D::low}},
        {"gradual with sparse TOCO", normal_moderate().contractions(3).toco_ratio(0.4).decel(kGradual, m(4), m(5)),
         {false, {}, false, false, false, T::low, D::low}},
        {"two contractions in 20 minutes, TOCO 0.5", Measured(m(20)).baseline(140).variability(10).contractions(2).toco_ratio(0.5),
         {false, {}, false, false, false, T::adequate, D::not_applicable}},
        {"two contractions in 19 minutes", Measured(m(19)).baseline(140).variability(10).contractions(2).toco_ratio(0.5),
         {false, {}, false, false, false, T::limited, D::not_applicable}},
        {"absent, late and gradual make a late candidate",
         Measured().baseline(140).variability(0.5).contractions(2).decel(kGradual, m(4), m(5)).decel(kLate, m(10), m(11)),
         {true, {B::late_not_confirmed}, false, true, false, T::adequate, D::confirmed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Measurements w = c.window.build();
        const CategoryIiiDiagnostics d = category_iii_diagnostics(w, assess_recurrence(w));
        EXPECT_EQ(d.cat_iii_candidate, c.expected.cat_iii_candidate);
        EXPECT_EQ(d.cat_iii_blockers, c.expected.cat_iii_blockers);
        EXPECT_EQ(d.variability_near_absent, c.expected.variability_near_absent);
        EXPECT_EQ(d.recurrent_late_candidate, c.expected.recurrent_late_candidate);
        EXPECT_EQ(d.recurrent_variable_candidate, c.expected.recurrent_variable_candidate);
        EXPECT_EQ(d.toco_recurrence_confidence, c.expected.toco_recurrence_confidence);
        EXPECT_EQ(d.late_decel_timing_confidence, c.expected.late_decel_timing_confidence);
    }
}

// ---------------------------------------------------------------- look-backs

constexpr int kNoData = -1;

// A window of one row a second from kStartMs; `fetal` gives the value at an
// offset (kNoData: none).
template <class Fetal>
WindowAnalysis analyze(std::int64_t length_ms, Fetal fetal) {
    std::vector<MonitorSample> rows;
    for (std::int64_t t = 0; t <= length_ms; t += s(1)) {
        MonitorSample& row = rows.emplace_back();
        row.timestamp_ms = kStartMs + t;
        if (const double bpm = fetal(t); bpm != kNoData) row.hr1 = bpm;
    }
    return analysis::analyze_window(rows, AnalysisConfig{}, kStartMs, kStartMs + length_ms);
}

// The setting of the 10-minute block (counted from the window start) that
// holds `offset`; the last block runs to the window end.
int block_setting(const std::vector<int>& blocks, std::int64_t offset) {
    return blocks[std::min(static_cast<std::size_t>(offset / m(10)), blocks.size() - 1)];
}

// Each block cycles through 140 + 0..amplitude, so every one-minute chunk
// spans exactly `amplitude` bpm between its 5th and 95th percentiles.
TEST(LookBack, PersistentMinimalVariabilityNeedsBothSpans) {
    const struct {
        const char* name;
        std::int64_t length_ms;
        std::vector<int> blocks;  // amplitude per 10-minute block
        bool expected;
    } cases[] = {
        {"minimal in both", m(20), {3, 3}, true},
        {"top of the minimal band", m(20), {5, 5}, true},
        {"absent band", m(20), {1, 1}, false},
        {"previous moderate", m(20), {10, 3}, false},
        {"current moderate", m(20), {3, 10}, false},
        {"previous without data", m(20), {kNoData, 3}, false},
        {"short window", m(20) - s(1), {3, 3}, false},
        {"30 minutes, last 20 minimal", m(30), {10, 3, 3}, true},
        {"30 minutes, middle moderate", m(30), {3, 10, 3}, false},
    };
    for (const auto& c : cases) {
        const WindowAnalysis w = analyze(c.length_ms, [&c](std::int64_t t) {
            const int amplitude = block_setting(c.blocks, t);
            return amplitude == kNoData ? kNoData : 140.0 + static_cast<double>(t / s(1) % (amplitude + 1));
        });
        EXPECT_EQ(w.high_risk_features.contains(H::persistent_minimal_variability), c.expected) << c.name;
    }
}

// Each block holds a constant rate.
TEST(LookBack, ChangeToTachycardiaNeedsNormalThenTachycardicBaseline) {
    const struct {
        const char* name;
        std::int64_t length_ms;
        std::vector<int> blocks;  // bpm per 10-minute block
        bool expected;
    } cases[] = {
        {"normal to tachycardia", m(20), {150, 170}, true},
        {"from 160", m(20), {160, 170}, true},
        {"from 110", m(20), {110, 170}, true},
        {"from 165", m(20), {165, 170}, false},
        {"from 105", m(20), {105, 170}, false},
        {"previous without data", m(20), {kNoData, 170}, false},
        {"not tachycardic now", m(20), {150, 155}, false},
        {"short window", m(20) - s(1), {150, 170}, false},
        {"30 minutes, change in the last 20", m(30), {170, 150, 170}, true},
        {"30 minutes, change before", m(30), {150, 170, 170}, false},
    };
    for (const auto& c : cases) {
        const WindowAnalysis w = analyze(c.length_ms, [&c](std::int64_t t) { return block_setting(c.blocks, t); });
        EXPECT_EQ(w.high_risk_features.contains(H::change_to_tachycardia), c.expected) << c.name;
    }
}

// The second at window end - 10 minutes belongs to both spans: each side
// holds just enough seconds for a baseline (120) only when it counts that
// second.
TEST(LookBack, SplitSecondCountsOnBothSides) {
    const struct {
        const char* name;
        std::int64_t previous_from;  // first second at 150 bpm
        std::int64_t current_to;     // last second at 170 bpm, from the split on
        bool expected;
    } cases[] = {
        {"previous 119 plus the split", m(10) - s(119), m(20), true},
        {"previous 118 plus the split", m(10) - s(118), m(20), false},
        {"the split plus current 119", 0, m(10) + s(119), true},
        {"the split plus current 118", 0, m(10) + s(118), false},
    };
    for (const auto& c : cases) {
        const WindowAnalysis w = analyze(m(20), [&c](std::int64_t t) -> double {
            if (t >= c.previous_from && t < m(10)) return 150.0;
            if (t >= m(10) && t <= c.current_to) return 170.0;
            return kNoData;
        });
        EXPECT_EQ(w.high_risk_features.contains(H::change_to_tachycardia), c.expected) << c.name;
    }
}

// Windows at the ends of the instant range look back without wrapping (the
// sanitizer build traps any signed overflow).
TEST(LookBack, WindowsAtTheEndsOfTheInstantRange) {
    constexpr std::int64_t kFirst = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kLast = std::numeric_limits<std::int64_t>::max();
    for (const auto& [start, end] : {std::pair{kFirst, kFirst + m(20)}, std::pair{kLast - m(20), kLast}, std::pair{kFirst, kFirst}}) {
        const WindowAnalysis w = analysis::analyze_window(std::span<const MonitorSample>{}, AnalysisConfig{}, start, end);
        EXPECT_TRUE(w.high_risk_features.empty());
    }
}

}  // namespace
