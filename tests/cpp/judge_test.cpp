// The judging stage: the recurrence test, category and reasons, high-risk findings, limitations and Category III
// diagnostics, decided from the measurements of tests/data/cpp/judge-*.txt; the look-backs through the whole window
// analysis.
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

// Rows of tests/data/cpp/judge-lookbacks.txt, analysed as a whole window of one row a second from kStartMs.
TEST(LookBack, PersistentMinimalAndChangeToTachycardia) {
    for (const auto& row : table("judge-lookbacks.txt")) {
        const auto length = static_cast<std::int64_t>(num(row[2]));
        std::vector<MonitorSample> rows(static_cast<std::size_t>(length) + 1);
        for (std::int64_t t = 0; t <= length; ++t) rows[t].timestamp_ms = kStartMs + s(t);
        for (const std::string& stretch : words(row[3])) {
            const auto dash = stretch.find('-'), eq = stretch.find('='), tilde = stretch.find('~');
            if (stretch.substr(eq + 1) == "-") continue;
            const auto low = num(stretch.substr(eq + 1, tilde - eq - 1));
            const auto cycle = tilde == std::string::npos ? 1 : static_cast<std::int64_t>(num(stretch.substr(tilde + 1)) - low) + 1;
            for (auto t = static_cast<std::int64_t>(num(stretch.substr(0, dash))); t <= num(stretch.substr(dash + 1, eq - dash - 1)); ++t) {
                rows[t].hr1 = low + static_cast<double>(t % cycle);
            }
        }
        const WindowAnalysis w = analysis::analyze_window(rows, AnalysisConfig{}, kStartMs, kStartMs + s(length));
        EXPECT_EQ(w.high_risk_features.contains(from_name<HighRisk>(row[1])), row[4] == "1") << row[0];
    }
}

// Windows at the ends of the instant range look back without wrapping (the sanitizer build traps any signed
// overflow).
TEST(LookBack, WindowsAtTheEndsOfTheInstantRange) {
    constexpr std::int64_t kFirst = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kLast = std::numeric_limits<std::int64_t>::max();
    for (const auto& [start, end] : {std::pair{kFirst, kFirst + m(20)}, std::pair{kLast - m(20), kLast}, std::pair{kFirst, kFirst}}) {
        const WindowAnalysis w = analysis::analyze_window(std::span<const MonitorSample>{}, AnalysisConfig{}, start, end);
        EXPECT_TRUE(w.high_risk_features.empty());
    }
}

}  // namespace
