// Fuzzes the JSON analysis request reader.
//
// Invariants beyond "no crash":
//  * the reader is deterministic;
//  * a failure is one of its documented messages: the JSON layer's "invalid analysis request JSON: <message> at line
//    L column C" with a known message and a line and column that name a real position of the text, the validation
//    messages, the channel message, or "sample N has invalid t: " followed by one of the timestamp parser's messages;
//  * an accepted request is strict JSON: nlohmann/json accepts it too (when it is UTF-8, which that library insists
//    on, and nests at most kMaxCheckedDepth levels), and the samples, values, channel and gestational age read back
//    from that document (in array order, timestamps normalised, then sorted stably) equal the reader's;
//  * the recording comes back sorted, with recounted out_of_order_rows and duplicate_timestamps, every timestamp text
//    parsing back to its instant, and in chunk mode with a 60-second step.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "fhr_core/json_input/request_reader.hpp"
#include "invariants.hpp"

namespace {

using fhr_core::MonitorSample;
using fuzz::require;
using fuzz::starts_with;
using Json = nlohmann::json;

constexpr std::string_view kJsonPrefix = "invalid analysis request JSON: ";

// The JSON layer's messages; the last group continues with a name or a value.
constexpr std::string_view kFixedMessages[] = {
    "EOF while parsing a value", "EOF while parsing an object", "EOF while parsing a list", "EOF while parsing a string",
    "expected value", "expected ident", "expected `:`", "expected `,` or `]`", "expected `,` or `}`",
    "key must be a string", "trailing characters", "trailing comma", "invalid number", "number out of range",
    "invalid escape", "control character (\\u0000-\\u001F) found while parsing a string",
    "lone leading surrogate in hex escape", "unexpected end of hex escape"};
constexpr std::string_view kOpenMessages[] = {
    "missing field `", "duplicate field `", "invalid length ", "invalid type: ", "invalid value: "};
constexpr std::string_view kValidationMessages[] = {
    "analysis request episode_id must not be empty", "analysis request sent_at must not be empty",
    "analysis request samples must not be empty", "analysis_options.max_analysis_minutes must be between 10 and 30"};

std::optional<std::size_t> read_count(std::string_view digits) {
    std::size_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
    return value;
}

// "<message> at line L column C" with L and C those of some offset k of the text: line L exists and its first C bytes
// hold no line feed.
void check_json_layer_message(std::string_view body, std::string_view text) {
    const std::size_t at = body.rfind(" at line ");
    require(at != std::string_view::npos);
    const std::string_view message = body.substr(0, at), where = body.substr(at + 9);
    const std::size_t column_at = where.find(" column ");
    require(column_at != std::string_view::npos);
    const auto line = read_count(where.substr(0, column_at)), column = read_count(where.substr(column_at + 8));
    require(line && column && *line >= 1);
    std::size_t line_start = 0;
    for (std::size_t l = 1; l < *line; ++l) {
        require(text.find('\n', line_start) != std::string_view::npos);
        line_start = text.find('\n', line_start) + 1;
    }
    require(line_start + *column <= text.size() && text.substr(line_start, *column).find('\n') == std::string_view::npos);
    require(std::find(std::begin(kFixedMessages), std::end(kFixedMessages), message) != std::end(kFixedMessages) ||
            std::any_of(std::begin(kOpenMessages), std::end(kOpenMessages),
                        [&](std::string_view open) { return starts_with(message, open) && message.size() > open.size(); }));
}

// Deeper documents are not handed to the library: its DOM copies, compares and writes recursively, and a fuzz input
// may nest thousands of levels.
constexpr std::size_t kMaxCheckedDepth = 256;

// Nesting depth of a text the reader accepted (so strings are well formed).
std::size_t nesting_depth(std::string_view text) {
    std::size_t depth = 0, deepest = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) i += c == '\\' ? 1 : 0, in_string = c != '"';
        else if (c == '"') in_string = true;
        else if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
        else if (c == ']' || c == '}') --depth;
    }
    return deepest;
}

// The library's reading of the text; nothing when the text is not UTF-8 or nests too deeply for it. Any other refusal
// of an accepted text is a fault.
std::optional<Json> parse_document(std::string_view text) {
    if (!fuzz::is_utf8(text) || nesting_depth(text) > kMaxCheckedDepth) return std::nullopt;
    Json document = Json::parse(text.begin(), text.end(), nullptr, false);
    require(!document.is_discarded() && (document.is_object() || document.is_array()));
    return document;
}

// A record field: by key in object form, by position in array form; absent when missing or null.
const Json* field(const Json& record, const char* key, std::size_t index) {
    const Json* found = record.is_object() && record.contains(key)            ? &record[key]
                        : record.is_array() && index < record.size() ? &record[index]
                                                                     : nullptr;
    return found && !found->is_null() ? found : nullptr;
}

std::string_view text_of(const Json& value) {
    require(value.is_string());
    return value.get_ref<const std::string&>();
}

// The library reads "-0" as the integer 0: the sign of a zero is not compared.
std::optional<double> number_field(const Json& sample, const char* key, std::size_t index) {
    const Json* value = field(sample, key, index);
    if (!value) return std::nullopt;
    require(value->is_number());
    return value->get<double>() == 0.0 ? 0.0 : value->get<double>();
}

fhr_core::InputData without_negative_zeros(fhr_core::InputData input) {
    for (MonitorSample& sample : input.samples) {
        for (fhr_core::OptionalValue* value : {&sample.hr1, &sample.hr2, &sample.hr3, &sample.hrm, &sample.toco}) {
            if (*value == 0.0) *value = 0.0;
        }
    }
    return input;
}

// A request that fails on the t of sample N (counted from 1 in array order) is valid JSON, and that t fails to parse
// with exactly the quoted message.
void check_sample_message(std::size_t sample, std::string_view parser_message, std::string_view text) {
    const auto document = parse_document(text);
    if (!document) return;
    const Json* samples = field(*document, "samples", 2);
    require(samples && samples->is_array() && sample >= 1 && sample <= samples->size());
    const Json* t = field((*samples)[sample - 1], "t", 0);
    require(t != nullptr);
    const auto parsed = fhr_core::time::parse_monitor_timestamp(text_of(*t));
    require(!parsed.ok() && parsed.error() == parser_message);
}

void check_message(const std::string& message, std::string_view text) {
    if (starts_with(message, kJsonPrefix)) {
        check_json_layer_message(std::string_view(message).substr(kJsonPrefix.size()), text);
        return;
    }
    if (std::find(std::begin(kValidationMessages), std::end(kValidationMessages), message) != std::end(kValidationMessages) ||
        starts_with(message, "unsupported fetal channel: ")) {
        return;
    }
    const auto sample = fuzz::number_after(message, "sample ", " has invalid t: ");
    require(sample.has_value() && *sample >= 1);
    const std::string head = "sample " + std::to_string(*sample) + " has invalid t: ";
    const std::string_view parser_message = std::string_view(message).substr(head.size());
    require(starts_with(message, head) && fuzz::is_timestamp_message(parser_message));
    check_sample_message(*sample, parser_message, text);
}

void check_against_document(const fhr_core::json_input::AnalysisRequest& request, std::string_view text) {
    const auto document = parse_document(text);
    if (!document) return;
    const Json* samples = field(*document, "samples", 2);
    require(samples && samples->is_array());
    fhr_core::InputData expected;
    std::vector<std::int64_t> arrival;
    for (const Json& element : *samples) {
        const Json* t = field(element, "t", 0);
        require(t != nullptr);
        const std::string_view raw = text_of(*t);
        const auto instant = fhr_core::time::parse_monitor_timestamp(raw);
        require(instant.ok());
        MonitorSample& sample = expected.samples.emplace_back();
        sample.timestamp = fuzz::normalised_timestamp(raw);
        sample.timestamp_ms = *instant;
        std::tie(sample.hr1, sample.hr2, sample.hr3, sample.hrm, sample.toco) =
            std::tuple(number_field(element, "hr1", 1), number_field(element, "hr2", 2), number_field(element, "hr3", 3),
                       number_field(element, "hrm", 4), number_field(element, "toco", 5));
        arrival.push_back(sample.timestamp_ms);
    }
    fuzz::check_recording(request.input, arrival);
    fuzz::sort_and_count(expected, arrival);
    require(fuzz::same_input(without_negative_zeros(request.input), expected));

    // The channel and the gestational age, where the document names them.
    const Json* options = field(*document, "analysis_options", 3);
    const Json* name = options ? field(*options, "fetal_channel", 0) : nullptr;
    const auto channel = fhr_core::FetalChannel::parse(name ? text_of(*name) : "HR1");
    require(channel.ok() && request.config.fetal_channel == *channel);
    const Json* metadata = field(*document, "metadata", 4);
    const Json* value = metadata ? field(*metadata, "gestational_age_weeks", 0) : nullptr;
    require(!value || (value->is_number_unsigned() && value->get<std::uint64_t>() <= 255));
    const auto weeks = value ? std::optional(static_cast<std::uint8_t>(value->get<std::uint64_t>())) : std::nullopt;
    require(request.config.gestational_age_weeks == weeks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto result = fhr_core::json_input::read_analysis_request_json(text);
    const auto again = fhr_core::json_input::read_analysis_request_json(text);
    require(result.ok() == again.ok() && (result.ok() || again.error() == result.error()));
    if (!result.ok()) return check_message(result.error(), text), 0;
    require(fuzz::same_input(result->input, again->input) && !result->input.samples.empty());
    require(!result->config.window_minutes.has_value() && result->config.step_seconds == 60);
    check_against_document(*result, text);
    return 0;
}
