#include "fhr_core/analysis/sinusoidal.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <optional>
#include <vector>

#include "fhr_core/analysis/summary.hpp"

namespace fhr_core::analysis {

namespace {

constexpr std::size_t kMinSpectralValues = 300;
constexpr double kAmplitudeLowQuantile = 0.05;
constexpr double kAmplitudeHighQuantile = 0.95;
constexpr double kMinAmplitudeBpm = 10.0;
constexpr double kMaxAmplitudeBpm = 30.0;
// Mean step between neighbours relative to half the amplitude: a smooth wave
// of a few cycles per minute moves little from one value to the next.
constexpr double kMaxRoughness = 0.45;
constexpr double kHalf = 0.5;

// Trial frequencies in cycles per 60 values: 1.0, 1.25, ... 8.0.
constexpr std::size_t kFrequencyCount = 29;
constexpr double kFirstFrequency = 1.0;
constexpr double kFrequencyStep = 0.25;
constexpr double kValuesPerCycleUnit = 60.0;
constexpr double kBandLow = 3.0;
constexpr double kBandHigh = 5.0;

// The window test.
constexpr double kMinPresentFraction = 0.9;
constexpr std::size_t kMaxMissingRun = 5;
constexpr std::size_t kMinFilledValues = 1200;
constexpr std::size_t kSmoothingReach = 2;  // centred 5-point moving average
constexpr double kWholeSegmentThreshold = 0.55;
constexpr double kBlockThreshold = 0.45;
constexpr std::size_t kBlockLength = 300;
constexpr std::size_t kBlockCount = 4;

double trial_frequency(std::size_t k) {
    return kFirstFrequency + kFrequencyStep * static_cast<double>(k);
}

double angular_step(double frequency) {
    return frequency * 2.0 * std::numbers::pi / kValuesPerCycleUnit;
}

// cos(omega * i) and sin(omega * i) of every trial frequency for the indices
// of a 20-minute segment, computed once with the same calls the sums would
// make, so the values are identical; longer inputs compute the rest on the fly.
struct TrigTable {
    static constexpr std::size_t kLength = 1201;
    std::vector<double> cosines;  // [frequency][index]
    std::vector<double> sines;

    TrigTable() : cosines(kFrequencyCount * kLength), sines(kFrequencyCount * kLength) {
        for (std::size_t k = 0; k < kFrequencyCount; ++k) {
            const double omega = angular_step(trial_frequency(k));
            for (std::size_t i = 0; i < kLength; ++i) {
                const double angle = omega * static_cast<double>(i);
                cosines[k * kLength + i] = std::cos(angle);
                sines[k * kLength + i] = std::sin(angle);
            }
        }
    }
};

const TrigTable& trig_table() {
    static const TrigTable table;
    return table;
}

}  // namespace

namespace detail {

bool sinusoidal_like_values(std::span<const double> values, double threshold) {
    const std::size_t n = values.size();
    if (n < kMinSpectralValues) return false;

    std::vector<double> copy(values.begin(), values.end());
    const double high = select_quantile(copy, kAmplitudeHighQuantile);
    const double amplitude = high - select_quantile(copy, kAmplitudeLowQuantile);
    if (!(amplitude >= kMinAmplitudeBpm && amplitude <= kMaxAmplitudeBpm)) return false;

    double path = 0.0;
    for (std::size_t i = 1; i < n; ++i) path += std::abs(values[i] - values[i - 1]);
    const double roughness = path / static_cast<double>(n - 1) / (amplitude * kHalf);
    if (roughness > kMaxRoughness) return false;

    double sum = 0.0;
    for (const double v : values) sum += v;
    const double mean = sum / static_cast<double>(n);
    std::vector<double>& centred = copy;  // reuse the scratch list
    for (std::size_t i = 0; i < n; ++i) centred[i] = values[i] - mean;

    const TrigTable& table = trig_table();
    const std::size_t tabulated = std::min(n, TrigTable::kLength);
    double total_power = 0.0;
    double band_power = 0.0;
    double peak_frequency = 0.0;
    double peak_power = 0.0;
    for (std::size_t k = 0; k < kFrequencyCount; ++k) {
        const double frequency = trial_frequency(k);
        const double* cosines = table.cosines.data() + k * TrigTable::kLength;
        const double* sines = table.sines.data() + k * TrigTable::kLength;
        double c = 0.0;
        double s = 0.0;
        for (std::size_t i = 0; i < tabulated; ++i) {
            c += centred[i] * cosines[i];
            s += centred[i] * sines[i];
        }
        if (tabulated < n) {
            const double omega = angular_step(frequency);
            for (std::size_t i = tabulated; i < n; ++i) {
                const double angle = omega * static_cast<double>(i);
                c += centred[i] * std::cos(angle);
                s += centred[i] * std::sin(angle);
            }
        }
        const double power = c * c + s * s;
        total_power += power;
        if (frequency >= kBandLow && frequency <= kBandHigh) {
            band_power += power;
            if (power > peak_power) {
                peak_power = power;
                peak_frequency = frequency;
            }
        }
    }

    return total_power > 0.0 && band_power / total_power >= threshold &&
           peak_frequency >= kBandLow && peak_frequency <= kBandHigh;
}

std::vector<double> fill_gaps(std::span<const std::optional<double>> values) {
    const std::size_t n = values.size();
    const auto first_present = std::find_if(values.begin(), values.end(),
                                            [](const std::optional<double>& v) { return v.has_value(); });
    if (first_present == values.end()) return {};

    std::vector<double> filled(n);
    for (std::size_t i = 0; i < n;) {
        if (values[i]) {
            filled[i] = *values[i];
            ++i;
            continue;
        }
        std::size_t q = i;  // first present index after the gap, or n
        while (q < n && !values[q]) ++q;
        if (i == 0) {
            const double value = *values[q];
            for (; i < q; ++i) filled[i] = value;
        } else if (q == n) {
            const double value = *values[i - 1];
            for (; i < q; ++i) filled[i] = value;
        } else {
            const std::size_t p = i - 1;
            const double vp = *values[p];
            const double vq = *values[q];
            for (; i < q; ++i) {
                filled[i] = vp + (vq - vp) * static_cast<double>(i - p) / static_cast<double>(q - p);
            }
        }
    }
    return filled;
}

std::vector<double> centred_moving_average(std::span<const double> values) {
    const std::size_t n = values.size();
    std::vector<double> smoothed(n);
    const auto at_edge = [&](std::size_t i) {
        const std::size_t lo = i >= kSmoothingReach ? i - kSmoothingReach : 0;
        const std::size_t hi = std::min(n - 1, i + kSmoothingReach);
        double sum = 0.0;
        for (std::size_t j = lo; j <= hi; ++j) sum += values[j];
        smoothed[i] = sum / static_cast<double>(hi - lo + 1);
    };
    // Away from the ends every average has all its points: the same sums, in
    // the same order, with a fixed count the compiler can lay out flat.
    constexpr std::size_t kPoints = 2 * kSmoothingReach + 1;
    const std::size_t inner_end = n > kSmoothingReach ? n - kSmoothingReach : 0;
    std::size_t i = 0;
    for (; i < std::min(kSmoothingReach, n); ++i) at_edge(i);
    for (; i < inner_end; ++i) {
        double sum = 0.0;
        for (std::size_t j = 0; j < kPoints; ++j) sum += values[i - kSmoothingReach + j];
        smoothed[i] = sum / static_cast<double>(kPoints);
    }
    for (; i < n; ++i) at_edge(i);
    return smoothed;
}

}  // namespace detail

bool detect_sinusoidal_pattern(SeriesView series, const WindowSpans& spans) {
    if (!spans.at_least_20_min) return false;
    const std::span<const SecondSample> segment = seconds_within(series, spans.current_20_min);
    if (segment.empty()) return false;

    std::size_t present = 0;
    std::size_t missing_run = 0;
    std::size_t longest_missing_run = 0;
    for (const SecondSample& second : segment) {
        if (second.fetal_bpm) {
            ++present;
            missing_run = 0;
        } else {
            longest_missing_run = std::max(longest_missing_run, ++missing_run);
        }
    }
    if (static_cast<double>(present) / static_cast<double>(segment.size()) < kMinPresentFraction) {
        return false;
    }
    if (longest_missing_run > kMaxMissingRun) return false;

    // Only a segment passing both tests has its values copied out.
    std::vector<std::optional<double>> fetal(segment.size());
    for (std::size_t i = 0; i < segment.size(); ++i) fetal[i] = segment[i].fetal_bpm;
    const std::vector<double> filled = detail::fill_gaps(fetal);
    if (filled.size() < kMinFilledValues) return false;
    const std::vector<double> smoothed = detail::centred_moving_average(filled);

    if (!detail::sinusoidal_like_values(smoothed, kWholeSegmentThreshold)) return false;
    const std::span<const double> all(smoothed);
    for (std::size_t b = 0; b < kBlockCount; ++b) {
        if (!detail::sinusoidal_like_values(all.subspan(b * kBlockLength, kBlockLength), kBlockThreshold)) {
            return false;
        }
    }
    return true;
}

}  // namespace fhr_core::analysis
