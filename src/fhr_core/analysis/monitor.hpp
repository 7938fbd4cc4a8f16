// The rolling analysis of a recording that is still arriving: each window as
// soon as it is complete, equal to the window with the same end in the
// analysis of everything received, from a buffer that holds only the last
// window's length of samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/csv_input/csv_stream.hpp"
#include "fhr_core/model/input.hpp"
#include "fhr_core/model/report.hpp"
#include "fhr_core/model/result.hpp"

namespace fhr_core::analysis {

// One sample handed over already parsed; its timestamp is read as the CSV
// reader reads a Date cell.
struct SampleRow {
    std::string_view timestamp;
    OptionalValue hr1, hr2, hr3, hrm, toco;
};

class Monitor {
public:
    // `config` must be in rolling mode (window_minutes present).
    explicit Monitor(const AnalysisConfig& config);

    // The next piece of a CSV export, split anywhere. Returns the windows
    // completed since the last successful call, in order. A bad line fails
    // with the whole-text reader's message and is not taken; the text after
    // it and the windows completed before it wait for the next call.
    Result<std::vector<WindowAnalysis>> add_csv(std::string_view piece);

    // The same for parsed samples. The k-th sample given (counting from 1
    // over all calls) is numbered row k + 1 in messages, as below a header.
    Result<std::vector<WindowAnalysis>> add_samples(std::span<const SampleRow> rows);

    // The window ending at the latest sample; nothing before the first sample.
    std::optional<WindowAnalysis> current() const;

    InputSummary input() const;
    // Rows that arrived no later than the end of a window already completed.
    std::size_t late_rows() const { return late_rows_; }
    // Samples held for the windows still to come.
    std::size_t held_samples() const { return samples_.size() - head_; }
    const AnalysisConfig& config() const { return config_; }

private:
    std::optional<std::string> take(MonitorSample&& sample);
    std::vector<WindowAnalysis> hand_over();

    AnalysisConfig config_;
    std::uint64_t length_ms_ = 0;

    csv_input::CsvStream csv_;
    std::size_t sample_rows_ = 0;  // rows given to add_samples, taken or not

    // Sorted by time, ties in arrival order; those before head_ are dropped.
    std::vector<MonitorSample> samples_;
    std::size_t head_ = 0;

    std::size_t rows_ = 0;
    std::int64_t first_ms_ = 0;
    std::int64_t last_ms_ = 0;
    std::int64_t previous_ms_ = 0;
    InlineText first_text_;
    InlineText last_text_;
    std::size_t out_of_order_rows_ = 0;
    std::size_t duplicate_timestamps_ = 0;
    std::size_t late_rows_ = 0;

    // Once a window is completed, the window ends stay measured from the
    // first sample of that moment.
    std::optional<std::int64_t> origin_ms_;
    std::uint64_t completed_count_ = 0;
    std::int64_t completed_end_ms_ = 0;
    std::vector<WindowAnalysis> completed_;
};

}  // namespace fhr_core::analysis
