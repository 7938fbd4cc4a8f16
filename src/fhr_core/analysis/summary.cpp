#include "fhr_core/analysis/summary.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace fhr_core::analysis {

namespace {

constexpr double kP05 = 0.05;
constexpr double kMedian = 0.5;
constexpr double kP95 = 0.95;
constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

// An unsigned integer that orders like the IEEE 754 total order of the
// double: negative values are inverted so that larger magnitudes come first,
// non-negative ones get the top bit set so that they follow every negative
// one. This puts -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
std::uint64_t total_order_key(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return (bits & kSignBit) != 0 ? ~bits : bits | kSignBit;
}

double from_total_order_key(std::uint64_t key) {
    return std::bit_cast<double>((key & kSignBit) != 0 ? key & ~kSignBit : ~key);
}

}  // namespace

// Two doubles with equal keys have identical bits, so any ordering of equal
// keys yields the same list: sorting the keys without stability gives exactly
// the result of a stable sort, and integer keys sort quickly.
void sort_total_order(std::vector<double>& values) {
    if (values.size() < 2) return;
    std::vector<std::uint64_t> keys(values.size());
    std::transform(values.begin(), values.end(), keys.begin(), total_order_key);
    std::sort(keys.begin(), keys.end());
    std::transform(keys.begin(), keys.end(), values.begin(), from_total_order_key);
}

std::size_t quantile_index(std::size_t n, double q) {
    const std::size_t last = n - 1;
    const double position = std::round(static_cast<double>(last) * q);
    // Negative or NaN positions clamp to the first element, anything past the
    // end to the last, so the conversion below is always in range.
    if (!(position > 0.0)) return 0;
    if (position >= static_cast<double>(last)) return last;
    return static_cast<std::size_t>(position);
}

double quantile(const std::vector<double>& sorted, double q) {
    return sorted[quantile_index(sorted.size(), q)];
}

ValueSummary summarize_values(std::vector<double>& values) {
    ValueSummary summary;
    if (values.empty()) return summary;
    sort_total_order(values);

    const auto n = static_cast<double>(values.size());
    double sum = -0.0;
    for (const double v : values) sum += v;
    const double mean = sum / n;

    double squares = 0.0;
    for (const double v : values) {
        const double deviation = v - mean;
        squares += deviation * deviation;
    }

    summary.min = values.front();
    summary.p05 = quantile(values, kP05);
    summary.mean = mean;
    summary.median = quantile(values, kMedian);
    summary.p95 = quantile(values, kP95);
    summary.max = values.back();
    summary.std_dev = std::sqrt(squares / n);
    return summary;
}

}  // namespace fhr_core::analysis
