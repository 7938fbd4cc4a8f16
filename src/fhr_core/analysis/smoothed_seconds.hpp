// Smoothed values of a recording's seconds, kept from one window to the next.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

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
    // The value of the second at `second_ms` (seconds asked in time order
    // within a stretch): the one computed before, or `compute()`.
    template <class Compute>
    std::optional<double> value(std::int64_t second_ms, Compute compute) {
        // Mostly the next second kept: the later seconds are asked after it.
        if (cursor_ < entries_.size() && entries_[cursor_].second_ms == second_ms) return entries_[cursor_++].value;
        while (cursor_ < entries_.size() && entries_[cursor_].second_ms < second_ms) ++cursor_;
        if (cursor_ < entries_.size()) {
            if (entries_[cursor_].second_ms == second_ms) return entries_[cursor_].value;
            return compute();  // not kept: the list holds later seconds already
        }
        const std::optional<double> v = compute();
        entries_.push_back(Entry{second_ms, v});
        cursor_ = entries_.size();
        return v;
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
