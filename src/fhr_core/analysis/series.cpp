#include "fhr_core/analysis/series.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>

#include "fhr_core/time/instant.hpp"

namespace fhr_core::analysis {

namespace {

using time::kMillisPerSecond;

// Usable ranges of the three signals, both bounds inclusive.
constexpr double kUsableHeartRateMin = 30.0;
constexpr double kUsableHeartRateMax = 240.0;
constexpr double kUsableTocoMin = 0.0;
constexpr double kUsableTocoMax = 300.0;

// Fetal and maternal values this close are counted as possibly the same heart.
constexpr double kCaptureToleranceBpm = 5.0;

constexpr std::string_view kUnknownText = "unknown";

// Index of the whole second holding `ms`, rounding toward negative infinity
// (-1 ms lies in second -1).
std::int64_t second_index(std::int64_t ms) {
    std::int64_t q = ms / kMillisPerSecond;
    if (ms % kMillisPerSecond < 0) --q;
    return q;
}

// Start of second `index` in milliseconds. The lowest second of the instant
// range starts before the first instant; it is pinned to that instant.
std::int64_t second_start_ms(std::int64_t index) {
    constexpr std::int64_t kLowestWholeIndex = time::kFirstInstant / kMillisPerSecond;  // truncates toward 0
    if (index < kLowestWholeIndex) return time::kFirstInstant;
    return index * kMillisPerSecond;
}

bool usable_heart_rate(const OptionalValue& v) {
    return v && *v >= kUsableHeartRateMin && *v <= kUsableHeartRateMax;
}

bool usable_toco(const OptionalValue& v) {
    return v && *v >= kUsableTocoMin && *v <= kUsableTocoMax;
}

// The working bin of one second while the series is built.
struct SecondAccumulator {
    double fetal_sum = 0.0;
    std::uint64_t fetal_count = 0;
    double maternal_sum = 0.0;
    std::uint64_t maternal_count = 0;
    double toco_sum = 0.0;
    std::uint64_t toco_count = 0;
};

std::optional<double> mean_of(double sum, std::uint64_t count) {
    if (count == 0) return std::nullopt;
    return sum / static_cast<double>(count);
}

double ratio(std::uint64_t count, std::uint64_t total) {
    if (total == 0) return 0.0;
    return static_cast<double>(count) / static_cast<double>(total);
}

}  // namespace

std::string second_text(const SecondSample& second) {
    if (second.named_by != nullptr) return second.named_by->timestamp.str();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, second.timestamp_ms);
    std::string text(buffer, result.ptr);
    text += "ms";
    return text;
}

std::optional<std::int64_t> second_instant(const SecondSample& second) {
    if (second.named_by == nullptr) return std::nullopt;
    return second.named_by->timestamp_ms;
}

const SecondSample& closest_second(SeriesView series, std::int64_t ms) {
    const auto after = std::lower_bound(
        series.begin(), series.end(), ms,
        [](const SecondSample& s, std::int64_t value) { return s.timestamp_ms < value; });
    if (after == series.begin()) return series.front();
    if (after == series.end()) return series.back();
    const auto before = after - 1;
    // before < ms <= after; the earlier second wins a tie.
    if (time::distance(before->timestamp_ms, ms) <= time::distance(ms, after->timestamp_ms)) return *before;
    return *after;
}

std::int64_t stretch_end(std::int64_t last_ms) { return time::later(last_ms, time::seconds_ms(1)); }

double stretch_seconds(std::int64_t first_ms, std::int64_t last_ms) {
    return time::seconds_from_ms(time::length_between(first_ms, last_ms) + time::seconds_ms(1));
}

SeriesView seconds_within(SeriesView series, Span span) {
    const auto first = std::lower_bound(
        series.begin(), series.end(), span.from_ms,
        [](const SecondSample& s, std::int64_t value) { return s.timestamp_ms < value; });
    const auto last = std::upper_bound(
        first, series.end(), span.to_ms,
        [](std::int64_t value, const SecondSample& s) { return value < s.timestamp_ms; });
    if (first >= last) return {};
    return {&*first, static_cast<std::size_t>(last - first)};
}

std::span<const MonitorSample> rows_within(std::span<const MonitorSample> samples, std::int64_t window_start,
                                           std::int64_t window_end) {
    if (window_start > window_end) return {};
    const auto first = std::lower_bound(
        samples.begin(), samples.end(), window_start,
        [](const MonitorSample& s, std::int64_t value) { return s.timestamp_ms < value; });
    const auto last = std::upper_bound(
        first, samples.end(), window_end,
        [](std::int64_t value, const MonitorSample& s) { return value < s.timestamp_ms; });
    return samples.subspan(static_cast<std::size_t>(first - samples.begin()),
                           static_cast<std::size_t>(last - first));
}

namespace {

// The series value of one second from its rows (adjacent, in recording
// order, not empty): the first row names it, each signal is the mean of its
// usable values summed in row order.
void bin_second(std::span<const MonitorSample> rows, FetalChannel channel, SecondSample& second) {
    SecondAccumulator bin;
    for (const MonitorSample& row : rows) {
        if (const auto& fetal = row.fetal(channel); usable_heart_rate(fetal)) {
            bin.fetal_sum += *fetal;
            ++bin.fetal_count;
        }
        if (usable_heart_rate(row.hrm)) {
            bin.maternal_sum += *row.hrm;
            ++bin.maternal_count;
        }
        if (usable_toco(row.toco)) {
            bin.toco_sum += *row.toco;
            ++bin.toco_count;
        }
    }
    second.named_by = &rows.front();
    second.fetal_bpm = mean_of(bin.fetal_sum, bin.fetal_count);
    second.maternal_bpm = mean_of(bin.maternal_sum, bin.maternal_count);
    second.toco = mean_of(bin.toco_sum, bin.toco_count);
}

// Calls `each(rows)` for every run of rows sharing one second, in order.
template <class Each>
void for_each_second(std::span<const MonitorSample> rows, Each each) {
    std::size_t begin = 0;
    while (begin < rows.size()) {
        const std::int64_t index = second_index(rows[begin].timestamp_ms);
        std::size_t end = begin + 1;
        while (end < rows.size() && second_index(rows[end].timestamp_ms) == index) ++end;
        each(index, rows.subspan(begin, end - begin));
        begin = end;
    }
}

// The window's seconds, from the start second to the end second, both
// included, each with its start and no value yet.
Series empty_seconds(std::int64_t first_second, std::int64_t last_second) {
    Series series;
    if (first_second > last_second) return series;
    series.resize(static_cast<std::size_t>(time::distance(first_second, last_second)) + 1);
    for (std::size_t i = 0; i < series.size(); ++i) {
        series[i].timestamp_ms = second_start_ms(first_second + static_cast<std::int64_t>(i));
    }
    return series;
}

}  // namespace

RecordingSeconds::Counts& RecordingSeconds::Counts::operator+=(const Counts& other) {
    fetal += other.fetal;
    maternal += other.maternal;
    toco += other.toco;
    paired += other.paired;
    matched += other.matched;
    return *this;
}

RecordingSeconds::Counts& RecordingSeconds::Counts::operator-=(const Counts& other) {
    fetal -= other.fetal;
    maternal -= other.maternal;
    toco -= other.toco;
    paired -= other.paired;
    matched -= other.matched;
    return *this;
}

namespace {

using Counts = RecordingSeconds::Counts;

Counts count_second(const SecondSample& second) {
    Counts counts;
    counts.fetal = second.fetal_bpm ? 1 : 0;
    counts.maternal = second.maternal_bpm ? 1 : 0;
    counts.toco = second.toco ? 1 : 0;
    if (second.fetal_bpm && second.maternal_bpm) {
        counts.paired = 1;
        counts.matched = std::abs(*second.fetal_bpm - *second.maternal_bpm) <= kCaptureToleranceBpm ? 1 : 0;
    }
    return counts;
}

Counts count_seconds(SeriesView seconds) {
    Counts counts;
    for (const SecondSample& second : seconds) counts += count_second(second);
    return counts;
}

// The data-quality figures and the window texts of a filled series whose
// seconds count `counts`.
void finish_window(PreparedWindow& out, std::span<const MonitorSample> rows, const WindowSpans& spans,
                   const Counts& counts) {
    const SeriesView seconds = out.seconds();
    const std::uint64_t fetal_seconds = counts.fetal;
    const std::uint64_t maternal_seconds = counts.maternal;
    const std::uint64_t toco_seconds = counts.toco;
    const std::uint64_t paired = counts.paired;
    const std::uint64_t matched = counts.matched;
    out.toco_seconds = toco_seconds;

    DataQuality& quality = out.data_quality;
    quality.expected_seconds = std::max<std::uint64_t>(
        seconds.size(), spans.length_ms / static_cast<std::uint64_t>(kMillisPerSecond));
    quality.raw_samples = rows.size();
    quality.fetal_usable_seconds = fetal_seconds;
    quality.fetal_usable_ratio = ratio(fetal_seconds, quality.expected_seconds);
    quality.maternal_usable_ratio = ratio(maternal_seconds, quality.expected_seconds);
    quality.toco_usable_ratio = ratio(toco_seconds, quality.expected_seconds);
    quality.suspected_maternal_capture_ratio = ratio(matched, paired);

    if (!rows.empty()) {
        out.window_start = rows.front().timestamp;
        out.window_end = rows.back().timestamp;
    } else if (!seconds.empty()) {
        out.window_start = second_text(seconds.front());
        out.window_end = second_text(seconds.back());
    } else {
        out.window_start = kUnknownText;
        out.window_end = kUnknownText;
    }
    out.duration_seconds = time::seconds_from_ms(spans.length_ms);
}

}  // namespace

PreparedWindow build_second_samples(std::span<const MonitorSample> samples, FetalChannel channel,
                                    const WindowSpans& spans) {
    PreparedWindow out;
    const std::span<const MonitorSample> rows = rows_within(samples, spans.start_ms, spans.end_ms);
    const std::int64_t first_second = second_index(spans.start_ms);
    out.series = empty_seconds(first_second, second_index(spans.end_ms));
    // Every in-window row lies in one of the window's seconds.
    for_each_second(rows, [&](std::int64_t index, std::span<const MonitorSample> of_second) {
        bin_second(of_second, channel,
                   out.series[static_cast<std::size_t>(time::distance(first_second, index))]);
    });
    finish_window(out, rows, spans, count_seconds(out.series));
    return out;
}

void RecordingSeconds::restore_edges() {
    for (std::size_t e = 0; e < cut_edges_; ++e) seconds_[edges_[e].at] = edges_[e].whole;
    cut_edges_ = 0;
}

void RecordingSeconds::cut_edge(std::size_t k, std::size_t rows_begin, std::size_t rows_end) {
    const std::size_t begin = row_begin_[k];
    const std::size_t end = end_of(k);
    const std::size_t from = std::max(begin, rows_begin);
    const std::size_t to = std::min(end, rows_end);
    if (from == begin && to == end) return;  // wholly inside (or holding no row)
    if (cut_edges_ != 0 && edges_[0].at == k) return;  // the window's only second, already cut
    edges_[cut_edges_++] = Edge{k, seconds_[k]};
    SecondSample& second = seconds_[k];
    second = SecondSample{};
    second.timestamp_ms = edges_[cut_edges_ - 1].whole.timestamp_ms;
    if (from < to) bin_second(samples_.subspan(from, to - from), channel_, second);
}

PreparedWindow RecordingSeconds::prepare(const WindowSpans& spans) {
    restore_edges();
    PreparedWindow out;
    Counts counts;
    std::span<const MonitorSample> rows;
    const std::int64_t first_second = second_index(spans.start_ms);
    const std::int64_t last_second = second_index(spans.end_ms);
    if (first_second <= last_second) {
        // Seconds wholly before the window are dropped; once the window has
        // passed every binned second, binning restarts at its first second.
        if (seconds_.empty() || time::distance(first_index_, first_second) >= seconds_.size()) {
            seconds_.clear();
            row_begin_.clear();
            // Room for this window's seconds at once: a lone window (chunk
            // mode) needs no more.
            const std::size_t window_seconds = static_cast<std::size_t>(time::distance(first_second, last_second)) + 1;
            seconds_.reserve(window_seconds);
            row_begin_.reserve(window_seconds);
            counted_.reserve(window_seconds + 1);
            counted_.assign(1, Counts{});
            first_index_ = first_second;
            const std::int64_t from_ms = second_start_ms(first_second);
            binned_rows_ = static_cast<std::size_t>(
                std::lower_bound(samples_.begin() + static_cast<std::ptrdiff_t>(binned_rows_), samples_.end(), from_ms,
                                 [](const MonitorSample& s, std::int64_t value) { return s.timestamp_ms < value; }) -
                samples_.begin());
        } else if (const std::size_t passed = time::distance(first_index_, first_second);
                   passed > seconds_.size() / 2) {
            seconds_.erase(seconds_.begin(), seconds_.begin() + static_cast<std::ptrdiff_t>(passed));
            row_begin_.erase(row_begin_.begin(), row_begin_.begin() + static_cast<std::ptrdiff_t>(passed));
            counted_.erase(counted_.begin(), counted_.begin() + static_cast<std::ptrdiff_t>(passed));
            first_index_ = first_second;
        }
        // Bin every second up to the window's last, each over all its rows.
        const std::size_t count = static_cast<std::size_t>(time::distance(first_second, last_second)) + 1;
        const std::size_t offset = time::distance(first_index_, first_second);
        while (seconds_.size() < offset + count) {
            const std::int64_t index = first_index_ + static_cast<std::int64_t>(seconds_.size());
            std::size_t end = binned_rows_;
            while (end < samples_.size() && second_index(samples_[end].timestamp_ms) == index) ++end;
            SecondSample& second = seconds_.emplace_back();
            second.timestamp_ms = second_start_ms(index);
            if (end != binned_rows_) bin_second(samples_.subspan(binned_rows_, end - binned_rows_), channel_, second);
            row_begin_.push_back(binned_rows_);
            binned_rows_ = end;
            counted_.push_back(counted_.back());
            counted_.back() += count_second(second);
        }
        // The window's rows are those of its seconds but the ones of its
        // first second before its start and of its last second after its end.
        const auto first_rows = samples_.begin() + static_cast<std::ptrdiff_t>(row_begin_[offset]);
        const auto first_in = std::lower_bound(
            first_rows, samples_.begin() + static_cast<std::ptrdiff_t>(end_of(offset)), spans.start_ms,
            [](const MonitorSample& s, std::int64_t value) { return s.timestamp_ms < value; });
        const auto last_end = samples_.begin() + static_cast<std::ptrdiff_t>(end_of(offset + count - 1));
        const auto last_out = std::upper_bound(
            std::max(first_in, samples_.begin() + static_cast<std::ptrdiff_t>(row_begin_[offset + count - 1])),
            last_end, spans.end_ms,
            [](std::int64_t value, const MonitorSample& s) { return value < s.timestamp_ms; });
        if (first_in < last_out) {
            rows = samples_.subspan(static_cast<std::size_t>(first_in - samples_.begin()),
                                    static_cast<std::size_t>(last_out - first_in));
        }
        // Only the window's first and last seconds can hold rows outside it.
        const std::size_t rows_begin = rows.empty() ? 0 : static_cast<std::size_t>(rows.data() - samples_.data());
        const std::size_t rows_end = rows_begin + rows.size();
        cut_edge(offset, rows_begin, rows_end);
        cut_edge(offset + count - 1, rows_begin, rows_end);
        out.borrowed = SeriesView(seconds_).subspan(offset, count);
        out.whole_ends = WholeEnds{true, true};
        for (std::size_t e = 0; e < cut_edges_; ++e) {
            if (edges_[e].at == offset) out.whole_ends.first = false;
            if (edges_[e].at == offset + count - 1) out.whole_ends.last = false;
        }
        // The whole seconds' counts, with the edges as the window cuts them.
        counts = counted_[offset + count];
        counts -= counted_[offset];
        for (std::size_t e = 0; e < cut_edges_; ++e) {
            counts -= count_second(edges_[e].whole);
            counts += count_second(seconds_[edges_[e].at]);
        }
    }
    finish_window(out, rows, spans, counts);
    return out;
}

}  // namespace fhr_core::analysis
