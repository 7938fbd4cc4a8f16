// Value summaries, the quantile index rule and the sorting of value lists.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace fhr_core::analysis {

struct ValueSummary {
    std::optional<double> min;
    std::optional<double> p05;
    std::optional<double> mean;
    std::optional<double> median;
    std::optional<double> p95;
    std::optional<double> max;
    std::optional<double> std_dev;
};

inline constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

// An unsigned integer that orders like the IEEE 754 total order of the
// double; equal keys are equal bits. Negative values are inverted so that
// larger magnitudes come first, non-negative ones get the top bit set so that
// they follow every negative one: -NaN < -inf < ... < -0 < +0 < ... < +NaN.
// Both flip the bits under a mask made from the sign without a branch: all of
// them for a negative value (a key below kSignBit), the sign alone otherwise.
inline std::uint64_t total_order_key(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return bits ^ (static_cast<std::uint64_t>(std::bit_cast<std::int64_t>(bits) >> 63) | kSignBit);
}

// The double whose total_order_key is `key`.
inline double from_total_order_key(std::uint64_t key) {
    return std::bit_cast<double>(key ^ (~static_cast<std::uint64_t>(std::bit_cast<std::int64_t>(key) >> 63) | kSignBit));
}

// Stable ascending sort by IEEE 754 total order.
void sort_total_order(std::vector<double>& values);
// Ascending sort of total_order_key values.
void sort_keys(std::vector<std::uint64_t>& keys);

// Element at quantile q of an ascending, non-empty list.
double quantile(const std::vector<double>& sorted, double q);

// The element at quantile q of a non-empty list, found by selection instead of
// a full sort: the same value the sorted list holds at that index. Reorders
// `values`; several quantiles may be selected from the same list in turn.
double select_quantile(std::vector<double>& values, double q);

// Sorts `values` in place and summarizes them; all fields absent when empty.
ValueSummary summarize_values(std::vector<double>& values);

// The mean of values already in ascending total order, summed in that
// order; absent when empty.
std::optional<double> mean_of_sorted(const std::vector<double>& values);

// Summarizes values already in ascending total order.
ValueSummary summarize_sorted(const std::vector<double>& values);

namespace detail {

// min(n - 1, round((n - 1) * q)), halves away from zero. n must be positive.
std::size_t quantile_index(std::size_t n, double q);

}  // namespace detail

}  // namespace fhr_core::analysis
