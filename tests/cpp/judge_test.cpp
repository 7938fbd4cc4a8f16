// The judging stage: the recurrence test, category and reasons, high-risk
// findings, limitations and Category III diagnostics, decided from the
// measurements of tests/data/cpp/judge-*.txt; the look-backs through the whole
// window analysis.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "fhr_core/analysis/classification.hpp"
#include "fhr_core/analysis/diagnostics.hpp"
#include "fhr_core/analysis/window.hpp"
#include "support.hpp"

namespace {

using namespace judging_test;
using namespace fhr_core::analysis::testing_support;
using H = HighRisk;

TEST(Judging, Recurrence) {
    for (const auto& row : table("judge-recurrence.txt")) {
        const Measurements w = measured_window(row[1]);
        EXPECT_EQ(detail::recurrent_deceleration_kind(w.decelerations, w.contractions, kind_of(row[2]), w.spans,
                                                      static_cast<std::size_t>(num(row[3]))),
                  row[4] == "1")
            << row[0];
    }
}

TEST(Judging, CategoryAndReasons) {
    for (const auto& row : table("judge-category.txt")) {
        const Measurements w = measured_window(row[1]);
        const Category category = decide_category(w, assess_recurrence(w));
        EXPECT_EQ(category.classification, from_name<Classification>(row[2])) << row[0];
        EXPECT_EQ(category.reasons, set_of<Reason>(row[3])) << row[0];
    }
}

TEST(Judging, HighRiskFindings) {
    for (const auto& row : table("judge-high-risk.txt")) {
        const Measurements w = measured_window(row[1]);
        EXPECT_EQ(high_risk_findings(w, assess_recurrence(w), from_name<Classification>(row[2])), set_of<HighRisk>(row[3]))
            << row[0];
    }
}

TEST(Judging, Limitations) {
    for (const auto& row : table("judge-limitations.txt")) {
        EXPECT_EQ(limitations(measured_window(row[1])), set_of<Limitation>(row[2])) << row[0];
    }
}

TEST(Judging, CategoryIiiDiagnostics) {
    for (const auto& row : table("judge-diagnostics.txt")) {
        SCOPED_TRACE(row[0]);
        const Measurements w = measured_window(row[1]);
        const CategoryIiiDiagnostics d = category_iii_diagnostics(w, assess_recurrence(w));
        EXPECT_EQ(d.cat_iii_candidate, row[2] == "1");
        EXPECT_EQ(d.cat_iii_blockers, set_of<Cat3Blocker>(row[3]));
        EXPECT_EQ(d.variability_near_absent, row[4] == "1");
        EXPECT_EQ(d.recurrent_late_candidate, row[5] == "1");
        EXPECT_EQ(d.recurrent_variable_candidate, row[6] == "1");
        EXPECT_EQ(d.toco_recurrence_confidence, from_name<TocoRecurrenceConfidence>(row[7]));
        EXPECT_EQ(d.late_decel_timing_confidence, from_name<LateDecelTimingConfidence>(row[8]));
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
