#include "fhr_core/analysis/report_writer.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace fhr_core::analysis {

using detail::append_fixed3;
using detail::escape_json;

namespace {

constexpr std::string_view kIndentUnit = "  ";  // spaces only
constexpr int kDecimals = 3;

void indent(std::string& out, int level) {
    out.append(static_cast<std::size_t>(level) * kIndentUnit.size(), ' ');
}

// The start of a key's line, `<indent>"name": `, put together at compile
// time so that writing it is one append: kKey<level, "name">.
template <std::size_t N>
struct KeyName {
    char text[N - 1];
    constexpr KeyName(const char (&name)[N]) { std::copy_n(name, N - 1, text); }
};

template <int Level, KeyName Name>
constexpr auto kKeyLine = [] {
    constexpr std::string_view kOpen = "\"";
    constexpr std::string_view kClose = "\": ";
    constexpr std::size_t kSpaces = static_cast<std::size_t>(Level) * kIndentUnit.size();
    std::array<char, kSpaces + kOpen.size() + sizeof Name.text + kClose.size()> line{};
    auto end = std::fill_n(line.begin(), kSpaces, ' ');
    end = std::copy(kOpen.begin(), kOpen.end(), end);
    end = std::copy(std::begin(Name.text), std::end(Name.text), end);
    std::copy(kClose.begin(), kClose.end(), end);
    return line;
}();

template <int Level, KeyName Name>
constexpr std::string_view kKey(kKeyLine<Level, Name>.data(), kKeyLine<Level, Name>.size());

void key(std::string& out, std::string_view key_line) { out.append(key_line); }

void end_line(std::string& out, bool comma) {
    if (comma) out.push_back(',');
    out.push_back('\n');
}

bool needs_escape(char c) { return c == '\\' || c == '"' || c == '\n'; }

void append_escaped(std::string& out, std::string_view text) {
    out.push_back('"');
    if (detail::needs_json_escape(text)) {
        out.append(escape_json(text));
    } else {
        out.append(text);
    }
    out.push_back('"');
}

template <class Integer>
void append_integer(std::string& out, Integer value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void push_json_line(std::string& out, std::string_view key_line, std::string_view value, bool comma) {
    key(out, key_line);
    append_escaped(out, value);
    end_line(out, comma);
}

void push_json_option(std::string& out, std::string_view key_line,
                      const std::optional<std::string_view>& value) {
    key(out, key_line);
    if (value) {
        append_escaped(out, *value);
    } else {
        out.append("null");
    }
    end_line(out, true);
}

void push_json_number(std::string& out, std::string_view key_line, double value, bool comma) {
    key(out, key_line);
    append_fixed3(out, value);
    end_line(out, comma);
}

void push_json_option_number(std::string& out, std::string_view key_line,
                             const std::optional<double>& value, bool comma) {
    key(out, key_line);
    if (value) {
        append_fixed3(out, *value);
    } else {
        out.append("null");
    }
    end_line(out, comma);
}

void push_json_usize(std::string& out, std::string_view key_line, std::uint64_t value, bool comma) {
    key(out, key_line);
    append_integer(out, value);
    end_line(out, comma);
}

void push_json_bool(std::string& out, std::string_view key_line, bool value) {
    key(out, key_line);
    out.append(value ? "true" : "false");
    end_line(out, true);
}

void push_string_array(std::string& out, std::string_view key_line,
                       std::span<const std::string_view> values, bool comma) {
    key(out, key_line);
    out.push_back('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) out.append(", ");
        append_escaped(out, values[i]);
    }
    out.push_back(']');
    end_line(out, comma);
}

// The phrases of a set of findings, in the order the report lists them:
// ascending by their bytes, or, where the order of finding matters (the
// limitations), in the order the findings are declared.
enum class PhraseOrder { by_bytes, as_declared };

template <class Finding>
void push_findings(std::string& out, std::string_view key_line, FindingSet<Finding> findings,
                   PhraseOrder order, bool comma) {
    std::array<std::string_view, 32> phrases;
    std::size_t count = 0;
    findings.for_each([&](Finding f) { phrases[count++] = phrase(f); });
    // std::string_view compares its bytes as unsigned char, which is byte order.
    if (order == PhraseOrder::by_bytes) std::sort(phrases.begin(), phrases.begin() + static_cast<std::ptrdiff_t>(count));
    push_string_array(out, key_line, std::span<const std::string_view>(phrases.data(), count), comma);
}

template <class T>
std::optional<std::string_view> optional_text(const std::optional<T>& value) {
    if (!value) return std::nullopt;
    return to_text(*value);
}

// An array of event objects: always two lines at least, never "[]".
template <class Event, class WriteFields>
void push_event_array(std::string& out, std::string_view key_line, const std::vector<Event>& events,
                      WriteFields write_fields) {
    key(out, key_line);
    out.append("[\n");
    for (std::size_t i = 0; i < events.size(); ++i) {
        indent(out, 4);
        out.append("{\n");
        write_fields(events[i]);
        indent(out, 4);
        out.push_back('}');
        end_line(out, i + 1 != events.size());
    }
    indent(out, 3);
    out.append("],\n");
}

void write_diagnostics(std::string& out, const CategoryIiiDiagnostics& d) {
    indent(out, 3);
    out.append("\"category_iii_diagnostics\": {\n");
    push_json_bool(out, kKey<4, "cat_iii_candidate">, d.cat_iii_candidate);
    push_findings(out, kKey<4, "cat_iii_blockers">, d.cat_iii_blockers, PhraseOrder::by_bytes, true);
    push_json_bool(out, kKey<4, "variability_near_absent">, d.variability_near_absent);
    push_json_bool(out, kKey<4, "recurrent_late_candidate">, d.recurrent_late_candidate);
    push_json_bool(out, kKey<4, "recurrent_variable_candidate">, d.recurrent_variable_candidate);
    push_json_line(out, kKey<4, "toco_recurrence_confidence">, to_text(d.toco_recurrence_confidence), true);
    push_json_line(out, kKey<4, "late_decel_timing_confidence">, to_text(d.late_decel_timing_confidence), false);
    indent(out, 3);
    out.append("},\n");
}

void write_features(std::string& out, const WindowFeatures& f) {
    indent(out, 3);
    out.append("\"features\": {\n");
    push_json_option_number(out, kKey<4, "fetal_hr_min_bpm">, f.fetal_hr_min_bpm, true);
    push_json_option_number(out, kKey<4, "fetal_hr_p05_bpm">, f.fetal_hr_p05_bpm, true);
    push_json_option_number(out, kKey<4, "fetal_hr_mean_bpm">, f.fetal_hr_mean_bpm, true);
    push_json_option_number(out, kKey<4, "fetal_hr_median_bpm">, f.fetal_hr_median_bpm, true);
    push_json_option_number(out, kKey<4, "fetal_hr_p95_bpm">, f.fetal_hr_p95_bpm, true);
    push_json_option_number(out, kKey<4, "fetal_hr_max_bpm">, f.fetal_hr_max_bpm, true);
    push_json_option_number(out, kKey<4, "fetal_hr_std_dev_bpm">, f.fetal_hr_std_dev_bpm, true);
    push_json_option_number(out, kKey<4, "baseline_delta_mean_bpm">, f.baseline_delta_mean_bpm, true);
    push_json_usize(out, kKey<4, "fetal_hr_seconds_below_110">, f.fetal_hr_seconds_below_110, true);
    push_json_usize(out, kKey<4, "fetal_hr_seconds_110_to_160">, f.fetal_hr_seconds_110_to_160, true);
    push_json_usize(out, kKey<4, "fetal_hr_seconds_above_160">, f.fetal_hr_seconds_above_160, true);
    push_json_number(out, kKey<4, "fetal_hr_percent_below_110">, f.fetal_hr_percent_below_110, true);
    push_json_number(out, kKey<4, "fetal_hr_percent_110_to_160">, f.fetal_hr_percent_110_to_160, true);
    push_json_number(out, kKey<4, "fetal_hr_percent_above_160">, f.fetal_hr_percent_above_160, true);
    push_json_usize(out, kKey<4, "acceleration_count">, f.acceleration_count, true);
    push_json_usize(out, kKey<4, "deceleration_count">, f.deceleration_count, true);
    push_json_usize(out, kKey<4, "prolonged_deceleration_count">, f.prolonged_deceleration_count, true);
    push_json_number(out, kKey<4, "total_deceleration_seconds">, f.total_deceleration_seconds, true);
    push_json_option_number(out, kKey<4, "deepest_deceleration_nadir_bpm">, f.deepest_deceleration_nadir_bpm, true);
    push_json_option_number(out, kKey<4, "max_deceleration_depth_bpm">, f.max_deceleration_depth_bpm, true);
    push_json_usize(out, kKey<4, "contraction_count">, f.contraction_count, true);
    push_json_number(out, kKey<4, "contractions_per_10_min">, f.contractions_per_10_min, true);
    push_json_option_number(out, kKey<4, "toco_mean">, f.toco_mean, true);
    push_json_option_number(out, kKey<4, "toco_max">, f.toco_max, true);
    push_json_option_number(out, kKey<4, "maternal_hr_mean_bpm">, f.maternal_hr_mean_bpm, true);
    push_json_option_number(out, kKey<4, "fetal_maternal_mean_difference_bpm">,
                            f.fetal_maternal_mean_difference_bpm, false);
    indent(out, 3);
    out.append("},\n");
}

void write_data_quality(std::string& out, const DataQuality& q) {
    indent(out, 3);
    out.append("\"data_quality\": {\n");
    push_json_usize(out, kKey<4, "expected_seconds">, q.expected_seconds, true);
    push_json_usize(out, kKey<4, "raw_samples">, q.raw_samples, true);
    push_json_number(out, kKey<4, "fetal_usable_ratio">, q.fetal_usable_ratio, true);
    push_json_number(out, kKey<4, "maternal_usable_ratio">, q.maternal_usable_ratio, true);
    push_json_number(out, kKey<4, "toco_usable_ratio">, q.toco_usable_ratio, true);
    push_json_number(out, kKey<4, "suspected_maternal_capture_ratio">, q.suspected_maternal_capture_ratio, false);
    indent(out, 3);
    out.append("},\n");
}

void write_window(std::string& out, const WindowAnalysis& w) {
    push_json_line(out, kKey<3, "window_start">, w.window_start, true);
    push_json_line(out, kKey<3, "window_end">, w.window_end, true);
    push_json_number(out, kKey<3, "duration_seconds">, w.duration_seconds, true);
    push_json_line(out, kKey<3, "classification">, to_text(w.classification), true);
    push_json_line(out, kKey<3, "alert_level">, to_text(w.alert_level), true);
    key(out, kKey<3, "baseline_bpm">);
    if (w.baseline_bpm) {
        append_integer(out, *w.baseline_bpm);
    } else {
        out.append("null");
    }
    end_line(out, true);
    push_json_option(out, kKey<3, "baseline_class">, optional_text(w.baseline_class));
    push_json_option_number(out, kKey<3, "variability_bpm">, w.variability_bpm, true);
    push_json_option(out, kKey<3, "variability_class">, optional_text(w.variability_class));
    push_json_bool(out, kKey<3, "sinusoidal_pattern">, w.sinusoidal_pattern);
    write_diagnostics(out, w.category_iii_diagnostics);
    write_features(out, w.features);

    push_event_array(out, kKey<3, "acceleration_events">, w.acceleration_events, [&](const AccelerationEvent& e) {
        push_json_line(out, kKey<5, "start">, e.start, true);
        push_json_line(out, kKey<5, "end">, e.end, true);
        push_json_number(out, kKey<5, "duration_seconds">, e.duration_seconds, true);
        push_json_number(out, kKey<5, "peak_bpm">, e.peak_bpm, false);
    });
    push_event_array(out, kKey<3, "deceleration_events">, w.deceleration_events, [&](const DecelerationEvent& e) {
        push_json_line(out, kKey<5, "start">, e.start, true);
        push_json_line(out, kKey<5, "end">, e.end, true);
        push_json_number(out, kKey<5, "duration_seconds">, e.duration_seconds, true);
        push_json_number(out, kKey<5, "nadir_bpm">, e.nadir_bpm, true);
        push_json_number(out, kKey<5, "depth_bpm">, e.depth_bpm, true);
        push_json_number(out, kKey<5, "onset_to_nadir_seconds">, e.onset_to_nadir_seconds, true);
        push_json_line(out, kKey<5, "kind">, to_text(e.kind), false);
    });
    push_event_array(out, kKey<3, "contraction_events">, w.toco_summary.contraction_events,
                     [&](const ContractionEvent& e) {
                         push_json_line(out, kKey<5, "start">, e.start, true);
                         push_json_line(out, kKey<5, "peak">, e.peak, true);
                         push_json_line(out, kKey<5, "end">, e.end, true);
                         push_json_number(out, kKey<5, "duration_seconds">, e.duration_seconds, true);
                         push_json_number(out, kKey<5, "peak_toco">, e.peak_toco, false);
                     });

    write_data_quality(out, w.data_quality);
    push_json_usize(out, kKey<3, "contractions">, w.toco_summary.contraction_events.size(), true);
    push_json_number(out, kKey<3, "contractions_per_10_min">, w.toco_summary.contractions_per_10_min, true);
    key(out, kKey<3, "tachysystole">);
    out.append(!w.toco_summary.tachysystole ? "null" : (*w.toco_summary.tachysystole ? "true" : "false"));
    end_line(out, true);
    push_findings(out, kKey<3, "reasons">, w.reasons, PhraseOrder::by_bytes, true);
    push_findings(out, kKey<3, "high_risk_features">, w.high_risk_features, PhraseOrder::by_bytes, true);
    push_findings(out, kKey<3, "protective_features">, w.protective_features, PhraseOrder::by_bytes, true);
    const std::optional<std::string_view> suppression =
        w.alert_suppression_reasons ? std::optional(phrase(*w.alert_suppression_reasons)) : std::nullopt;
    push_string_array(out, kKey<3, "alert_suppression_reasons">,
                      suppression ? std::span<const std::string_view>(&*suppression, 1)
                                  : std::span<const std::string_view>(),
                      true);
    push_findings(out, kKey<3, "limitations">, w.limitations, PhraseOrder::as_declared, false);
}

// A rough size of one window's text, to reserve the output once.
constexpr std::size_t kWindowTextEstimate = 4096;

// IEEE 754 binary64 layout.
constexpr int kMantissaBits = 52;
constexpr std::uint64_t kMantissaMask = (std::uint64_t{1} << kMantissaBits) - 1;
constexpr std::uint64_t kExponentMask = 0x7FF;
constexpr int kExponentBias = 1075;  // value = mantissa * 2^(biased exponent - 1075)
constexpr std::uint64_t kThousand = 1000;
// mantissa * 1000 < 2^53 * 2^10 fits 63 bits, so a shift of up to 63 is exact.
constexpr int kMaxShift = 63;

// A finite value below 2^53 in magnitude with three decimals, as std::to_chars
// writes it: m * 2^e with e in [-63, 0] gives m * 1000 exactly in 64 bits, and
// the thousandths are its quotient by 2^-e, rounded half to even on the
// remainder; the sign is written for every value whose sign bit is set. Other
// values return false.
bool append_fixed3_exactly(std::string& out, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t biased = (bits >> kMantissaBits) & kExponentMask;
    const std::uint64_t mantissa = (bits & kMantissaMask) | (biased != 0 ? kMantissaMask + 1 : 0);
    const int exponent = static_cast<int>(biased != 0 ? biased : 1) - kExponentBias;
    if (exponent > 0 || exponent < -kMaxShift) return false;
    const std::uint64_t scaled = mantissa * kThousand;
    const int shift = -exponent;
    std::uint64_t thousandths = scaled >> shift;
    if (shift > 0) {
        const std::uint64_t rest = scaled - (thousandths << shift);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (thousandths & 1) != 0)) ++thousandths;
    }
    char buffer[32];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, thousandths / kThousand).ptr;
    const auto fraction = static_cast<unsigned>(thousandths % kThousand);
    *end++ = '.';
    *end++ = static_cast<char>('0' + fraction / 100);
    *end++ = static_cast<char>('0' + fraction / 10 % 10);
    *end++ = static_cast<char>('0' + fraction % 10);
    if ((bits >> 63) != 0) out.push_back('-');
    out.append(buffer, end);
    return true;
}

}  // namespace

namespace detail {

// Eight characters at a time: a byte of the word XOR a character repeated is
// zero where the word holds that character.
bool needs_json_escape(std::string_view text) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    const auto has_zero_byte = [](std::uint64_t v) { return ((v - kOnes) & ~v & kHighBits) != 0; };
    std::size_t i = 0;
    for (; i + sizeof(std::uint64_t) <= text.size(); i += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, sizeof word);
        if (has_zero_byte(word ^ (kOnes * '\\')) || has_zero_byte(word ^ (kOnes * '"')) ||
            has_zero_byte(word ^ (kOnes * '\n'))) {
            return true;
        }
    }
    return std::any_of(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), needs_escape);
}

std::string escape_json(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // Backslashes are doubled before quotes and line feeds gain theirs, so the
    // three replacements never see each other's output.
    for (char c : text) {
        switch (c) {
            case '\\': out.append("\\\\"); break;
            case '"': out.append("\\\""); break;
            case '\n': out.append("\\n"); break;
            default: out.push_back(c);
        }
    }
    return out;
}

void append_fixed3(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("NaN");
        return;
    }
    if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
        return;
    }
    if (append_fixed3_exactly(out, value)) return;
    // The largest finite double has 309 integer digits.
    char buffer[320];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, kDecimals);
    out.append(buffer, result.ptr);
}

}  // namespace detail

ReportText::ReportText(const AnalysisReport& report, std::uint64_t windows, const TextPieces* pieces)
    : pieces_(pieces) {
    std::string& out = out_;
    const std::uint64_t estimate = 1024 + windows * kWindowTextEstimate;
    out.reserve(pieces != nullptr ? std::min<std::uint64_t>(estimate, pieces->bytes + kWindowTextEstimate) : estimate);
    out.append("{\n");
    push_json_line(out, kKey<1, "channel">, report.config.fetal_channel.name(), true);
    push_json_line(out, kKey<1, "analysis_mode">, report.config.window_minutes ? "rolling" : "chunk", true);
    key(out, kKey<1, "requested_window_minutes">);
    if (report.config.window_minutes) {
        append_integer(out, *report.config.window_minutes);
    } else {
        out.append("null");
    }
    end_line(out, true);
    key(out, kKey<1, "step_seconds">);
    append_integer(out, report.config.step_seconds);
    end_line(out, true);

    const InputSummary& input = report.input;
    out.append("  \"input\": {\n");
    push_json_usize(out, kKey<2, "rows">, input.rows, true);
    push_json_option(out, kKey<2, "start_timestamp">, input.start_timestamp
                                                    ? std::optional<std::string_view>(*input.start_timestamp)
                                                    : std::nullopt);
    push_json_option(out, kKey<2, "end_timestamp">, input.end_timestamp
                                                  ? std::optional<std::string_view>(*input.end_timestamp)
                                                  : std::nullopt);
    push_json_number(out, kKey<2, "duration_seconds">, input.duration_seconds, true);
    push_json_usize(out, kKey<2, "out_of_order_rows">, input.out_of_order_rows, true);
    push_json_usize(out, kKey<2, "duplicate_timestamps">, input.duplicate_timestamps, false);
    out.append("  },\n");

    out.append("  \"windows\": [\n");
}

void ReportText::add(const WindowAnalysis& window) {
    // Each window but the last ends with a comma: the one before gets it.
    if (!first_) end_line(out_, true);
    first_ = false;
    out_.append("    {\n");
    write_window(out_, window);
    out_.append("    }");
    if (pieces_ != nullptr && out_.size() >= pieces_->bytes) {
        pieces_->take(out_);
        out_.clear();
    }
}

std::string ReportText::finish() && {
    if (!first_) end_line(out_, false);
    out_.append("  ]\n}\n");
    return std::move(out_);
}

std::string report_as_json(const AnalysisReport& report) {
    ReportText text(report, report.windows.size());
    for (const WindowAnalysis& window : report.windows) text.add(window);
    return std::move(text).finish();
}

}  // namespace fhr_core::analysis
