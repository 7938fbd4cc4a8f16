// The per-second series of a window and its data-quality figures.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fhr_core/analysis/window_spans.hpp"
#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// One whole second of a window. `named_by` is the first row of the second
// (owned by the recording, which outlives the window), whose text names the
// second; null when no row fell in the second.
struct SecondSample {
    std::optional<double> fetal_bpm;
    std::optional<double> maternal_bpm;
    std::optional<double> toco;
    const MonitorSample* named_by = nullptr;
    std::int64_t timestamp_ms = 0;  // start of the second
};

// A window's seconds, owned; SeriesView is how the measurements read them.
using Series = std::vector<SecondSample>;
using SeriesView = std::span<const SecondSample>;

// Display text of a second: its row's text, or "{timestamp_ms}ms".
std::string second_text(const SecondSample& second);

// The instant the second's text names, which events relate to one another
// by: the time of the row that named it. A second that no row named has a
// synthesized text that names no instant, and so none.
std::optional<std::int64_t> second_instant(const SecondSample& second);

// The second whose timestamp_ms is closest to `ms` (the earlier second wins
// a tie). The series must not be empty.
const SecondSample& closest_second(SeriesView series, std::int64_t ms);

// A stretch of whole seconds, from the second starting at `first_ms` to the
// one starting at `last_ms`, ends one second after its last second: its end
// (pinned to the last instant) and its length in seconds.
std::int64_t stretch_end(std::int64_t last_ms);
double stretch_seconds(std::int64_t first_ms, std::int64_t last_ms);

// The seconds whose timestamp_ms lies in `span`: one stretch of the
// time-ordered series.
SeriesView seconds_within(SeriesView series, Span span);

// The rows of [window_start, window_end] of the time-sorted samples.
std::span<const MonitorSample> rows_within(std::span<const MonitorSample> samples, std::int64_t window_start,
                                           std::int64_t window_end);

// Whether a window's first and last seconds hold all the rows of their
// seconds (false where unknown).
struct WholeEnds {
    bool first = false;
    bool last = false;
};

struct PreparedWindow {
    // The window's seconds: `series` when binned for this window alone, else
    // `borrowed` from the recording's seconds (valid until the recording
    // prepares its next window).
    Series series;
    SeriesView borrowed;
    DataQuality data_quality;
    std::uint64_t toco_seconds = 0;  // seconds with a TOCO value
    WholeEnds whole_ends;            // known only for the recording's seconds
    std::string window_start;
    std::string window_end;
    double duration_seconds = 0.0;

    SeriesView seconds() const { return series.empty() ? borrowed : SeriesView(series); }
};

// Selects the rows of the window (binary search on the sorted samples), bins
// them by second and produces the gap-free series, the window texts and the
// data-quality figures.
PreparedWindow build_second_samples(std::span<const MonitorSample> samples, FetalChannel channel,
                                    const WindowSpans& spans);

// The recording binned by second once, as the windows advance: every second
// from the first window's start on, with or without rows, is binned over all
// its rows when the first window reaching it asks, and dropped once the
// windows have passed it. A window reads the stretch of these seconds it
// spans in place; only an edge second whose rows the window cuts is binned
// again from its in-window rows, in place too, and put back when the next
// window is prepared.
class RecordingSeconds {
public:
    // What the data-quality figures count over a stretch of seconds.
    struct Counts {
        std::uint64_t fetal = 0;
        std::uint64_t maternal = 0;
        std::uint64_t toco = 0;
        std::uint64_t paired = 0;   // seconds with both heart rates
        std::uint64_t matched = 0;  // of those, the ones within the capture tolerance

        Counts& operator+=(const Counts& other);
        Counts& operator-=(const Counts& other);
    };

    // `samples` (sorted by time) must outlive this.
    RecordingSeconds(std::span<const MonitorSample> samples, FetalChannel channel)
        : samples_(samples), channel_(channel) {}

    // The window build_second_samples makes from the rows, its seconds
    // borrowed. Windows come in order: neither start nor end before those of
    // the window asked before.
    PreparedWindow prepare(const WindowSpans& spans);

private:
    // Puts back the whole seconds the last window's edges replaced.
    void restore_edges();
    // Rebins seconds_[k] from its rows within [rows_begin, rows_end) when
    // the window cuts it, keeping the whole second to put back.
    void cut_edge(std::size_t k, std::size_t rows_begin, std::size_t rows_end);
    // The row after the last row of seconds_[k].
    std::size_t end_of(std::size_t k) const { return k + 1 < seconds_.size() ? row_begin_[k + 1] : binned_rows_; }

    struct Edge {
        std::size_t at = 0;
        SecondSample whole;
    };

    std::span<const MonitorSample> samples_;
    FetalChannel channel_;
    std::vector<SecondSample> seconds_;   // consecutive seconds, the first one being second first_index_
    std::vector<std::size_t> row_begin_;  // the first row of each of seconds_ (its end when it has none)
    // counted_[k + 1] - counted_[j]: the counts of the whole seconds_[j..k].
    std::vector<Counts> counted_;
    std::int64_t first_index_ = 0;
    std::size_t binned_rows_ = 0;  // the rows before this are binned
    Edge edges_[2];
    std::size_t cut_edges_ = 0;
};

}  // namespace fhr_core::analysis
