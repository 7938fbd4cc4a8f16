#include "fhr_core/analysis/variability.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace fhr_core::analysis {
namespace {

using Opt = std::optional<double>;
constexpr std::optional<double> kNone = std::nullopt;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// `count` seconds alternating low, high, low, ... (absent when low is absent).
struct Piece {
    std::size_t count;
    Opt low;
    double high = 0.0;
};

Piece absent(std::size_t count) { return {count, kNone}; }
// 30 or more seconds alternating 140 and 140 + d have a p95 - p05 of d.
Piece wave(std::size_t count, double d) { return {count, 140.0, 140.0 + d}; }
Piece flat(std::size_t count, double bpm) { return {count, bpm, bpm}; }

Series series_of(std::int64_t start_ms, const std::vector<Piece>& pieces) {
    Series series;
    for (const Piece& p : pieces) {
        for (std::size_t i = 0; i < p.count; ++i) {
            SecondSample s;
            s.timestamp_ms = start_ms + static_cast<std::int64_t>(series.size()) * 1000;
            if (p.low) s.fetal_bpm = i % 2 == 0 ? *p.low : p.high;
            series.push_back(s);
        }
    }
    return series;
}

struct VariabilityCase {
    const char* name;
    std::vector<Piece> pieces;  // seconds from 0 ms
    std::int64_t from_ms;
    std::int64_t to_ms;
    Opt expected;
};

TEST(VariabilityEstimate, Table) {
    const std::vector<VariabilityCase> cases = {
        {"two amplitudes give the upper middle", {wave(60, 3), wave(60, 7), absent(1)}, 0, 120'000, 7.0},
        {"amplitudes are sorted before the median", {wave(60, 3), wave(60, 9), wave(60, 5)}, 0,
         180'000, 5.0},
        {"one amplitude gives none", {wave(60, 3), absent(61)}, 0, 120'000, kNone},
        {"29 qualifying seconds contribute nothing", {wave(60, 3), wave(29, 7), absent(32)}, 0,
         120'000, kNone},
        {"30 qualifying seconds contribute", {wave(60, 3), wave(30, 7), absent(31)}, 0, 120'000, 7.0},
        {"26 bpm above the baseline is left out", {wave(60, 3), wave(30, 7), flat(30, 166)}, 0,
         120'000, 7.0},
        {"25 bpm above the baseline takes part", {wave(60, 3), wave(30, 7), flat(30, 165)}, 0,
         120'000, 25.0},
        {"26 bpm below the baseline is left out", {wave(60, 3), wave(30, 7), flat(30, 114)}, 0,
         120'000, 7.0},
        {"25 bpm below the baseline takes part", {wave(60, 3), wave(30, 7), flat(30, 115)}, 0,
         120'000, 32.0},
        {"left-out seconds do not make up the count",
         {wave(60, 3), wave(29, 7), flat(1, 166), absent(31)}, 0, 120'000, kNone},
        // Seconds 91..119 give 29 values; the second at 120 s would be the 30th.
        {"the second at the span end belongs to no chunk",
         {wave(60, 3), absent(31), wave(30, 7)}, 0, 120'000, kNone},
        {"a short last chunk still counts", {wave(60, 3), wave(30, 7), absent(1)}, 0, 90'000, 7.0},
        // Chunks [45 s, 105 s) and [105 s, 135 s); minute-aligned chunks would
        // hold 15 + 30 values and give a single amplitude.
        {"chunks start at the span start",
         {absent(45), wave(30, 3), absent(30), wave(30, 7), absent(10)}, 45'000, 135'000, 7.0},
        {"chunks far before the data keep their alignment",
         {absent(45), wave(30, 3), absent(30), wave(30, 7), absent(10)},
         45'000 - 60'000 * std::int64_t{1'000'000'000}, 135'000, 7.0},
        {"empty span", {wave(120, 3)}, 60'000, 60'000, kNone},
        {"reversed span", {wave(120, 3)}, 119'000, 0, kNone},
        {"no seconds", {}, 0, 600'000, kNone},
    };
    ChunkAmplitudes unshared;
    for (const VariabilityCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(estimate_variability(series_of(0, c.pieces), Span{c.from_ms, c.to_ms}, 140.0, unshared),
                  c.expected);
    }
}

// The chunk walk must neither overflow nor run for long over the widest span.
TEST(VariabilityEstimate, WholeInstantRange) {
    struct Case {
        std::int64_t start_ms;
        Opt expected;
    };
    const std::vector<Case> cases = {
        {kMin, 4.0},
        {-300'000, 4.0},
        {kMax - 600'000, 4.0},
    };
    ChunkAmplitudes unshared;
    for (const Case& c : cases) {
        // Ten minutes alternating 140/144: every chunk with 30 values spans 4.
        const Series series = series_of(c.start_ms, {wave(600, 4)});
        EXPECT_EQ(estimate_variability(series, Span{kMin, kMax}, 140.0, unshared), c.expected) << c.start_ms;
    }
}

TEST(VariabilityClassify, Table) {
    struct Case {
        Opt amplitude;
        std::optional<VariabilityClass> expected;
    };
    const std::vector<Case> cases = {
        {kNone, std::nullopt},
        {0.0, VariabilityClass::absent},
        {1.0, VariabilityClass::absent},
        {1.01, VariabilityClass::minimal},
        {5.0, VariabilityClass::minimal},
        {5.01, VariabilityClass::moderate},
        {25.0, VariabilityClass::moderate},
        {25.01, VariabilityClass::marked},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classify_variability(c.amplitude), c.expected) << c.amplitude.value_or(-1);
    }
}

}  // namespace
}  // namespace fhr_core::analysis
