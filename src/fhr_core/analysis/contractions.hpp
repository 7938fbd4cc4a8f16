// Contractions, the contraction rate and tachysystole, and the span that
// links a deceleration to a contraction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/sorted_seconds.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// The instants a contraction's texts name (second_instant of the seconds
// they come from); each is absent when its text names none.
struct ContractionInstants {
    std::optional<std::int64_t> start;
    std::optional<std::int64_t> peak;
    std::optional<std::int64_t> end;
};

struct Contraction {
    ContractionEvent event;
    ContractionInstants at;
};

// A deceleration belongs with a contraction when it reaches into the span
// from 30 s before the contraction starts to 60 s after it ends.
Span link_span(std::int64_t contraction_start, std::int64_t contraction_end);

// Contractions of the current 20 minutes, in time order of the peaks.
// `sorted_toco` keeps the span's TOCO values between calls, `smoothing` its
// smoothed TOCO.
std::vector<Contraction> detect_contractions(SeriesView series, const WindowSpans& spans,
                                             SortedSeconds& sorted_toco, SmoothedSeconds& smoothing);

// Contractions per 10 minutes of the whole window.
double contraction_rate(std::size_t contractions, const WindowSpans& spans);

// More than 15 contractions, judged only in a window of 30 minutes with at
// least 1200 seconds of TOCO (`toco_seconds`: the window's seconds with a
// TOCO value); absent otherwise.
std::optional<bool> tachysystole(std::size_t contractions, std::uint64_t toco_seconds, const WindowSpans& spans);

}  // namespace fhr_core::analysis
