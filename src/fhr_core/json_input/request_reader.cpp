// The JSON analysis request reader.
//
// RapidJSON's SAX reader (iterative, numbers as text) drives the structure;
// the handler below is the request schema as a small state machine and builds
// the samples directly. Every message and position is decided by the reader's
// own error rules (json_errors.hpp, json_scan.hpp), not by RapidJSON:
//  * the handler records, after each event it accepts, where that event ended
//    and in which context the parse stands; on a RapidJSON syntax error the
//    single step after that point is re-read by the strict scanners of
//    json_scan.hpp, which produce the message and position;
//  * every number is re-scanned and converted from the raw text;
//  * decoded strings are checked for a lone low-surrogate escape, which
//    RapidJSON lets through;
//  * a number RapidJSON refuses as too big although it is in range by the
//    rules ("0e400", a long integer part with a negative exponent) leads to a
//    second read of a copy in which every such token is replaced by a
//    same-length zero, the handler taking each number's text from the
//    original.
#include "fhr_core/json_input/request_reader.hpp"

#include <rapidjson/reader.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fhr_core/json_input/json_errors.hpp"
#include "fhr_core/json_input/json_scan.hpp"
#include "fhr_core/model/text.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fhr_core::json_input {
namespace {

// ---------------------------------------------------------------------------
// Input stream over a text of known length: a NUL before the end is an
// ordinary byte for the scanners (RapidJSON sees it as '\0' and stops, and the
// re-read then reports it by the rules).
class TextStream {
public:
    typedef char Ch;

    TextStream(const char* data, std::size_t size) : begin_(data), cur_(data), end_(data + size) {}

    Ch Peek() const { return cur_ != end_ ? *cur_ : '\0'; }
    Ch Take() { return cur_ != end_ ? *cur_++ : '\0'; }
    std::size_t Tell() const { return static_cast<std::size_t>(cur_ - begin_); }

    // Output functions are required by the concept but unused (no in-situ parsing).
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

private:
    const char* begin_;
    const char* cur_;
    const char* end_;
};

// ---------------------------------------------------------------------------
// The schema.

enum class Expect : std::uint8_t {
    Unknown,      // value of an unknown key: any JSON value
    String,       // required string
    OptString,    // optional string
    F64,          // optional double
    U32,          // optional u32
    U8,           // optional u8
    Samples,      // required array of samples
    Request,      // required AnalysisRequest
    Sample,       // required RequestSample
    OptOptions,   // optional AnalysisOptions
    OptMetadata,  // optional RequestMetadata
};

std::string_view expected_word(Expect expect) {
    switch (expect) {
        case Expect::String:
        case Expect::OptString: return "a string";
        case Expect::F64: return "f64";
        case Expect::U32: return "u32";
        case Expect::U8: return "u8";
        case Expect::Samples: return "a sequence";
        case Expect::Request: return "struct AnalysisRequest";
        case Expect::Sample: return "struct RequestSample";
        case Expect::OptOptions: return "struct AnalysisOptions";
        case Expect::OptMetadata: return "struct RequestMetadata";
        case Expect::Unknown: break;
    }
    return "any value";
}

bool is_optional(Expect expect) {
    switch (expect) {
        case Expect::Unknown:
        case Expect::OptString:
        case Expect::F64:
        case Expect::U32:
        case Expect::U8:
        case Expect::OptOptions:
        case Expect::OptMetadata: return true;
        default: return false;
    }
}

bool is_record(Expect expect) {
    return expect == Expect::Request || expect == Expect::Sample || expect == Expect::OptOptions ||
           expect == Expect::OptMetadata;
}

struct FieldSpec {
    std::string_view name;
    Expect type;
};

enum class Record : std::uint8_t { Request, Sample, Options, Metadata };

struct RecordSpec {
    std::string_view struct_name;
    const FieldSpec* fields;
    std::uint8_t count;     // fields in declaration order
    std::uint8_t required;  // the first `required` fields are required
};

constexpr FieldSpec kRequestFields[] = {
    {"episode_id", Expect::String},         {"sent_at", Expect::String},  {"samples", Expect::Samples},
    {"analysis_options", Expect::OptOptions}, {"metadata", Expect::OptMetadata},
};
constexpr FieldSpec kSampleFields[] = {
    {"t", Expect::String}, {"hr1", Expect::F64}, {"hr2", Expect::F64},
    {"hr3", Expect::F64},  {"hrm", Expect::F64}, {"toco", Expect::F64},
};
constexpr FieldSpec kOptionsFields[] = {
    {"fetal_channel", Expect::OptString},
    {"max_analysis_minutes", Expect::U32},
};
constexpr FieldSpec kMetadataFields[] = {
    {"gestational_age_weeks", Expect::U8},
};

constexpr RecordSpec kRecords[] = {
    {"struct AnalysisRequest", kRequestFields, 5, 3},
    {"struct RequestSample", kSampleFields, 6, 1},
    {"struct AnalysisOptions", kOptionsFields, 2, 0},
    {"struct RequestMetadata", kMetadataFields, 1, 0},
};

const RecordSpec& spec_of(Record record) { return kRecords[static_cast<std::size_t>(record)]; }

Record record_of(Expect expect) {
    switch (expect) {
        case Expect::Sample: return Record::Sample;
        case Expect::OptOptions: return Record::Options;
        case Expect::OptMetadata: return Record::Metadata;
        default: return Record::Request;
    }
}

int find_field(const RecordSpec& spec, std::string_view key) {
    if (key.empty()) return -1;
    for (int i = 0; i < spec.count; ++i) {
        const std::string_view name = spec.fields[i].name;
        // Length and first byte first: most keys differ there, and memcmp is a call.
        if (name.size() == key.size() && name[0] == key[0] && name == key) return i;
    }
    return -1;
}

// True when a decoded string holds the UTF-8 form of a surrogate code point
// (RapidJSON encodes a lone \uDC00-\uDFFF escape so; valid input never does).
bool has_surrogate_bytes(const char* data, std::size_t size) {
    // Strings are short (keys, timestamps): a plain loop beats memchr's call cost.
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (static_cast<unsigned char>(data[i]) == 0xED && static_cast<unsigned char>(data[i + 1]) >= 0xA0) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Samples are collected in chunks (stable addresses, no reallocation copies)
// and moved into one exact-size vector at the end.
class SampleStore {
public:
    MonitorSample& add() {
        if (chunks_.empty() || chunks_.back().size() == chunks_.back().capacity()) {
            const std::size_t next = chunks_.empty() ? 16 : std::min<std::size_t>(chunks_.back().capacity() * 2, 8192);
            chunks_.emplace_back();
            chunks_.back().reserve(next);
        }
        ++count_;
        return chunks_.back().emplace_back();
    }

    std::size_t size() const { return count_; }

    std::vector<MonitorSample> take() {
        if (chunks_.size() == 1) return std::move(chunks_.front());
        std::vector<MonitorSample> all;
        all.reserve(count_);
        for (auto& chunk : chunks_) {
            for (auto& sample : chunk) all.push_back(std::move(sample));
            std::vector<MonitorSample>().swap(chunk);
        }
        return all;
    }

private:
    std::vector<std::vector<MonitorSample>> chunks_;
    std::size_t count_ = 0;
};

// What the JSON layer reads, before validation.
struct RawRequest {
    std::string episode_id;
    std::string sent_at;
    SampleStore samples;
    bool options_present = false;
    std::optional<std::string> fetal_channel;
    std::optional<std::uint32_t> max_analysis_minutes;
    std::optional<std::uint8_t> gestational_age_weeks;
};

struct JsonError {
    std::string message;
    std::size_t offset = 0;
};

// ---------------------------------------------------------------------------
// The SAX handler: the request schema as a state machine.
class RequestHandler {
public:
    RequestHandler(std::string_view text, const TextStream& stream, RawRequest& out)
        : text_(text), stream_(stream), out_(out) {}

    // --- RapidJSON handler interface --------------------------------------
    bool Null() {
        pos_ = stream_.Tell();
        if (unknown_depth_ > 0) return value_done();
        const Expect expect = expectation();
        if (is_optional(expect)) return value_done();
        return fail(invalid_type(kFoundNull, expected_word(expect)), pos_);
    }

    bool Bool(bool b) {
        pos_ = stream_.Tell();
        if (unknown_depth_ > 0) return value_done();
        const Expect expect = expectation();
        if (expect == Expect::Unknown) return value_done();
        return fail(invalid_type(b ? kFoundTrue : kFoundFalse, expected_word(expect)), pos_);
    }

    // Never called with kParseNumbersAsStringsFlag; required by the concept.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(std::int64_t) { return false; }
    bool Uint64(std::uint64_t) { return false; }
    bool Double(double) { return false; }

    bool RawNumber(const char*, rapidjson::SizeType length, bool) {
        const std::size_t end = stream_.Tell();
        return number(end - length, end);
    }

    bool String(const char* data, rapidjson::SizeType length, bool) {
        const std::size_t prev = pos_;
        pos_ = stream_.Tell();
        if (has_surrogate_bytes(data, length)) return fail_surrogate(prev);
        if (unknown_depth_ > 0) return value_done();
        const Expect expect = expectation();
        const std::string_view value(data, length);
        if (expect == Expect::Unknown) return value_done();
        if (expect != Expect::String && expect != Expect::OptString) {
            return fail(invalid_type(found_string(value), expected_word(expect)), pos_);
        }
        store_string(value);
        return value_done();
    }

    bool Key(const char* data, rapidjson::SizeType length, bool) {
        const std::size_t prev = pos_;
        pos_ = stream_.Tell();
        phase_ = Phase::AfterKey;
        if (has_surrogate_bytes(data, length)) return fail_surrogate(prev);
        if (unknown_depth_ > 0) return true;
        Frame& frame = frames_[depth_ - 1];
        const RecordSpec& spec = spec_of(frame.record);
        const int field = find_field(spec, std::string_view(data, length));
        frame.field = static_cast<std::int8_t>(field);
        if (field < 0) return true;
        const auto bit = static_cast<std::uint8_t>(1u << field);
        if (frame.seen & bit) {
            return fail(duplicate_field(spec.fields[field].name), duplicate_field_offset(text_, pos_));
        }
        frame.seen |= bit;
        return true;
    }

    bool StartObject() { return start_container(true); }
    bool StartArray() { return start_container(false); }

    bool EndObject(rapidjson::SizeType) {
        const std::size_t close = stream_.Tell();  // the '}' is not consumed yet
        pos_ = close + 1;
        if (unknown_depth_ > 0) return end_unknown();
        const Frame& frame = frames_[depth_ - 1];
        const RecordSpec& spec = spec_of(frame.record);
        for (std::uint8_t i = 0; i < spec.required; ++i) {
            if (!(frame.seen & (1u << i))) return fail(missing_field(spec.fields[i].name), pos_);
        }
        --depth_;
        return value_done();
    }

    bool EndArray(rapidjson::SizeType) {
        const std::size_t close = stream_.Tell();  // the ']' is not consumed yet
        pos_ = close + 1;
        if (unknown_depth_ > 0) return end_unknown();
        const Frame& frame = frames_[depth_ - 1];
        if (frame.kind == Frame::Record) {
            const RecordSpec& spec = spec_of(frame.record);
            if (frame.count < spec.required) {
                return fail(invalid_length(frame.count, spec.struct_name, spec.count), pos_);
            }
        }
        --depth_;
        return value_done();
    }

    // A number token [start, end) of the raw text, from RawNumber or from the
    // re-read after RapidJSON refused it.
    bool number(std::size_t start, std::size_t end) {
        pos_ = end;
        std::size_t scanned_end = end;
        NumberValue value;
        if (auto error = scan_number(text_, start, scanned_end, value)) return fail(*error);
        if (unknown_depth_ > 0) return value_done();
        const Expect expect = expectation();
        switch (expect) {
            case Expect::Unknown: return value_done();
            case Expect::F64: {
                double d = value.d;
                if (value.kind == NumberValue::Unsigned) d = static_cast<double>(value.u);
                if (value.kind == NumberValue::Signed) d = static_cast<double>(value.i);
                current_sample_value() = d;
                return value_done();
            }
            case Expect::U32:
            case Expect::U8: {
                const std::uint64_t max = expect == Expect::U32 ? std::numeric_limits<std::uint32_t>::max()
                                                                : std::numeric_limits<std::uint8_t>::max();
                if (value.kind == NumberValue::Float) {
                    return fail(invalid_type(found_float(value.d), expected_word(expect)), pos_);
                }
                if (value.kind == NumberValue::Signed) {
                    return fail(invalid_value(found_signed(value.i), expected_word(expect)), pos_);
                }
                if (value.u > max) {
                    return fail(invalid_value(found_unsigned(value.u), expected_word(expect)), pos_);
                }
                if (expect == Expect::U32) {
                    out_.max_analysis_minutes = static_cast<std::uint32_t>(value.u);
                } else {
                    out_.gestational_age_weeks = static_cast<std::uint8_t>(value.u);
                }
                return value_done();
            }
            default: break;
        }
        std::string found;
        switch (value.kind) {
            case NumberValue::Unsigned: found = found_unsigned(value.u); break;
            case NumberValue::Signed: found = found_signed(value.i); break;
            case NumberValue::Float: found = found_float(value.d); break;
        }
        return fail(invalid_type(found, expected_word(expect)), pos_);
    }

    // --- state for the re-read ----------------------------------------------
    std::size_t position() const { return pos_; }
    Phase phase() const { return phase_; }
    Container container() const {
        if (unknown_depth_ > 0) return unknown_is_object_.back() ? Container::Object : Container::Array;
        if (depth_ == 0) return Container::Top;
        const Frame& frame = frames_[depth_ - 1];
        if (frame.kind == Frame::Samples || frame.array_form) return Container::Array;
        return Container::Object;
    }
    const std::optional<JsonError>& error() const { return error_; }

private:
    struct Frame {
        enum Kind : std::uint8_t { Record, Samples };
        Kind kind = Record;
        json_input::Record record = json_input::Record::Request;
        bool array_form = false;
        std::uint8_t seen = 0;    // object form: bit i set when field i was given
        std::uint8_t count = 0;   // array form: elements read
        std::int8_t field = -1;   // object form: field of the last key (-1: unknown key)
    };

    Expect expectation() const {
        if (depth_ == 0) return Expect::Request;
        const Frame& frame = frames_[depth_ - 1];
        if (frame.kind == Frame::Samples) return Expect::Sample;
        const RecordSpec& spec = spec_of(frame.record);
        const int field = frame.array_form ? frame.count : frame.field;
        if (field < 0) return Expect::Unknown;
        return spec.fields[field].type;
    }

    int current_field() const {
        const Frame& frame = frames_[depth_ - 1];
        return frame.array_form ? frame.count : frame.field;
    }

    OptionalValue& current_sample_value() {
        switch (current_field()) {
            case 1: return sample_->hr1;
            case 2: return sample_->hr2;
            case 3: return sample_->hr3;
            case 4: return sample_->hrm;
            default: return sample_->toco;
        }
    }

    void store_string(std::string_view value) {
        const Frame& frame = frames_[depth_ - 1];
        const int field = current_field();
        switch (frame.record) {
            case json_input::Record::Request:
                (field == 0 ? out_.episode_id : out_.sent_at).assign(value);
                break;
            case json_input::Record::Sample: sample_->timestamp.assign(value); break;
            case json_input::Record::Options: out_.fetal_channel.emplace(value); break;
            case json_input::Record::Metadata: break;
        }
    }

    bool start_container(bool object) {
        const std::size_t open = stream_.Tell();  // the bracket is not consumed yet
        if (unknown_depth_ == 0) {
            const Expect expect = expectation();
            if (expect != Expect::Unknown) {
                if (expect == Expect::Samples && !object) {
                    push(Frame{Frame::Samples, json_input::Record::Request, true, 0, 0, -1});
                } else if (is_record(expect)) {
                    const json_input::Record record = record_of(expect);
                    push(Frame{Frame::Record, record, !object, 0, 0, -1});
                    if (record == json_input::Record::Sample) sample_ = &out_.samples.add();
                    if (record == json_input::Record::Options) out_.options_present = true;
                } else {
                    return fail(invalid_type(object ? kFoundMap : kFoundSequence, expected_word(expect)), open);
                }
                pos_ = open + 1;
                phase_ = Phase::Open;
                return true;
            }
        }
        ++unknown_depth_;
        unknown_is_object_.push_back(object);
        pos_ = open + 1;
        phase_ = Phase::Open;
        return true;
    }

    void push(const Frame& frame) { frames_[depth_++] = frame; }

    bool end_unknown() {
        --unknown_depth_;
        unknown_is_object_.pop_back();
        return value_done();
    }

    // A value ended in the current context.
    bool value_done() {
        phase_ = Phase::AfterValue;
        if (unknown_depth_ > 0 || depth_ == 0) return true;
        Frame& frame = frames_[depth_ - 1];
        if (frame.kind == Frame::Record && frame.array_form) {
            ++frame.count;
            if (frame.count == spec_of(frame.record).count) {
                if (auto error = check_record_array_closed(text_, pos_)) return fail(*error);
            }
        }
        return true;
    }

    bool fail(std::string message, std::size_t offset) {
        error_ = JsonError{std::move(message), offset};
        return false;
    }
    bool fail(const ScanError& error) { return fail(std::string(error.message), error.offset); }

    // A decoded string held a lone low surrogate: find the escape in the raw
    // string, which starts after the previous event's end.
    bool fail_surrogate(std::size_t prev) {
        const std::size_t start = next_token_offset(text_, prev);
        std::size_t end = 0;
        if (start < text_.size() && text_[start] == '"') {
            if (auto error = scan_string(text_, start, end)) return fail(*error);
        }
        return fail(std::string(msg::kLoneLeadingSurrogate), pos_);
    }

    std::string_view text_;  // the original text (numbers and re-reads use it)
    const TextStream& stream_;
    RawRequest& out_;
    MonitorSample* sample_ = nullptr;

    Frame frames_[4];
    std::size_t depth_ = 0;
    std::size_t unknown_depth_ = 0;
    std::vector<bool> unknown_is_object_;

    std::size_t pos_ = 0;
    Phase phase_ = Phase::Open;
    std::optional<JsonError> error_;
};

constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseStopWhenDoneFlag;

enum class PassOutcome { Ok, Error, NeedRescue };

// One read of `stream_text` (the original, or its copy with zeroed numbers)
// with the handler reading strings' positions and numbers from `text`.
PassOutcome read_pass(std::string_view text, std::string_view stream_text, bool rescue, RawRequest& out,
                      JsonError& error) {
    TextStream stream(stream_text.data(), stream_text.size());
    RequestHandler handler(text, stream, out);
    rapidjson::Reader reader;
    const rapidjson::ParseResult result = reader.Parse<kParseFlags>(stream, handler);
    if (!result.IsError()) {
        if (auto trailing = check_trailing(text, handler.position())) {
            error = JsonError{std::string(trailing->message), trailing->offset};
            return PassOutcome::Error;
        }
        return PassOutcome::Ok;
    }
    if (handler.error()) {
        error = *handler.error();
        return PassOutcome::Error;
    }
    // A RapidJSON syntax error: re-read the step after the last accepted event.
    const ResumeResult step = resume_step(text, handler.position(), handler.container(), handler.phase());
    switch (step.kind) {
        case ResumeResult::Error:
            error = JsonError{std::string(step.error.message), step.error.offset};
            return PassOutcome::Error;
        case ResumeResult::Number:
            if (!handler.number(step.start, step.end)) {
                error = *handler.error();
                return PassOutcome::Error;
            }
            if (!rescue) return PassOutcome::NeedRescue;
            break;
        case ResumeResult::Nothing: break;
    }
    // Not reachable when the scanners and RapidJSON agree; report RapidJSON's
    // offset rather than nothing.
    error = JsonError{std::string(msg::kExpectedValue), result.Offset() + 1};
    return PassOutcome::Error;
}

Failure json_failure(std::string_view text, const JsonError& error) {
    std::string message(kInvalidRequestPrefix);
    message += with_position(text, error.message, error.offset);
    return Failure{std::move(message)};
}

// `t` trimmed, trailing "Z"s removed, every "T" replaced by a blank.
void normalise_timestamp(InlineText& text) {
    std::string_view normal = trim_white_space(text.view());
    while (!normal.empty() && normal.back() == 'Z') normal.remove_suffix(1);
    if (normal.find('T') == std::string_view::npos) {
        if (normal.size() != text.size()) text.assign(normal);
        return;
    }
    std::string replaced(normal);
    for (char& c : replaced) {
        if (c == 'T') c = ' ';
    }
    text.assign(replaced);
}

}  // namespace

Result<AnalysisRequest> read_analysis_request_json(std::string_view text) {
    RawRequest raw;
    JsonError error;
    PassOutcome outcome = read_pass(text, text, false, raw, error);
    if (outcome == PassOutcome::NeedRescue) {
        const std::string zeroed = zero_number_tokens(text);
        raw = RawRequest{};
        outcome = read_pass(text, zeroed, true, raw, error);
    }
    if (outcome != PassOutcome::Ok) return json_failure(text, error);

    if (trim_white_space(raw.episode_id).empty()) {
        return Failure{"analysis request episode_id must not be empty"};
    }
    if (trim_white_space(raw.sent_at).empty()) {
        return Failure{"analysis request sent_at must not be empty"};
    }
    if (raw.samples.size() == 0) return Failure{"analysis request samples must not be empty"};

    AnalysisRequest request;
    request.config.window_minutes = std::nullopt;
    request.config.step_seconds = 60;
    request.config.gestational_age_weeks = raw.gestational_age_weeks;
    request.config.fetal_channel = FetalChannel::HR1;
    if (raw.options_present) {
        if (raw.fetal_channel) {
            auto channel = FetalChannel::parse(*raw.fetal_channel);
            if (!channel) return Failure{std::move(channel).error()};
            request.config.fetal_channel = *channel;
        }
        if (raw.max_analysis_minutes && (*raw.max_analysis_minutes < 10 || *raw.max_analysis_minutes > 30)) {
            return Failure{"analysis_options.max_analysis_minutes must be between 10 and 30"};
        }
    }

    std::vector<MonitorSample> samples = raw.samples.take();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        MonitorSample& sample = samples[i];
        auto parsed = time::parse_monitor_timestamp(sample.timestamp);
        if (!parsed) {
            return Failure{"sample " + std::to_string(i + 1) + " has invalid t: " + std::move(parsed).error()};
        }
        sample.timestamp_ms = *parsed;
        normalise_timestamp(sample.timestamp);
    }
    request.input.samples = std::move(samples);
    finish_input(request.input);
    return request;
}

}  // namespace fhr_core::json_input
