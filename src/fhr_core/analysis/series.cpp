// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/series.hpp"
namespace fhr_core::analysis {
std::string second_text(const SecondSample& s) { return s.timestamp.empty() ? std::to_string(s.timestamp_ms) + "ms" : std::string(s.timestamp); }
std::string closest_second_text(const Series& series, std::int64_t) { return second_text(series.front()); }
Span current_segment(std::int64_t s, std::int64_t e, std::int64_t) { return {s, e}; }
std::uint64_t window_span_ms(std::int64_t s, std::int64_t e) { return e > s ? std::uint64_t(e) - std::uint64_t(s) : 0; }
PreparedWindow build_second_samples(std::span<const MonitorSample>, FetalChannel, std::int64_t, std::int64_t) { return {}; }
}
