// The three-tier category, its reasons, the high-risk and protective
// findings, and the contraction-linked recurrence test.
#pragma once

#include <cstddef>
#include <vector>

#include "fhr_core/analysis/measure.hpp"
#include "fhr_core/model/findings.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Recurrence is judged from this many contractions on (the category, the
// Category III diagnostics and the limitations).
inline constexpr std::size_t kRecurrenceMinContractions = 2;

// A deceleration whose nadir lies below this is deep (bpm).
inline constexpr double kDeepNadirBelowBpm = 80.0;

// The recurrence test for late and variable decelerations, with at least
// two and at least three contractions.
struct Recurrence {
    bool late_min2 = false;
    bool variable_min2 = false;
    bool late_min3 = false;
    bool variable_min3 = false;
};

Recurrence assess_recurrence(const Measurements& m);

struct Category {
    Classification classification = Classification::unclassified;
    FindingSet<Reason> reasons;
};

Category decide_category(const Measurements& m, const Recurrence& recurrence);

// The high-risk findings; the tachysystole finding depends on the category.
FindingSet<HighRisk> high_risk_findings(const Measurements& m, const Recurrence& recurrence,
                                        Classification classification);

FindingSet<Protective> protective_findings(const Measurements& m);

namespace detail {

// True when the window lasts at least 20 minutes, holds at least
// `min_contractions` contractions and two decelerations of `kind`, and at
// least half of its contractions are reached by the link span of such a
// deceleration (decelerations and contractions without instants count but
// never match).
bool recurrent_deceleration_kind(const std::vector<Deceleration>& decelerations,
                                 const std::vector<Contraction>& contractions, DecelerationKind kind,
                                 const WindowSpans& spans, std::size_t min_contractions);

}  // namespace detail
}  // namespace fhr_core::analysis
