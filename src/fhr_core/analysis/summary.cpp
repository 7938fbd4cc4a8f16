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

// Below this size a comparison sort is as fast as the radix passes.
constexpr std::size_t kRadixSortMin = 64;
constexpr int kDigitBits = 8;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;

// Least-significant-digit radix sort of the keys, one byte per pass. All
// eight byte histograms are counted in one read of the keys, and passes whose
// byte is the same in every key are skipped: heart-rate and TOCO values share
// their sign and exponent bytes, so at most six passes run and often fewer.
void radix_sort(std::vector<std::uint64_t>& keys) {
    constexpr int kDigits = 64 / kDigitBits;
    std::vector<std::size_t> counts(kDigits * kBuckets, 0);
    for (const std::uint64_t key : keys) {
        for (int d = 0; d < kDigits; ++d) ++counts[d * kBuckets + ((key >> (d * kDigitBits)) & (kBuckets - 1))];
    }
    std::vector<std::uint64_t> scratch(keys.size());
    for (int d = 0; d < kDigits; ++d) {
        const int shift = d * kDigitBits;
        std::size_t* const count = counts.data() + d * kBuckets;
        if (count[(keys.front() >> shift) & (kBuckets - 1)] == keys.size()) continue;
        std::size_t offset = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) {
            const std::size_t here = count[b];
            count[b] = offset;
            offset += here;
        }
        for (const std::uint64_t key : keys) scratch[count[(key >> shift) & (kBuckets - 1)]++] = key;
        keys.swap(scratch);
    }
}

}  // namespace

void sort_keys(std::vector<std::uint64_t>& keys) {
    if (keys.size() < kRadixSortMin) {
        std::sort(keys.begin(), keys.end());
    } else {
        radix_sort(keys);
    }
}

// Two doubles with equal keys have identical bits, so any ordering of equal
// keys yields the same list: sorting the keys without stability gives exactly
// the result of a stable sort, and integer keys sort quickly.
void sort_total_order(std::vector<double>& values) {
    if (values.size() < 2) return;
    std::vector<std::uint64_t> keys(values.size());
    std::transform(values.begin(), values.end(), keys.begin(), total_order_key);
    sort_keys(keys);
    std::transform(keys.begin(), keys.end(), values.begin(), from_total_order_key);
}

std::size_t detail::quantile_index(std::size_t n, double q) {
    const std::size_t last = n - 1;
    const double position = std::round(static_cast<double>(last) * q);
    // Negative or NaN positions clamp to the first element, anything past the
    // end to the last, so the conversion below is always in range.
    if (!(position > 0.0)) return 0;
    if (position >= static_cast<double>(last)) return last;
    return static_cast<std::size_t>(position);
}

double quantile(const std::vector<double>& sorted, double q) {
    return sorted[detail::quantile_index(sorted.size(), q)];
}

double select_quantile(std::vector<double>& values, double q) {
    const auto nth = values.begin() + static_cast<std::ptrdiff_t>(detail::quantile_index(values.size(), q));
    // Without NaNs and zeros, < is the total order and values it finds equal
    // have equal bits: the plain comparison selects the same element.
    const bool plain = std::none_of(values.begin(), values.end(), [](double v) { return !(v < 0.0 || v > 0.0); });
    if (plain) {
        std::nth_element(values.begin(), nth, values.end());
    } else {
        std::nth_element(values.begin(), nth, values.end(),
                         [](double a, double b) { return total_order_key(a) < total_order_key(b); });
    }
    return *nth;
}

ValueSummary summarize_values(std::vector<double>& values) {
    sort_total_order(values);
    return summarize_sorted(values);
}

std::optional<double> mean_of_sorted(const std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    double sum = -0.0;
    for (const double v : values) sum += v;
    return sum / static_cast<double>(values.size());
}

ValueSummary summarize_sorted(const std::vector<double>& values) {
    ValueSummary summary;
    if (values.empty()) return summary;

    const auto n = static_cast<double>(values.size());
    const double mean = *mean_of_sorted(values);

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
