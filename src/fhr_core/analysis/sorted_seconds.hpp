// Sorted value lists of a window's seconds, carried from one window to the
// next.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fhr_core/analysis/chunk_amplitudes.hpp"
#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/smoothed_seconds.hpp"

namespace fhr_core::analysis {

// The present values of one signal over a stretch of seconds, in IEEE 754
// total order. The list depends only on the values' multiset (equal in that
// order means equal bits), so when the stretch shares most of its seconds
// with the one of the previous call, only the seconds that left, arrived or
// changed are sorted and merged into the previous list.
class SortedSeconds {
public:
    using Field = std::optional<double> SecondSample::*;

    // `recording_seconds`: every stretch is read from a recording's seconds
    // as windows in order see them (RecordingSeconds), where a second keeps
    // its value from window to window unless it is the first or last second
    // of one of the windows. Two stretches of such windows can then differ,
    // within their common seconds, only at the first or last of these, and
    // only those are compared.
    explicit SortedSeconds(bool recording_seconds = false) : recording_seconds_(recording_seconds) {}

    const std::vector<double>& of(std::span<const SecondSample> seconds, Field field);
    // The list of the last call.
    const std::vector<double>& values() const { return sorted_; }

private:
    // Finds what left and arrived by walking both stretches whole; without
    // `find_changes` (a first call, sorted afresh) only takes the values.
    void compare_all(std::span<const SecondSample> seconds, Field field, bool find_changes);
    // The same for recording seconds whose stretch starts and ends no
    // earlier than the previous one and shares seconds with it.
    void compare_ends(std::span<const SecondSample> seconds, Field field);
    // Folds left_ and arrived_ into sorted_.
    const std::vector<double>& update();
    const std::vector<double>& sort_afresh();  // sorted_ from entries_
    // The seconds that arrived at the end of a stretch, but its last one
    // (which the next window may bin again), are kept sorted as a batch: when
    // they leave with the same values, their sorted keys are taken again.
    // Finds a batch among the values that left, entries_[from, head_) (left_
    // holding their keys from its start).
    void find_batch(std::size_t from, std::int64_t first_ms);
    // Puts left_ and arrived_ in order, keeping the batch that arrived.
    void sort_changes();

    struct Entry {
        std::int64_t second_ms;
        double value;
    };
    bool recording_seconds_ = false;
    bool called_ = false;
    std::int64_t first_ms_ = 0;  // the previous stretch's first and last seconds
    std::int64_t last_ms_ = 0;
    std::vector<Entry> entries_;  // the previous stretch's values from head_ on, in time order
    std::size_t head_ = 0;
    std::vector<double> sorted_;
    // Scratch lists kept for their capacity; left_ and arrived_ hold the
    // total_order_key of each value.
    std::vector<Entry> next_;
    std::vector<std::uint64_t> left_;
    std::vector<std::uint64_t> arrived_;
    std::vector<double> merged_;
    std::vector<std::uint64_t> ordered_;

    struct Batch {
        std::int64_t first_ms = 0;  // its first and last seconds
        std::int64_t last_ms = 0;
        std::vector<std::uint64_t> in_time;  // its keys in time order
        std::vector<std::uint64_t> sorted;
    };
    std::vector<Batch> batches_;
    std::size_t next_batch_ = 0;  // the one replaced when none has left
    // Of the last compare_ends: left_[left_from_, left_to_) are the keys of
    // batches_[leaving_] (none: batches_.size()); arrived_[arrived_from_,
    // arrived_to_) those of the seconds arrived_first_ms_ to
    // arrived_last_ms_ (none: an empty range).
    std::size_t leaving_ = 0;
    std::size_t left_from_ = 0;
    std::size_t left_to_ = 0;
    std::size_t arrived_from_ = 0;
    std::size_t arrived_to_ = 0;
    std::int64_t arrived_first_ms_ = 0;
    std::int64_t arrived_last_ms_ = 0;
};

// The sorted lists one window's measurements read; the driver keeps one set
// for the whole run.
struct WindowSorts {
    // See SortedSeconds: whether the windows' seconds are a recording's.
    explicit WindowSorts(bool recording_seconds = false)
        : baseline(recording_seconds), previous_baseline(recording_seconds), contraction_toco(recording_seconds),
          fetal(recording_seconds), maternal(recording_seconds), toco(recording_seconds),
          contraction_smoothing(recording_seconds), variability_chunks(recording_seconds) {}

    SortedSeconds baseline;           // fetal values of the current 10 minutes
    SortedSeconds previous_baseline;  // fetal values of the 10 minutes before
    SortedSeconds contraction_toco;   // TOCO values of the current 20 minutes
    SortedSeconds fetal;              // the whole window's values, for the features
    SortedSeconds maternal;
    SortedSeconds toco;
    SmoothedSeconds contraction_smoothing;  // the smoothed TOCO of the current 20 minutes
    ChunkAmplitudes variability_chunks;     // of the current 10 minutes and the 10 before
    // Whether the whole window is its current 10 (20) minutes, as measured
    // just before the features: they then read the baseline's (contraction)
    // list of this window.
    bool window_is_current_10_min = false;
    bool window_is_current_20_min = false;
};

}  // namespace fhr_core::analysis
