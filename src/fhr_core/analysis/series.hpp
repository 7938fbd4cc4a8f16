// The per-second series of a window and its data-quality figures.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// One whole second of a window. `timestamp` views the text of the first row
// of the second (owned by the recording, which outlives the window); it is
// empty when no row named the second, and second_text() then synthesizes
// "{timestamp_ms}ms".
struct SecondSample {
    std::optional<double> fetal_bpm;
    std::optional<double> maternal_bpm;
    std::optional<double> toco;
    std::string_view timestamp;
    std::int64_t timestamp_ms = 0;
};

using Series = std::vector<SecondSample>;

// Display text of a second.
std::string second_text(const SecondSample& second);

// Text of the second whose timestamp_ms is closest to `ms` (the earlier
// second wins a tie). The series must not be empty.
std::string closest_second_text(const Series& series, std::int64_t ms);

// A closed span of milliseconds [from_ms, to_ms].
struct Span {
    std::int64_t from_ms = 0;
    std::int64_t to_ms = 0;
    bool contains(std::int64_t ms) const { return from_ms <= ms && ms <= to_ms; }
};

inline constexpr std::int64_t kTenMinutesMs = 600'000;
inline constexpr std::int64_t kTwentyMinutesMs = 1'200'000;
inline constexpr std::int64_t kThirtyMinutesMs = 1'800'000;

// [max(window_start, window_end - length_ms), window_end], without overflow.
Span current_segment(std::int64_t window_start, std::int64_t window_end, std::int64_t length_ms);

// window_end - window_start as a non-negative count of milliseconds (0 when
// the end precedes the start); exact for any pair of instants.
std::uint64_t window_span_ms(std::int64_t window_start, std::int64_t window_end);

struct PreparedWindow {
    Series series;
    DataQuality data_quality;
    std::string window_start;
    std::string window_end;
    double duration_seconds = 0.0;
};

// Selects the rows of [window_start, window_end] (binary search on the sorted
// samples), bins them by second and produces the gap-free series, the window
// texts and the data-quality figures.
PreparedWindow build_second_samples(std::span<const MonitorSample> samples, FetalChannel channel,
                                    std::int64_t window_start, std::int64_t window_end);

}  // namespace fhr_core::analysis
