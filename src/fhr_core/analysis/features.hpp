// The "features" group of a window.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

WindowFeatures compute_features(const Series& series, std::optional<std::int32_t> baseline_bpm,
                                const std::vector<AccelerationEvent>& accelerations,
                                const std::vector<DecelerationEvent>& decelerations,
                                const TocoSummary& toco_summary);

}  // namespace fhr_core::analysis
