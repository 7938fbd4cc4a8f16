// Baseline fetal heart rate of a span of the series.
#pragma once

#include <cstdint>
#include <optional>

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/sorted_seconds.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// 10 % trimmed mean of the present fetal values in the span, rounded to a
// multiple of 5; absent with fewer than 120 values. `sorted` keeps the
// span's values between calls.
std::optional<std::int32_t> estimate_baseline(SeriesView series, Span span, SortedSeconds& sorted);

std::optional<BaselineClass> classify_baseline(std::optional<std::int32_t> baseline_bpm);

}  // namespace fhr_core::analysis
