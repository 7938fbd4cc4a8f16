// Input records: one monitor sample, the parsed recording, its summary, the
// fetal channel selector and the analysis options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/model/compact.hpp"
#include "fhr_core/model/result.hpp"

namespace fhr_core {

// Which of the three fetal heart-rate fields of a sample is analyzed.
class FetalChannel {
public:
    enum Value : std::uint8_t { HR1 = 0, HR2 = 1, HR3 = 2 };

    constexpr FetalChannel() = default;
    constexpr FetalChannel(Value value) : value_(value) {}

    // Trims white space, upper-cases ASCII letters and accepts HR1, HR2, HR3.
    // Fails with "unsupported fetal channel: {trimmed upper-cased text}".
    static Result<FetalChannel> parse(std::string_view text);

    constexpr Value value() const { return value_; }
    std::string_view name() const;

    friend constexpr bool operator==(FetalChannel a, FetalChannel b) { return a.value_ == b.value_; }

private:
    Value value_ = HR1;
};

// One monitor time point. An absent value means no usable number was given.
struct MonitorSample {
    OptionalValue hr1;
    OptionalValue hr2;
    OptionalValue hr3;
    OptionalValue hrm;
    OptionalValue toco;
    InlineText timestamp;           // display text; parses back to timestamp_ms
    std::int64_t timestamp_ms = 0;  // milliseconds since 1970-01-01T00:00:00Z

    // The fetal value of the selected channel.
    const OptionalValue& fetal(FetalChannel channel) const {
        switch (channel.value()) {
            case FetalChannel::HR2: return hr2;
            case FetalChannel::HR3: return hr3;
            case FetalChannel::HR1: break;
        }
        return hr1;
    }
};

// The parsed recording: samples sorted stably by timestamp_ms.
struct InputData {
    std::vector<MonitorSample> samples;
    std::size_t out_of_order_rows = 0;
    std::size_t duplicate_timestamps = 0;
};

// What the report prints under "input".
struct InputSummary {
    std::size_t rows = 0;
    std::optional<std::string> start_timestamp;
    std::optional<std::string> end_timestamp;
    double duration_seconds = 0.0;
    std::size_t out_of_order_rows = 0;
    std::size_t duplicate_timestamps = 0;
};

// Options an entry path hands to the window driver.
struct AnalysisConfig {
    // Rolling windows last from 10 to 30 minutes; chunk mode analyzes the
    // longest window, the last 30 minutes of the recording.
    static constexpr std::uint32_t kMinWindowMinutes = 10;
    static constexpr std::uint32_t kMaxWindowMinutes = 30;
    static constexpr std::uint32_t kDefaultStepSeconds = 60;

    std::optional<std::uint32_t> window_minutes;  // present: rolling mode; absent: chunk mode
    std::uint32_t step_seconds = kDefaultStepSeconds;
    std::optional<std::uint8_t> gestational_age_weeks;
    FetalChannel fetal_channel = FetalChannel::HR1;
};

// Whether a requested window length lies within the allowed bounds.
constexpr bool window_minutes_allowed(std::uint32_t minutes) {
    return minutes >= AnalysisConfig::kMinWindowMinutes && minutes <= AnalysisConfig::kMaxWindowMinutes;
}

// The allowed bounds as the entry paths' messages word them: "between 10 and 30".
std::string window_minutes_bounds_text();

// The step a run advances by: a step of 0 seconds runs as 1 second.
constexpr std::uint32_t effective_step_seconds(std::uint32_t step_seconds) {
    return step_seconds == 0 ? 1 : step_seconds;
}

// Counts the rows whose time is below that of the row before them, then sorts
// the samples stably by time and counts neighbouring equal times. Both readers
// finish with this step.
void finish_input(InputData& input);

// The same, with both counts taken while the samples were read (over the
// samples in the order read), so that no second pass is needed.
void finish_input(InputData& input, std::size_t out_of_order_rows, std::size_t duplicate_timestamps);

}  // namespace fhr_core
