// The three-tier category, its reasons, high-risk and protective features.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// True when the window lasts at least 20 minutes, holds at least
// `min_contractions` contractions and two decelerations of `kind`, and at
// least half of its contractions are overlapped by such a deceleration
// (from 30 s before the contraction to 60 s after it).
bool recurrent_deceleration_kind(const std::vector<DecelerationEvent>& decelerations,
                                 const std::vector<ContractionEvent>& contractions,
                                 DecelerationKind kind, std::int64_t window_start,
                                 std::int64_t window_end, std::size_t min_contractions);

struct CategoryDecision {
    Classification classification = Classification::unclassified;
    std::vector<std::string> reasons;  // in append order, not yet sorted
    bool recurrent_late_min2 = false;
    bool recurrent_variable_min2 = false;
};

// Reads the measured fields of `window` (baseline, variability, sinusoidal
// pattern, events, contractions).
CategoryDecision decide_category(const WindowAnalysis& window, std::int64_t window_start,
                                 std::int64_t window_end);

// High-risk features in append order, including the two look-backs over the
// series. Reads the measured fields and the features group of `window`.
std::vector<std::string> high_risk_features(const WindowAnalysis& window, const Series& series,
                                            std::int64_t window_start, std::int64_t window_end);

std::vector<std::string> protective_features(const WindowAnalysis& window);

// Appends the maternal-capture and tachysystole entries to the window's
// reasons and high-risk features (after the last limitation).
void add_capture_and_tachysystole_entries(WindowAnalysis& window);

// Sorts a phrase list by byte order and removes duplicates.
void sort_phrases(std::vector<std::string>& phrases);

}  // namespace fhr_core::analysis
