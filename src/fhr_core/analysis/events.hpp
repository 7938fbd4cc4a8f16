// Accelerations and decelerations, and the timing of gradual decelerations.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Acceleration criterion A (bpm and seconds): 10 before 32 weeks, else 15.
double acceleration_criterion(std::optional<std::uint8_t> gestational_age_weeks);

std::vector<AccelerationEvent> detect_accelerations(const Series& series, Span detection,
                                                    std::int32_t baseline_bpm, double criterion);

std::vector<DecelerationEvent> detect_decelerations(const Series& series, Span detection,
                                                    std::int32_t baseline_bpm);

struct DecelTimes {
    std::int64_t start = 0;
    std::int64_t nadir = 0;
    std::int64_t end = 0;
};

// Instants of a deceleration recovered from its texts; absent when a text
// does not parse as a monitor timestamp.
std::optional<DecelTimes> decel_times(const DecelerationEvent& event);

// Re-times gradual decelerations against the contraction peaks: "early" or
// "late" when the nadir lines up with an associated contraction.
void time_gradual_decelerations(std::vector<DecelerationEvent>& decelerations,
                                const std::vector<ContractionEvent>& contractions);

}  // namespace fhr_core::analysis
