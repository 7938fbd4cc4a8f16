// Contractions, contraction rate and tachysystole.
#pragma once

#include <cstdint>
#include <vector>

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// Contractions of the current 20-minute segment, in time order of the peaks.
std::vector<ContractionEvent> detect_contractions(const Series& series, std::int64_t window_start,
                                                  std::int64_t window_end);

// The rate per 10 minutes over the whole window and the tachysystole finding.
TocoSummary summarize_contractions(std::vector<ContractionEvent> contractions, const Series& series,
                                   std::int64_t window_start, std::int64_t window_end);

}  // namespace fhr_core::analysis
