// Sorted value lists of a window's seconds, carried from one window to the
// next.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fhr_core/analysis/series.hpp"

namespace fhr_core::analysis {

// The present values of one signal over a stretch of seconds, in IEEE 754
// total order. The list depends only on the values' multiset (equal in that
// order means equal bits), so when the stretch shares most of its seconds
// with the one of the previous call, only the seconds that left, arrived or
// changed are sorted and merged into the previous list.
class SortedSeconds {
public:
    using Field = std::optional<double> SecondSample::*;

    const std::vector<double>& of(std::span<const SecondSample> seconds, Field field);
    // The list of the last call.
    const std::vector<double>& values() const { return sorted_; }

private:
    const std::vector<double>& sort_afresh();  // sorted_ from entries_

    struct Entry {
        std::int64_t second_ms;
        double value;
    };
    std::vector<Entry> entries_;  // the previous stretch, in time order
    std::vector<double> sorted_;
    // Scratch lists kept for their capacity.
    std::vector<Entry> next_;
    std::vector<double> left_;
    std::vector<double> arrived_;
    std::vector<double> merged_;
};

// The sorted lists one window's measurements read; the driver keeps one set
// for the whole run.
struct WindowSorts {
    SortedSeconds baseline;           // fetal values of the current 10 minutes
    SortedSeconds previous_baseline;  // fetal values of the 10 minutes before
    SortedSeconds contraction_toco;   // TOCO values of the current 20 minutes
    SortedSeconds fetal;              // the whole window's values, for the features
    SortedSeconds maternal;
    SortedSeconds toco;
    // Whether the whole window is its current 10 (20) minutes, as measured
    // just before the features: they then read the baseline's (contraction)
    // list of this window.
    bool window_is_current_10_min = false;
    bool window_is_current_20_min = false;
};

}  // namespace fhr_core::analysis
