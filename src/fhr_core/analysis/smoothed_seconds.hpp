// Smoothed values of a recording's seconds, kept from one window to the next.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fhr_core/analysis/series.hpp"

namespace fhr_core::analysis {

// The smoothed value of a second that depends only on seconds every window
// reading it holds whole (none of them a window's first or last second) is
// the same in each of these windows: with `recording_seconds` (see
// SortedSeconds) it is computed once and read back by the windows after.
// Without, every value is computed afresh.
class SmoothedSeconds {
public:
    explicit SmoothedSeconds(bool recording_seconds = false) : recording_seconds_(recording_seconds) {}

    bool shared() const { return recording_seconds_; }
    // Starts a stretch whose seconds begin at `first_ms`; values of earlier
    // seconds are dropped.
    void start(std::int64_t first_ms) {
        const auto kept = std::lower_bound(entries_.begin(), entries_.end(), first_ms,
                                           [](const Entry& e, std::int64_t value) { return e.second_ms < value; });
        cursor_ = static_cast<std::size_t>(kept - entries_.begin());
        if (cursor_ > entries_.size() / 2) {
            entries_.erase(entries_.begin(), kept);
            cursor_ = 0;
        }
    }
    // The values of seconds[from..to) (consecutive seconds of a stretch
    // started with start(), asked in time order), each handed to
    // `each(second_ms, value)`: the one computed before, or `compute(i)`.
    template <class Compute, class Each>
    void values(std::span<const SecondSample> seconds, std::size_t from, std::size_t to, Compute compute, Each each) {
        std::size_t i = from;
        while (i < to) {
            const std::int64_t second_ms = seconds[i].timestamp_ms;
            while (cursor_ < entries_.size() && entries_[cursor_].second_ms < second_ms) ++cursor_;
            if (cursor_ == entries_.size()) break;  // the rest is new
            if (entries_[cursor_].second_ms != second_ms) {
                each(second_ms, compute(i++));  // not kept: the list holds later seconds already
                continue;
            }
            // Kept entries are of distinct seconds in time order: when the
            // last of a run lines up with its second, so does every one.
            const std::size_t run = std::min(to - i, entries_.size() - cursor_);
            if (entries_[cursor_ + run - 1].second_ms == seconds[i + run - 1].timestamp_ms) {
                for (std::size_t k = 0; k < run; ++k) each(entries_[cursor_ + k].second_ms, entries_[cursor_ + k].value);
                cursor_ += run;
                i += run;
            } else {
                each(second_ms, entries_[cursor_++].value);
                ++i;
            }
        }
        if (i == to) return;
        for (; i < to; ++i) {
            const std::optional<double> v = compute(i);
            entries_.push_back(Entry{seconds[i].timestamp_ms, v});
            each(seconds[i].timestamp_ms, v);
        }
        cursor_ = entries_.size();
    }

private:
    struct Entry {
        std::int64_t second_ms;
        std::optional<double> value;
    };
    bool recording_seconds_ = false;
    std::vector<Entry> entries_;  // in time order; those before the stretch's start are passed
    std::size_t cursor_ = 0;
};

}  // namespace fhr_core::analysis
