#include "fhr_core/analysis/sorted_seconds.hpp"

#include <algorithm>
#include <bit>

#include "fhr_core/analysis/summary.hpp"

namespace fhr_core::analysis {

namespace {

// Up to this many values that left or arrived are moved one by one.
constexpr std::size_t kFewChanges = 16;
// Batches of more values than kFewChanges are kept, this many at most.
constexpr std::size_t kBatchesKept = 32;
// Up to this many keys beside a batch are put in its order one by one.
constexpr std::size_t kFewBesideBatch = 8;

bool same(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// Puts `keys` in order, given that keys[from, to) in order are `sorted`.
void order_around(std::vector<std::uint64_t>& keys, std::size_t from, std::size_t to,
                  const std::vector<std::uint64_t>& sorted, std::vector<std::uint64_t>& scratch) {
    scratch.assign(sorted.begin(), sorted.end());
    scratch.insert(scratch.end(), keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(from));
    scratch.insert(scratch.end(), keys.begin() + static_cast<std::ptrdiff_t>(to), keys.end());
    const auto beside = scratch.begin() + static_cast<std::ptrdiff_t>(sorted.size());
    if (static_cast<std::size_t>(scratch.end() - beside) <= kFewBesideBatch) {
        for (auto it = beside; it != scratch.end(); ++it) std::rotate(std::upper_bound(scratch.begin(), it, *it), it, it + 1);
    } else {
        sort_keys(scratch);
    }
    keys.swap(scratch);
}

}  // namespace

const std::vector<double>& SortedSeconds::of(std::span<const SecondSample> seconds, Field field) {
    if (seconds.empty()) {  // nothing to carry to the next call
        called_ = false;
        entries_.clear();
        head_ = 0;
        sorted_.clear();
        return sorted_;
    }
    const std::int64_t first_ms = seconds.front().timestamp_ms;
    const std::int64_t last_ms = seconds.back().timestamp_ms;
    const bool first_call = !called_;
    leaving_ = batches_.size();
    arrived_from_ = arrived_to_ = 0;
    if (first_call || !recording_seconds_ || first_ms < first_ms_ || last_ms < last_ms_ || first_ms > last_ms_) {
        compare_all(seconds, field, !first_call);
    } else {
        compare_ends(seconds, field);
    }
    called_ = true;
    first_ms_ = first_ms;
    last_ms_ = last_ms;
    if (head_ > entries_.size() / 2) {
        entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    return first_call ? sort_afresh() : update();
}

void SortedSeconds::find_batch(std::size_t from, std::int64_t first_ms) {
    if (from == head_) return;
    const auto begin = entries_.begin() + static_cast<std::ptrdiff_t>(from);
    const auto end = entries_.begin() + static_cast<std::ptrdiff_t>(head_);
    const auto before = [](const Entry& e, std::int64_t ms) { return e.second_ms < ms; };
    const auto after = [](std::int64_t ms, const Entry& e) { return ms < e.second_ms; };
    for (std::size_t b = 0; b < batches_.size(); ++b) {
        const Batch& batch = batches_[b];
        if (batch.first_ms < begin->second_ms || batch.last_ms >= first_ms) continue;
        const auto batch_begin = std::lower_bound(begin, end, batch.first_ms, before);
        const auto batch_end = std::upper_bound(batch_begin, end, batch.last_ms, after);
        const auto at = static_cast<std::size_t>(batch_begin - begin);
        const auto count = static_cast<std::size_t>(batch_end - batch_begin);
        // The same values in the same order: the same sorted keys.
        if (count == batch.in_time.size() &&
            std::equal(batch.in_time.begin(), batch.in_time.end(), left_.begin() + static_cast<std::ptrdiff_t>(at))) {
            leaving_ = b;
            left_from_ = at;
            left_to_ = at + count;
            return;
        }
    }
}

void SortedSeconds::sort_changes() {
    if (leaving_ < batches_.size()) {
        order_around(left_, left_from_, left_to_, batches_[leaving_].sorted, ordered_);
    } else {
        sort_keys(left_);
    }
    if (arrived_from_ == arrived_to_) {
        sort_keys(arrived_);
        return;
    }
    // Kept in place of a batch whose seconds have all left, else of the
    // oldest one.
    std::size_t slot = 0;
    while (slot < batches_.size() && batches_[slot].last_ms >= first_ms_) ++slot;
    if (slot == batches_.size()) {
        if (batches_.size() < kBatchesKept) {
            batches_.emplace_back();
        } else {
            slot = next_batch_;
            next_batch_ = (next_batch_ + 1) % kBatchesKept;
        }
    }
    Batch& batch = batches_[slot];
    batch.first_ms = arrived_first_ms_;
    batch.last_ms = arrived_last_ms_;
    batch.in_time.assign(arrived_.begin() + static_cast<std::ptrdiff_t>(arrived_from_),
                         arrived_.begin() + static_cast<std::ptrdiff_t>(arrived_to_));
    batch.sorted = batch.in_time;
    sort_keys(batch.sorted);
    order_around(arrived_, arrived_from_, arrived_to_, batch.sorted, ordered_);
}

void SortedSeconds::compare_all(std::span<const SecondSample> seconds, Field field, bool find_changes) {
    next_.clear();
    next_.reserve(seconds.size());
    for (const SecondSample& second : seconds) {
        if (const std::optional<double>& v = second.*field) next_.push_back(Entry{second.timestamp_ms, *v});
    }
    if (!find_changes) {
        entries_.swap(next_);
        head_ = 0;
        return;
    }
    // Both stretches are in time order: one walk finds the values that left
    // and those that arrived (a second present in both with other bits, an
    // edge second binned from fewer rows, counts as both).
    left_.clear();
    arrived_.clear();
    std::size_t i = head_;
    std::size_t j = 0;
    while (i < entries_.size() || j < next_.size()) {
        if (j == next_.size() || (i < entries_.size() && entries_[i].second_ms < next_[j].second_ms)) {
            left_.push_back(total_order_key(entries_[i++].value));
        } else if (i == entries_.size() || next_[j].second_ms < entries_[i].second_ms) {
            arrived_.push_back(total_order_key(next_[j++].value));
        } else {
            if (!same(entries_[i].value, next_[j].value)) {
                left_.push_back(total_order_key(entries_[i].value));
                arrived_.push_back(total_order_key(next_[j].value));
            }
            ++i;
            ++j;
        }
    }
    entries_.swap(next_);
    head_ = 0;
}

void SortedSeconds::compare_ends(std::span<const SecondSample> seconds, Field field) {
    left_.clear();
    arrived_.clear();
    const std::int64_t first_ms = seconds.front().timestamp_ms;
    // The seconds before the new stretch left.
    const std::size_t left_from = head_;
    while (head_ < entries_.size() && entries_[head_].second_ms < first_ms) left_.push_back(total_order_key(entries_[head_++].value));
    find_batch(left_from, first_ms);
    // The common seconds are seconds[0, common); the rest arrived.
    const auto common = static_cast<std::size_t>(
        std::upper_bound(seconds.begin(), seconds.end(), last_ms_,
                         [](std::int64_t value, const SecondSample& s) { return value < s.timestamp_ms; }) -
        seconds.begin());
    // The first common second, against the previous value it had.
    const std::optional<double>& first = seconds.front().*field;
    const bool had_first = head_ < entries_.size() && entries_[head_].second_ms == first_ms;
    if (had_first && !(first && same(*first, entries_[head_].value))) {
        left_.push_back(total_order_key(entries_[head_].value));
        if (first) {
            arrived_.push_back(total_order_key(*first));
            entries_[head_].value = *first;
        } else {
            ++head_;
        }
    } else if (!had_first && first) {
        arrived_.push_back(total_order_key(*first));
        if (head_ > 0) {
            entries_[--head_] = Entry{first_ms, *first};
        } else {
            entries_.insert(entries_.begin(), Entry{first_ms, *first});
        }
    }
    // The last common second, when it is another one.
    if (common > 1) {
        const SecondSample& second = seconds[common - 1];
        const std::optional<double>& last = second.*field;
        const bool had_last = entries_.size() > head_ && entries_.back().second_ms == second.timestamp_ms;
        if (had_last && !(last && same(*last, entries_.back().value))) {
            left_.push_back(total_order_key(entries_.back().value));
            if (last) {
                arrived_.push_back(total_order_key(*last));
                entries_.back().value = *last;
            } else {
                entries_.pop_back();
            }
        } else if (!had_last && last) {
            arrived_.push_back(total_order_key(*last));
            entries_.push_back(Entry{second.timestamp_ms, *last});
        }
    }
    const std::size_t tail_from = arrived_.size();
    for (const SecondSample& second : seconds.subspan(common)) {
        if (const std::optional<double>& v = second.*field) {
            arrived_.push_back(total_order_key(*v));
            entries_.push_back(Entry{second.timestamp_ms, *v});
        }
    }
    // The batch: the seconds that arrived but the last.
    if (common + 1 < seconds.size()) {
        const std::size_t tail_to = arrived_.size() - ((seconds.back().*field) ? 1 : 0);
        if (tail_to - tail_from > kFewChanges) {
            arrived_from_ = tail_from;
            arrived_to_ = tail_to;
            arrived_first_ms_ = seconds[common].timestamp_ms;
            arrived_last_ms_ = seconds[seconds.size() - 2].timestamp_ms;
        }
    }
}

const std::vector<double>& SortedSeconds::update() {
    // Mostly new: sorting afresh is cheaper.
    if (left_.size() + arrived_.size() >= (entries_.size() - head_) / 2) return sort_afresh();
    const auto key_less = [](double a, std::uint64_t k) { return total_order_key(a) < k; };
    const auto less_key = [](std::uint64_t k, double a) { return k < total_order_key(a); };
    if (left_.size() + arrived_.size() <= kFewChanges) {
        // A few values: each is found by binary search and moved in place. A
        // value that left and one that arrived are swapped in one move of the
        // values between their places.
        const std::size_t pairs = std::min(left_.size(), arrived_.size());
        for (std::size_t k = 0; k < pairs; ++k) {
            const double v = from_total_order_key(arrived_[k]);
            const auto gone = std::lower_bound(sorted_.begin(), sorted_.end(), left_[k], key_less);
            const auto place = std::upper_bound(sorted_.begin(), sorted_.end(), arrived_[k], less_key);
            if (place <= gone) {
                std::move_backward(place, gone, gone + 1);
                *place = v;
            } else {
                std::move(gone + 1, place, gone);
                *(place - 1) = v;
            }
        }
        for (std::size_t k = pairs; k < left_.size(); ++k) {
            sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), left_[k], key_less));
        }
        for (std::size_t k = pairs; k < arrived_.size(); ++k) {
            sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), arrived_[k], less_key),
                           from_total_order_key(arrived_[k]));
        }
        return sorted_;
    }
    sort_changes();
    // One pass drops the values that left (each an element of the list) and
    // merges in those that arrived, comparing keys. A value whose key is
    // below both the next one to leave and the next to arrive is copied as
    // it is.
    merged_.resize(sorted_.size() - left_.size() + arrived_.size());
    double* out = merged_.data();
    const std::uint64_t* left = left_.data();
    const std::uint64_t* const left_end = left + left_.size();
    const std::uint64_t* arrived = arrived_.data();
    const std::uint64_t* const arrived_end = arrived + arrived_.size();
    constexpr std::uint64_t kNone = ~std::uint64_t{0};  // no key is below it
    const auto next_change = [&] {
        return std::min(left != left_end ? *left : kNone, arrived != arrived_end ? *arrived : kNone);
    };
    std::uint64_t next = next_change();
    for (const double v : sorted_) {
        const std::uint64_t k = total_order_key(v);
        if (k < next) {
            *out++ = v;
            continue;
        }
        while (arrived != arrived_end && *arrived < k) *out++ = from_total_order_key(*arrived++);
        if (left != left_end && k == *left) {
            ++left;
        } else {
            *out++ = v;
        }
        next = next_change();
    }
    while (arrived != arrived_end) *out++ = from_total_order_key(*arrived++);
    sorted_.swap(merged_);
    return sorted_;
}

const std::vector<double>& SortedSeconds::sort_afresh() {
    sorted_.clear();
    sorted_.reserve(entries_.size() - head_);
    for (std::size_t i = head_; i < entries_.size(); ++i) sorted_.push_back(entries_[i].value);
    sort_total_order(sorted_);
    return sorted_;
}

}  // namespace fhr_core::analysis
