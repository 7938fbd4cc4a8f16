#include "fhr_core/analysis/window_spans.hpp"

#include <algorithm>

#include "fhr_core/model/input.hpp"

namespace fhr_core::analysis {

WindowSpans window_spans(std::int64_t start_ms, std::int64_t end_ms) {
    constexpr std::uint64_t kCurrentMs = time::minutes_ms(kCurrentSegmentMinutes);
    constexpr std::uint64_t kEventMs = time::minutes_ms(kEventSegmentMinutes);
    constexpr std::uint64_t kLongestMs = time::minutes_ms(AnalysisConfig::kMaxWindowMinutes);

    WindowSpans spans;
    spans.start_ms = start_ms;
    spans.end_ms = end_ms;
    spans.length_ms = time::length_between(start_ms, end_ms);
    const std::int64_t back_10 = time::earlier(end_ms, kCurrentMs);
    const std::int64_t back_20 = time::earlier(end_ms, kEventMs);
    spans.current_10_min = Span{std::max(start_ms, back_10), end_ms};
    spans.current_20_min = Span{std::max(start_ms, back_20), end_ms};
    spans.previous_10_min = Span{back_20, back_10};
    spans.at_least_10_min = spans.length_ms >= kCurrentMs;
    spans.at_least_20_min = spans.length_ms >= kEventMs;
    spans.at_least_30_min = spans.length_ms >= kLongestMs;
    return spans;
}

}  // namespace fhr_core::analysis
