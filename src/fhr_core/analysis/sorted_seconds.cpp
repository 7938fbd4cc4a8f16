#include "fhr_core/analysis/sorted_seconds.hpp"

#include <algorithm>
#include <bit>

#include "fhr_core/analysis/summary.hpp"

namespace fhr_core::analysis {

namespace {

bool before(double a, double b) { return total_order_key(a) < total_order_key(b); }
// Up to this many values that left or arrived are moved one by one.
constexpr std::size_t kFewChanges = 16;

bool same(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

}  // namespace

const std::vector<double>& SortedSeconds::of(std::span<const SecondSample> seconds, Field field) {
    next_.clear();
    for (const SecondSample& second : seconds) {
        if (const std::optional<double>& v = second.*field) next_.push_back(Entry{second.timestamp_ms, *v});
    }

    if (entries_.empty()) {  // the first call: nothing to carry over
        entries_.swap(next_);
        return sort_afresh();
    }

    // Both stretches are in time order: one walk finds the values that left
    // and those that arrived (a second present in both with other bits, an
    // edge second binned from fewer rows, counts as both).
    left_.clear();
    arrived_.clear();
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < entries_.size() || j < next_.size()) {
        if (j == next_.size() || (i < entries_.size() && entries_[i].second_ms < next_[j].second_ms)) {
            left_.push_back(entries_[i++].value);
        } else if (i == entries_.size() || next_[j].second_ms < entries_[i].second_ms) {
            arrived_.push_back(next_[j++].value);
        } else {
            if (!same(entries_[i].value, next_[j].value)) {
                left_.push_back(entries_[i].value);
                arrived_.push_back(next_[j].value);
            }
            ++i;
            ++j;
        }
    }
    entries_.swap(next_);

    // Mostly new: sorting afresh is cheaper.
    if (left_.size() + arrived_.size() >= entries_.size() / 2) return sort_afresh();
    const auto less = [](double a, double b) { return before(a, b); };
    if (left_.size() + arrived_.size() <= kFewChanges) {
        // A few values: each is found by binary search and moved in place.
        for (const double v : left_) {
            sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), v, less));
        }
        for (const double v : arrived_) {
            sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), v, less), v);
        }
        return sorted_;
    }
    sort_total_order(left_);
    sort_total_order(arrived_);
    // One pass drops the values that left (each an element of the list) and
    // merges in those that arrived.
    merged_.clear();
    std::size_t l = 0;
    std::size_t a = 0;
    for (const double v : sorted_) {
        if (l < left_.size() && same(v, left_[l])) {
            ++l;
            continue;
        }
        while (a < arrived_.size() && before(arrived_[a], v)) merged_.push_back(arrived_[a++]);
        merged_.push_back(v);
    }
    merged_.insert(merged_.end(), arrived_.begin() + static_cast<std::ptrdiff_t>(a), arrived_.end());
    sorted_.swap(merged_);
    return sorted_;
}

const std::vector<double>& SortedSeconds::sort_afresh() {
    sorted_.clear();
    for (const Entry& e : entries_) sorted_.push_back(e.value);
    sort_total_order(sorted_);
    return sorted_;
}

}  // namespace fhr_core::analysis
