// Accelerations and decelerations, and the timing of gradual decelerations
// against the contractions.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "fhr_core/analysis/contractions.hpp"
#include "fhr_core/analysis/series.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Acceleration criterion A (bpm and seconds): 10 before 32 weeks, else 15.
double acceleration_criterion(std::optional<std::uint8_t> gestational_age_weeks);

std::vector<AccelerationEvent> detect_accelerations(SeriesView series, Span detection,
                                                    std::int32_t baseline_bpm, double criterion);

// Where a deceleration lies, for relating it to contractions: the instants
// its start and end texts name, and the nadir that lies onset_to_nadir after
// the start.
struct DecelerationInstants {
    std::int64_t start = 0;
    std::int64_t nadir = 0;
    std::int64_t end = 0;
};

// A deceleration takes part in the timing and the recurrence test only when
// both its texts name instants and its nadir is an instant too.
struct Deceleration {
    DecelerationEvent event;
    std::optional<DecelerationInstants> at;
};

std::vector<Deceleration> detect_decelerations(SeriesView series, Span detection,
                                               std::int32_t baseline_bpm);

// Re-times gradual decelerations against the contraction peaks: "early" or
// "late" when the nadir lines up with an associated contraction.
void time_gradual_decelerations(std::vector<Deceleration>& decelerations,
                                const std::vector<Contraction>& contractions);

}  // namespace fhr_core::analysis
