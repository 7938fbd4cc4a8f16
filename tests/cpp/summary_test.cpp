// Value lists: the total order, quantiles and summaries.
#include "fhr_core/analysis/summary.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace fhr_core::analysis {
namespace {

// round(n - 1) * q, halves away from zero, clamped to the list.
TEST(ValueSummary, QuantileIndex) {
    const struct {
        std::size_t n;
        double q;
        std::size_t expected;
    } cases[] = {{4, 0.05, 0}, {4, 0.5, 2},  {4, 0.95, 3},  {1, 0.5, 0},   {2, 0.5, 1},  {3, 0.5, 1},
                 {11, 0.05, 1}, {10, 0.05, 0}, {60, 0.95, 56}, {60, 0.05, 3}, {30, 0.95, 28}, {30, 0.05, 1},
                 {5, 0.2, 1},  {5, 1.0, 4},  {5, 1.5, 4},   {5, -0.5, 0}};
    for (const auto& c : cases) EXPECT_EQ(detail::quantile_index(c.n, c.q), c.expected) << c.n << " " << c.q;
}

TEST(ValueSummary, RadixAndComparisonSortsAgreeWithTotalOrder) {
    // Long enough for the radix path, with every awkward value of the order.
    std::vector<double> values;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double specials[] = {nan, -nan, INFINITY, -INFINITY, 0.0, -0.0, 1e-310, -1e-310, 140.0, 140.0 / 3.0};
    for (int i = 0; i < 200; ++i) values.push_back(specials[i % 10] * (i % 3 == 0 ? 1.0 : -1.0) + (i % 7) * 0.25);
    for (const std::size_t n : {std::size_t{10}, std::size_t{63}, std::size_t{64}, std::size_t{200}}) {
        std::vector<double> part(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
        std::vector<double> want(part);
        std::stable_sort(want.begin(), want.end(), [](double a, double b) {
            const auto key = [](double v) {
                const auto bits = std::bit_cast<std::uint64_t>(v);
                return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
            };
            return key(a) < key(b);
        });
        sort_total_order(part);
        ASSERT_EQ(part.size(), want.size());
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(part[i]), std::bit_cast<std::uint64_t>(want[i])) << n << " " << i;
        }
        // Selection gives the element the sorted list holds at the quantile index.
        for (const double q : {0.0, 0.05, 0.2, 0.5, 0.9, 0.95, 1.0}) {
            std::vector<double> scratch(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
            const double selected = select_quantile(scratch, q);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(selected),
                      std::bit_cast<std::uint64_t>(want[detail::quantile_index(n, q)]))
                << n << " q=" << q;
        }
    }
}

TEST(ValueSummary, Summarize) {
    const struct {
        std::vector<double> values;
        double min, p05, mean, median, p95, max, std_dev;
    } cases[] = {
        {{150, 130}, 130, 130, 140, 150, 150, 150, 10},  // the upper middle
        // Summed in ascending order: -1e16 + 1 + 1 + 1e16 == 0; input order gives 1.
        {{1e16, 1.0, -1e16, 1.0}, -1e16, -1e16, 0.0, 1.0, 1e16, 1e16, std::sqrt((1e16 * 1e16 + 2 + 1e16 * 1e16) / 4)},
    };
    for (const auto& c : cases) {
        std::vector<double> values = c.values;
        const ValueSummary s = summarize_values(values);
        EXPECT_EQ(std::vector({*s.min, *s.p05, *s.mean, *s.median, *s.p95, *s.max, *s.std_dev}),
                  std::vector({c.min, c.p05, c.mean, c.median, c.p95, c.max, c.std_dev}));
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    }
    std::vector<double> empty;
    const ValueSummary none = summarize_values(empty);
    EXPECT_FALSE(none.min || none.p05 || none.mean || none.median || none.p95 || none.max || none.std_dev);
    // The sum starts from -0.0, so a list of negative zeros has mean -0.0.
    std::vector<double> zeros = {-0.0, -0.0};
    EXPECT_TRUE(std::signbit(*summarize_values(zeros).mean));
}

}  // namespace
}  // namespace fhr_core::analysis
