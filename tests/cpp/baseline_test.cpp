#include "fhr_core/analysis/baseline.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace fhr_core::analysis {
namespace {

using Opt = std::optional<double>;

// A run of `count` seconds with the same fetal value (absent when nullopt).
struct Run {
    std::size_t count;
    Opt bpm;
};

// Consecutive seconds from `start_ms`, one per run entry in order.
Series series_of(std::int64_t start_ms, const std::vector<Run>& runs) {
    Series series;
    for (const Run& run : runs) {
        for (std::size_t i = 0; i < run.count; ++i) {
            SecondSample s;
            s.timestamp_ms = start_ms + static_cast<std::int64_t>(series.size()) * 1000;
            s.fetal_bpm = run.bpm;
            series.push_back(s);
        }
    }
    return series;
}

struct BaselineCase {
    const char* name;
    std::vector<Run> runs;  // seconds from 0 ms
    std::int64_t from_ms;
    std::int64_t to_ms;
    std::optional<std::int32_t> expected;
};

TEST(BaselineEstimate, Table) {
    SortedSeconds fresh;  // carried from case to case, as between windows
    const std::vector<BaselineCase> cases = {
        {"119 values give no baseline", {{119, 140.0}}, 0, 600'000, std::nullopt},
        {"120 values give one", {{120, 140.0}}, 0, 600'000, 140},
        {"absent seconds do not count", {{60, 140.0}, {10, std::nullopt}, {59, 140.0}}, 0, 600'000,
         std::nullopt},
        // lo = 12, hi = 108: the twelve lowest and twelve highest values are
        // left out; without the trim the result would be 140 -> 130 or 150.
        {"ten percent trimmed at both ends", {{12, 30.0}, {96, 140.0}, {12, 240.0}}, 0, 600'000, 140},
        {"trim removes the low tail", {{12, 30.0}, {108, 140.0}}, 0, 600'000, 140},
        {"trim removes the high tail", {{108, 140.0}, {12, 240.0}}, 0, 600'000, 140},
        // 13 low values: one survives the trim of 12, mean (30 + 95*143)/96
        // = 141.8; trimming it too would give 143 -> 145.
        {"thirteenth low value is kept", {{13, 30.0}, {107, 143.0}}, 0, 600'000, 140},
        {"trimmed mean 137.5 rounds half up to 140", {{120, 137.5}}, 0, 600'000, 140},
        {"trimmed mean 137.4 rounds to 135", {{120, 137.4}}, 0, 600'000, 135},
        {"trimmed mean 132.49 rounds to 130", {{120, 132.49}}, 0, 600'000, 130},
        {"trimmed mean 132.5 rounds to 135", {{120, 132.5}}, 0, 600'000, 135},
        {"mixed values average before rounding", {{60, 120.0}, {60, 130.0}}, 0, 600'000, 125},
        // 120 seconds 0..119 s: the span must include both ends.
        {"span ends are inclusive", {{120, 150.0}}, 0, 119'000, 150},
        {"span missing the last second", {{120, 150.0}}, 0, 118'999, std::nullopt},
        {"span missing the first second", {{120, 150.0}}, 1, 119'000, std::nullopt},
        {"only seconds inside the span count",
         {{100, 100.0}, {120, 150.0}, {100, 200.0}}, 100'000, 219'000, 150},
        {"reversed span", {{200, 150.0}}, 199'000, 0, std::nullopt},
        {"empty series", {}, 0, 600'000, std::nullopt},
    };
    for (const BaselineCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(estimate_baseline(series_of(0, c.runs), Span{c.from_ms, c.to_ms}, fresh), c.expected);
    }
}

TEST(BaselineEstimate, NegativeTimes) {
    SortedSeconds fresh;  // carried from case to case, as between windows
    const Series series = series_of(-200'000, {{200, 120.0}});
    struct Case {
        std::int64_t from_ms;
        std::int64_t to_ms;
        std::optional<std::int32_t> expected;
    };
    const std::vector<Case> cases = {
        {-200'000, -81'000, 120},
        {-200'000, -81'001, std::nullopt},
        {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), 120},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(estimate_baseline(series, Span{c.from_ms, c.to_ms}, fresh), c.expected) << c.from_ms << " " << c.to_ms;
    }
}

TEST(BaselineClassify, Table) {
    struct Case {
        std::optional<std::int32_t> bpm;
        std::optional<BaselineClass> expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, std::nullopt},
        {105, BaselineClass::bradycardia},
        {110, BaselineClass::normal},
        {140, BaselineClass::normal},
        {160, BaselineClass::normal},
        {165, BaselineClass::tachycardia},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classify_baseline(c.bpm), c.expected) << (c.bpm ? *c.bpm : -1);
    }
}

}  // namespace
}  // namespace fhr_core::analysis
