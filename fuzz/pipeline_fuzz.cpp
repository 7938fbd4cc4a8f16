// Fuzzes the two entry pipelines from text to report.
//
// The first bytes of the input choose the options, the rest is the text:
//   byte 0     flags: 1 JSON path, 2 last_only, 4 ga_weeks given,
//              8 window_min given, 16 window_min taken raw (else 10 + b % 21),
//              32 step_sec kept below 10 minutes
//   byte 1     ga_weeks
//   byte 2     window_min
//   bytes 3-6  step_sec, little endian
//   byte 7     length of the channel text (0 to 7), which follows
//
// Invariants beyond "no crash":
//  * failures come in the documented order: the reader's message, then the window_min message, then the channel
//    message, then the rolling-window limit with its exact count; the JSON path fails exactly when its reader does,
//    with the same message;
//  * the report is well-formed: balanced braces and brackets outside strings, the fixed line layout with every
//    top-level, input, window, block and event key in its order and the commas in their places;
//  * when the report holds no control characters (which the writer copies raw from timestamp texts) and is UTF-8,
//    nlohmann/json parses it and the parsed report agrees with the input: rows, mode, channel, step, the window count
//    of the closed form (one, with last_only), window durations within the window length, ratios within 0..1, known
//    class and alert names, counts equal to their lists' lengths;
//  * the same call twice gives the same bytes, and with last_only the single window is the last window of the full
//    run.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/analysis/driver.hpp"
#include "fhr_core/analysis/pipeline.hpp"
#include "fhr_core/csv_input/csv_reader.hpp"
#include "fhr_core/json_input/request_reader.hpp"
#include "invariants.hpp"

namespace {

using fhr_core::analysis::CsvOptions;
using fuzz::require;
using fuzz::starts_with;

constexpr std::size_t kOptionBytes = 8;
constexpr std::size_t kMaxChannelLength = 7;
constexpr std::uint32_t kMinWindow = fhr_core::AnalysisConfig::kMinWindowMinutes;
constexpr std::uint32_t kShortStepLimit = 600;
constexpr std::uint64_t kChunkSeconds = 1800;
// One input must stay fast: runs of more windows than this are skipped (runs beyond the supported maximum are still
// made, as they fail at once).
constexpr std::uint64_t kMaxFuzzWindows = 400;
// Extra full runs (determinism, last_only) only for short runs.
constexpr std::uint64_t kMaxRepeatWindows = 40;

class Lines {
public:
    explicit Lines(std::string_view text) {
        require(!text.empty() && text.back() == '\n');
        for (std::size_t begin = 0; begin < text.size(); begin = text.find('\n', begin) + 1) {
            lines_.push_back(text.substr(begin, text.find('\n', begin) - begin));
        }
    }
    std::string_view peek() const {
        require(next_ < lines_.size());
        return lines_[next_];
    }
    void exact(std::initializer_list<std::string_view> lines) {
        for (std::string_view line : lines) require(peek() == line), ++next_;
    }
    // `"key": value` lines at the indentation, each but the last (unless `last_comma`) with its comma.
    void keys(std::size_t indent, std::initializer_list<std::string_view> names, bool last_comma) {
        std::size_t i = 0;
        for (std::string_view name : names) {
            const std::string head = std::string(indent, ' ') + "\"" + std::string(name) + "\": ";
            require(starts_with(peek(), head) && peek().size() > head.size());
            require((peek().back() == ',') == (++i < names.size() || last_comma));
            ++next_;
        }
    }
    bool done() const { return next_ == lines_.size(); }

private:
    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
};

// A block of objects "[ {..}, {..} ]" whose closing line is `close`.
template <class Body>
void objects(Lines& lines, std::size_t indent, std::string_view close, Body body) {
    const std::string open(indent, ' ');
    while (lines.peek() != close) {
        lines.exact({open + "{"});
        body();
        const std::string_view end = lines.peek();
        require(end == open + "}," || end == open + "}");
        lines.exact({end});
        require(end != open + "}" || lines.peek() == close);
    }
    lines.exact({close});
}

void check_window_layout(Lines& lines) {
    lines.keys(6, {"window_start", "window_end", "duration_seconds", "classification", "alert_level", "baseline_bpm",
                   "baseline_class", "variability_bpm", "variability_class", "sinusoidal_pattern"}, true);
    lines.exact({"      \"category_iii_diagnostics\": {"});
    lines.keys(8, {"cat_iii_candidate", "cat_iii_blockers", "variability_near_absent", "recurrent_late_candidate",
                   "recurrent_variable_candidate", "toco_recurrence_confidence", "late_decel_timing_confidence"}, false);
    lines.exact({"      },", "      \"features\": {"});
    lines.keys(8, {"fetal_hr_min_bpm", "fetal_hr_p05_bpm", "fetal_hr_mean_bpm", "fetal_hr_median_bpm", "fetal_hr_p95_bpm",
                   "fetal_hr_max_bpm", "fetal_hr_std_dev_bpm", "baseline_delta_mean_bpm", "fetal_hr_seconds_below_110",
                   "fetal_hr_seconds_110_to_160", "fetal_hr_seconds_above_160", "fetal_hr_percent_below_110",
                   "fetal_hr_percent_110_to_160", "fetal_hr_percent_above_160", "acceleration_count", "deceleration_count",
                   "prolonged_deceleration_count", "total_deceleration_seconds", "deepest_deceleration_nadir_bpm",
                   "max_deceleration_depth_bpm", "contraction_count", "contractions_per_10_min", "toco_mean", "toco_max",
                   "maternal_hr_mean_bpm", "fetal_maternal_mean_difference_bpm"}, false);
    lines.exact({"      },", "      \"acceleration_events\": ["});
    objects(lines, 8, "      ],", [&] { lines.keys(10, {"start", "end", "duration_seconds", "peak_bpm"}, false); });
    lines.exact({"      \"deceleration_events\": ["});
    objects(lines, 8, "      ],", [&] {
        lines.keys(10, {"start", "end", "duration_seconds", "nadir_bpm", "depth_bpm", "onset_to_nadir_seconds", "kind"}, false);
    });
    lines.exact({"      \"contraction_events\": ["});
    objects(lines, 8, "      ],", [&] { lines.keys(10, {"start", "peak", "end", "duration_seconds", "peak_toco"}, false); });
    lines.exact({"      \"data_quality\": {"});
    lines.keys(8, {"expected_seconds", "raw_samples", "fetal_usable_ratio", "maternal_usable_ratio", "toco_usable_ratio",
                   "suspected_maternal_capture_ratio"}, false);
    lines.exact({"      },"});
    lines.keys(6, {"contractions", "contractions_per_10_min", "tachysystole", "reasons", "high_risk_features",
                   "protective_features", "alert_suppression_reasons", "limitations"}, false);
}

void check_layout(std::string_view report) {
    Lines lines(report);
    lines.exact({"{"});
    lines.keys(2, {"channel", "analysis_mode", "requested_window_minutes", "step_seconds"}, true);
    lines.exact({"  \"input\": {"});
    lines.keys(4, {"rows", "start_timestamp", "end_timestamp", "duration_seconds", "out_of_order_rows", "duplicate_timestamps"}, false);
    lines.exact({"  },", "  \"windows\": ["});
    objects(lines, 4, "  ]", [&] { check_window_layout(lines); });
    lines.exact({"}"});
    require(lines.done());
}

// Braces and brackets balance outside strings (a backslash in a string always escapes the next byte).
void check_balanced(std::string_view report) {
    std::vector<char> open;
    bool in_string = false;
    for (std::size_t i = 0; i < report.size(); ++i) {
        const char c = report[i];
        if (in_string) i += c == '\\' ? 1 : 0, in_string = c != '"';
        else if (c == '"') in_string = true;
        else if (c == '{' || c == '[') open.push_back(c);
        else if (c == '}' || c == ']') {
            require(!open.empty() && open.back() == (c == '}' ? '{' : '['));
            open.pop_back();
        }
    }
    require(!in_string && open.empty());
}

struct Expected {
    std::size_t rows;
    std::string_view channel;
    bool rolling;
    std::uint32_t window_minutes, step_seconds;
    std::uint64_t windows;
};

using Json = nlohmann::json;

bool one_of(const Json& value, std::initializer_list<std::string_view> names) {
    return value.is_string() && std::find(names.begin(), names.end(), value.get_ref<const std::string&>()) != names.end();
}

// Typed reads that fail the run, rather than throw, on a wrong shape.
const Json& at(const Json& object, const char* name) {
    require(object.is_object() && object.contains(name));
    return object[name];
}
std::uint64_t count(const Json& object, const char* name) {
    return require(at(object, name).is_number_unsigned()), at(object, name).get<std::uint64_t>();
}
double number(const Json& object, const char* name) { return require(at(object, name).is_number()), at(object, name).get<double>(); }
std::size_t length(const Json& object, const char* name) { return require(at(object, name).is_array()), at(object, name).size(); }

void check_parsed(std::string_view report, const Expected& expected) {
    const Json document = Json::parse(report, nullptr, false);
    require(!document.is_discarded() && document.is_object());
    require(count(at(document, "input"), "rows") == expected.rows);
    require(one_of(at(document, "channel"), {expected.channel}));
    require(one_of(at(document, "analysis_mode"), {expected.rolling ? "rolling" : "chunk"}));
    require(expected.rolling ? count(document, "requested_window_minutes") == expected.window_minutes
                             : at(document, "requested_window_minutes").is_null());
    require(count(document, "step_seconds") == expected.step_seconds);
    require(number(at(document, "input"), "duration_seconds") >= 0.0);

    const auto& windows = at(document, "windows");
    require(windows.is_array() && windows.size() == expected.windows);
    const double longest = expected.rolling ? 60.0 * expected.window_minutes : double(kChunkSeconds);
    for (const Json& window : windows) {
        const double duration = number(window, "duration_seconds");
        require(duration >= 0.0 && duration <= longest);
        require(one_of(at(window, "classification"), {"category_i", "category_ii", "category_iii", "unclassified"}));
        require(one_of(at(window, "alert_level"), {"none", "warning", "urgent_review", "critical", "data_quality"}));
        const auto& quality = at(window, "data_quality");
        for (const char* ratio : {"fetal_usable_ratio", "maternal_usable_ratio", "toco_usable_ratio", "suspected_maternal_capture_ratio"}) {
            require(number(quality, ratio) >= 0.0 && number(quality, ratio) <= 1.0);
        }
        require(count(quality, "expected_seconds") + 1 >= static_cast<std::uint64_t>(duration));
        const auto& features = at(window, "features");
        require(count(features, "acceleration_count") == length(window, "acceleration_events"));
        require(count(features, "deceleration_count") == length(window, "deceleration_events"));
        require(count(features, "contraction_count") == length(window, "contraction_events"));
        require(count(window, "contractions") == length(window, "contraction_events"));
        require(length(window, "alert_suppression_reasons") <= 1);
        require(at(window, "baseline_bpm").is_null() == at(window, "baseline_class").is_null());
        require(at(window, "variability_bpm").is_null() == at(window, "variability_class").is_null());
    }
}

// The parsed check needs text the library reads: UTF-8 without the control characters the writer copies raw from
// timestamp texts.
void check_report(std::string_view report, const Expected& expected) {
    check_balanced(report);
    check_layout(report);
    const bool control = std::any_of(report.begin(), report.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n'; });
    if (!control && fuzz::is_utf8(report)) check_parsed(report, expected);
}

// The windows of a rolling run by the closed form: one for a recording shorter than the window, else the ends t0 + W
// + kS up to t1 plus one final window unless an end fell on t1.
std::uint64_t closed_form_windows(const fhr_core::InputData& input, std::optional<std::uint32_t> window_minutes,
                                  std::uint32_t step_seconds) {
    if (input.samples.empty()) return 0;
    if (!window_minutes) return 1;
    const std::uint64_t span = static_cast<std::uint64_t>(input.samples.back().timestamp_ms) -
                               static_cast<std::uint64_t>(input.samples.front().timestamp_ms);
    const std::uint64_t width = std::uint64_t{*window_minutes} * 60'000, step = std::uint64_t{std::max(step_seconds, 1u)} * 1'000;
    return span < width ? 1 : (span - width) / step + 1 + ((span - width) % step == 0 ? 0 : 1);
}

// The text from `at` on: the windows array ("\n  \"windows\": [\n") or the last window ("\n    {\n").
std::string_view from(std::string_view report, std::size_t at) {
    require(at != std::string_view::npos);
    return report.substr(at);
}

void run_json(std::string_view text) {
    const auto reader = fhr_core::json_input::read_analysis_request_json(text);
    const auto result = fhr_core::analysis::analyze_json_text(text);
    require(result.ok() == reader.ok() && (result.ok() || result.error() == reader.error()));
    if (!result.ok()) return;
    check_report(*result, {reader->input.samples.size(), reader->config.fetal_channel.name(), false, 0,
                           fhr_core::AnalysisConfig::kDefaultStepSeconds, 1});
    const auto again = fhr_core::analysis::analyze_json_text(text);
    require(again.ok() && *again == *result);
}

void run_csv(std::string_view text, const CsvOptions& options) {
    const auto reader = fhr_core::csv_input::read_monitor_csv_str(text);
    const bool window_ok = !options.window_min || fhr_core::window_minutes_allowed(*options.window_min);
    const auto channel = fhr_core::FetalChannel::parse(options.channel);
    std::uint64_t windows = 0;
    if (reader.ok() && window_ok && channel.ok()) {
        windows = closed_form_windows(*reader, options.window_min, options.step_sec);
        if (windows > kMaxFuzzWindows && !(options.window_min && windows > fhr_core::analysis::kMaxRollingWindows)) return;
    }

    const auto result = fhr_core::analysis::analyze_csv_text(text, options);
    // Failures in order: the reader, the window length, the channel, the limit.
    const std::optional<std::string> failure =
        !reader.ok() ? reader.error()
        : !window_ok ? "window_min must be between 10 and 30"
        : !channel.ok() ? channel.error()
        : options.window_min && windows > fhr_core::analysis::kMaxRollingWindows
            ? "recording spans " + std::to_string(windows) + " analysis windows; at most 1000000 are supported"
            : std::optional<std::string>();
    require(result.ok() == !failure);
    if (failure) {
        require(result.error() == *failure);
        return;
    }

    check_report(*result, {reader->samples.size(), channel->name(), options.window_min.has_value(), options.window_min.value_or(0),
                           options.step_sec == 0 ? 1 : options.step_sec, options.last_only && windows > 1 ? 1 : windows});

    if (windows > kMaxRepeatWindows) return;
    const auto again = fhr_core::analysis::analyze_csv_text(text, options);
    require(again.ok() && *again == *result);
    if (options.last_only && windows >= 2) {
        CsvOptions full = options;
        const auto whole = fhr_core::analysis::analyze_csv_text(text, (full.last_only = false, full));
        require(whole.ok());
        // Only the windows differ: the header and input lines describe the whole run.
        const std::string_view mine = *result, theirs = *whole, array = "\n  \"windows\": [\n";
        require(mine.substr(0, mine.size() - from(mine, mine.find(array)).size()) ==
                theirs.substr(0, theirs.size() - from(theirs, theirs.find(array)).size()));
        require(from(mine, mine.find("\n    {\n")) == from(theirs, theirs.rfind("\n    {\n")));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kOptionBytes) return 0;
    const std::uint8_t flags = data[0];
    const std::size_t channel_length = std::min<std::size_t>(data[7] % (kMaxChannelLength + 1), size - kOptionBytes);
    const std::string_view channel(reinterpret_cast<const char*>(data + kOptionBytes), channel_length);
    const std::string_view text(reinterpret_cast<const char*>(data + kOptionBytes + channel_length),
                                size - kOptionBytes - channel_length);

    if (flags & 1) return run_json(text), 0;
    CsvOptions options;
    options.channel = channel;
    options.last_only = (flags & 2) != 0;
    if (flags & 4) options.ga_weeks = data[1];
    if (flags & 8) options.window_min = (flags & 16) ? std::uint32_t{data[2]} : kMinWindow + data[2] % 21;
    std::uint32_t step = 0;
    std::memcpy(&step, data + 3, sizeof step);
    options.step_sec = (flags & 32) ? step % kShortStepLimit : step;
    return run_csv(text, options), 0;
}
