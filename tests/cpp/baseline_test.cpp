// Baseline and variability: estimates over a span and their classes.
#include "fhr_core/analysis/baseline.hpp"
#include "fhr_core/analysis/variability.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "support.hpp"

namespace fhr_core::analysis {
namespace {

using namespace testing_support;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// Rows: name | fetal profile from 0 ms | span from | to (ms) | expected ("-": none).
TEST(BaselineEstimate, Table) {
    SortedSeconds fresh;  // carried from case to case, as between windows
    for (const auto& row : table("baseline.txt")) {
        const auto expected = opt(row[4]);
        const auto from = static_cast<std::int64_t>(num(row[2])), to = static_cast<std::int64_t>(num(row[3]));
        EXPECT_EQ(estimate_baseline(seconds(profile(row[1])), Span{from, to}, fresh),
                  expected ? std::optional(static_cast<std::int32_t>(*expected)) : std::nullopt)
            << row[0];
    }
    const Series negative = seconds(profile("120*200"), -200'000);
    EXPECT_EQ(estimate_baseline(negative, Span{-200'000, -81'000}, fresh), 120);
    EXPECT_EQ(estimate_baseline(negative, Span{-200'000, -81'001}, fresh), std::nullopt);
    EXPECT_EQ(estimate_baseline(negative, Span{kMin, kMax}, fresh), 120);
}

// Rows: name | fetal profile from 0 ms | span from | to (ms) | expected ("-": none). Thirty or more seconds
// alternating 140 and 140 + d span d from p05 to p95.
TEST(VariabilityEstimate, Table) {
    ChunkAmplitudes unshared;
    for (const auto& row : table("variability.txt")) {
        const auto from = static_cast<std::int64_t>(num(row[2])), to = static_cast<std::int64_t>(num(row[3]));
        EXPECT_EQ(estimate_variability(seconds(profile(row[1])), Span{from, to}, 140.0, unshared), opt(row[4])) << row[0];
    }
    // The chunk walk neither overflows nor runs long over the widest span.
    for (const std::int64_t start : {kMin, std::int64_t{-300'000}, kMax - 600'000}) {
        EXPECT_EQ(estimate_variability(seconds(profile("140/144*600"), start), Span{kMin, kMax}, 140.0, unshared), 4.0) << start;
    }
}

// The baseline classes at 105, 110, 160 and 165 bpm are pinned by the regression corpus.
TEST(RateClasses, VariabilityBoundaries) {
    using V = VariabilityClass;
    EXPECT_EQ(classify_variability(std::nullopt), std::nullopt);
    for (const auto& [amplitude, cls] : std::initializer_list<std::pair<double, V>>{{0.0, V::absent}, {1.0, V::absent}, {1.01, V::minimal}, {5.0, V::minimal},
                                         {5.01, V::moderate}, {25.0, V::moderate}, {25.01, V::marked}}) {
        EXPECT_EQ(classify_variability(amplitude), cls) << amplitude;
    }
}

}  // namespace
}  // namespace fhr_core::analysis
