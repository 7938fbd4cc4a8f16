// The spans of a window that its measurements and judgements use, worked out
// once per window.
#pragma once

#include <cstdint>

#include "fhr_core/time/instant.hpp"

namespace fhr_core::analysis {

using time::Span;

// Baseline and variability are measured over the last 10 minutes of a
// window, events and contractions over its last 20 minutes.
inline constexpr std::uint64_t kCurrentSegmentMinutes = 10;
inline constexpr std::uint64_t kEventSegmentMinutes = 20;

struct WindowSpans {
    std::int64_t start_ms = 0;
    std::int64_t end_ms = 0;
    std::uint64_t length_ms = 0;  // end - start; 0 when the end precedes the start
    Span current_10_min;          // [max(start, end - 10 min), end]
    Span current_20_min;          // [max(start, end - 20 min), end]
    // The 10 minutes before the current ones, [end - 20 min, end - 10 min], for
    // the look-backs of a window of at least 20 minutes; the second at
    // end - 10 min belongs to both spans.
    Span previous_10_min;
    bool at_least_10_min = false;
    bool at_least_20_min = false;
    bool at_least_30_min = false;  // the longest window: only it can judge tachysystole
};

WindowSpans window_spans(std::int64_t start_ms, std::int64_t end_ms);

}  // namespace fhr_core::analysis
