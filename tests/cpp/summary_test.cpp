#include "fhr_core/analysis/summary.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace fhr_core::analysis {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(ValueSummaryQuantileIndex, Table) {
    struct Case {
        std::size_t n;
        double q;
        std::size_t expected;
    };
    const std::vector<Case> cases = {
        {4, 0.05, 0},   // round(0.15)
        {4, 0.5, 2},    // round(1.5): halves away from zero
        {4, 0.95, 3},   // round(2.85)
        {1, 0.5, 0},
        {2, 0.5, 1},    // round(0.5) = 1, the upper middle
        {3, 0.5, 1},
        {11, 0.05, 1},  // round(0.5)
        {10, 0.05, 0},  // round(0.45)
        {60, 0.95, 56}, // round(56.05)
        {60, 0.05, 3},  // round(2.95)
        {30, 0.95, 28}, // round(27.55)
        {30, 0.05, 1},  // round(1.45)
        {5, 0.2, 1},    // round(0.8)
        {5, 1.0, 4},
        {5, 1.5, 4},    // past the end clamps to the last element
        {5, -0.5, 0},   // before the start clamps to the first
    };
    for (const Case& c : cases) {
        EXPECT_EQ(detail::quantile_index(c.n, c.q), c.expected) << c.n << " " << c.q;
    }
}

TEST(ValueSummarySort, TotalOrder) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> values = {3.0, nan, -0.0, kInf, 0.0, -nan, -kInf, -2.5, 0.0, -0.0, 1e-300};
    sort_total_order(values);
    const std::vector<std::uint64_t> expected = {
        bits(-nan), bits(-kInf), bits(-2.5), bits(-0.0), bits(-0.0), bits(0.0),
        bits(0.0),  bits(1e-300), bits(3.0), bits(kInf), bits(nan)};
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(bits(values[i]), expected[i]) << i;
}

TEST(ValueSummarySort, LongListsAscend) {
    // Above the insertion-sort size: a descending list with repeats.
    std::vector<double> values;
    for (int i = 40; i > 0; --i) values.push_back(static_cast<double>(i % 7) - 3.0);
    sort_total_order(values);
    for (std::size_t i = 1; i < values.size(); ++i) EXPECT_LE(values[i - 1], values[i]);
    EXPECT_EQ(values.front(), -3.0);
    EXPECT_EQ(values.back(), 3.0);
}

struct SummaryCase {
    const char* name;
    std::vector<double> values;
    double min, p05, mean, median, p95, max, std_dev;
};

TEST(ValueSummarySummarize, Table) {
    const std::vector<SummaryCase> cases = {
        {"one to four", {4, 2, 1, 3}, 1, 1, 2.5, 3, 4, 4, std::sqrt(1.25)},
        {"single value", {140.0}, 140, 140, 140, 140, 140, 140, 0},
        {"two values take the upper middle", {150, 130}, 130, 130, 140, 150, 150, 150, 10},
        // Summed in ascending order: -1e16 + 1 + 1 + 1e16 == 0; input order gives 1.
        {"mean adds in ascending order", {1e16, 1.0, -1e16, 1.0}, -1e16, -1e16, 0.0, 1.0, 1e16,
         1e16, std::sqrt((1e16 * 1e16 + 1 + 1 + 1e16 * 1e16) / 4)},
        {"twenty-one values", {20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
         0, 1, 10, 10, 19, 20, std::sqrt(770.0 / 21.0)},
    };
    for (const SummaryCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> values = c.values;
        const ValueSummary s = summarize_values(values);
        EXPECT_EQ(s.min, c.min);
        EXPECT_EQ(s.p05, c.p05);
        EXPECT_EQ(s.mean, c.mean);
        EXPECT_EQ(s.median, c.median);
        EXPECT_EQ(s.p95, c.p95);
        EXPECT_EQ(s.max, c.max);
        EXPECT_EQ(s.std_dev, c.std_dev);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    }
}

TEST(ValueSummarySummarize, EmptyIsAllAbsent) {
    std::vector<double> values;
    const ValueSummary s = summarize_values(values);
    EXPECT_FALSE(s.min || s.p05 || s.mean || s.median || s.p95 || s.max || s.std_dev);
}

TEST(ValueSummarySummarize, MeanOfNegativeZeroKeepsItsSign) {
    // The sum starts from -0.0, so a list of negative zeros has mean -0.0.
    std::vector<double> values = {-0.0, -0.0};
    const ValueSummary s = summarize_values(values);
    ASSERT_TRUE(s.mean);
    EXPECT_TRUE(std::signbit(*s.mean));
}

}  // namespace
}  // namespace fhr_core::analysis
