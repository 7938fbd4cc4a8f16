// Baseline variability: the median per-minute amplitude.
#pragma once

#include <optional>

#include "fhr_core/analysis/chunk_amplitudes.hpp"
#include "fhr_core/analysis/series.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Median of the p95 - p05 amplitudes of the one-minute chunks of the span,
// taken half-open ([from_ms, to_ms)), that hold at least 30 values within
// 25 bpm of the baseline; absent with fewer than two such chunks. `shared`
// keeps chunk amplitudes between calls; a chunk holding the series' first or
// last second shares its amplitude only when `whole_ends` says that second
// holds all its rows.
std::optional<double> estimate_variability(SeriesView series, Span span, double baseline, ChunkAmplitudes& shared,
                                           WholeEnds whole_ends = {});

std::optional<VariabilityClass> classify_variability(std::optional<double> variability_bpm);

}  // namespace fhr_core::analysis
