// The JSON analysis request reader.
//
// One pass over the bytes, left to right, without recursion: the request
// schema is a state machine over an explicit stack of the open typed records
// (at most three deep), and the values of unknown keys, which may nest to any
// depth, keep one byte per open container. Every step knows its context
// (value expected, key expected, after a value) and decides right there what
// may come next, the error for anything else and the offset it stands at.
#include "fhr_core/json_input/request_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fhr_core/json_input/json_errors.hpp"
#include "fhr_core/json_input/json_tokens.hpp"
#include "fhr_core/model/text.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fhr_core::json_input {
namespace {

// ---------------------------------------------------------------------------
// The schema.

// What the next value must be.
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

constexpr std::string_view kExpectedWords[] = {
    "any value", "a string", "a string", "f64", "u32", "u8", "a sequence",
    "struct AnalysisRequest", "struct RequestSample", "struct AnalysisOptions", "struct RequestMetadata",
};

std::string_view expected_word(Expect expect) { return kExpectedWords[static_cast<std::size_t>(expect)]; }

bool is_optional(Expect expect) {
    return expect == Expect::Unknown || expect == Expect::OptString || expect == Expect::F64 ||
           expect == Expect::U32 || expect == Expect::U8 || expect == Expect::OptOptions ||
           expect == Expect::OptMetadata;
}

bool is_record(Expect expect) { return expect >= Expect::Request; }

struct FieldSpec {
    std::string_view name;
    Expect type;
    // For names of up to 7 bytes, the name and its closing quote as the 8
    // bytes they occupy in the text, and the mask of those bytes (longer
    // names: a pattern that never matches).
    std::uint64_t quoted = 1;
    std::uint64_t mask = 0;

    constexpr FieldSpec(std::string_view field_name, Expect field_type) : name(field_name), type(field_type) {
        if (name.size() > 7) return;
        std::array<char, 8> bytes{};
        std::array<char, 8> ones{};
        for (std::size_t i = 0; i <= name.size(); ++i) {
            bytes[i] = i < name.size() ? name[i] : '"';
            ones[i] = static_cast<char>(0xFF);
        }
        quoted = std::bit_cast<std::uint64_t>(bytes);
        mask = std::bit_cast<std::uint64_t>(ones);
    }
};

// The open typed containers: the four records (in their order in Expect),
// and the samples array.
enum class Kind : std::uint8_t { Request, Sample, Options, Metadata, Samples };

struct RecordSpec {
    const FieldSpec* fields;
    std::uint8_t count;     // fields in declaration order
    std::uint8_t required;  // the first `required` fields are required
};

constexpr FieldSpec kRequestFields[] = {
    {"episode_id", Expect::String},           {"sent_at", Expect::String},       {"samples", Expect::Samples},
    {"analysis_options", Expect::OptOptions}, {"metadata", Expect::OptMetadata},
};
constexpr FieldSpec kSampleFields[] = {
    {"t", Expect::String}, {"hr1", Expect::F64}, {"hr2", Expect::F64},
    {"hr3", Expect::F64},  {"hrm", Expect::F64}, {"toco", Expect::F64},
};
constexpr FieldSpec kOptionsFields[] = {{"fetal_channel", Expect::OptString}, {"max_analysis_minutes", Expect::U32}};
constexpr FieldSpec kMetadataFields[] = {{"gestational_age_weeks", Expect::U8}};

constexpr RecordSpec kRecords[] = {
    {kRequestFields, 5, 3},
    {kSampleFields, 6, 1},
    {kOptionsFields, 2, 0},
    {kMetadataFields, 1, 0},
};

const RecordSpec& spec_of(Kind kind) { return kRecords[static_cast<std::size_t>(kind)]; }

std::string_view record_name(Kind kind) {
    return expected_word(static_cast<Expect>(static_cast<std::size_t>(Expect::Request) + static_cast<std::size_t>(kind)));
}

int find_field(const RecordSpec& spec, std::string_view key) {
    for (int i = 0; i < spec.count; ++i) {
        if (spec.fields[i].name == key) return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// What the reader collects, before validation.

// Samples are collected in chunks (no reallocation copies) and moved into
// one vector at the end. Once the first chunk is full, it is grown once to
// hold as many samples as the rest of the text would at the length of the
// first ones (with a small margin), so that a whole request usually fills
// that one chunk and nothing is moved.
class SampleStore {
public:
    // The sample whose opening brace is at `at` in a text of `text_size` bytes.
    MonitorSample& add(std::size_t at, std::size_t text_size) {
        constexpr std::size_t kFirstChunk = 16;
        constexpr std::size_t kLongestChunk = 8192;
        if (count_ == 0) first_at_ = at;
        if (count_ == kFirstChunk && chunks_.size() == 1) {
            const std::size_t sampled = at - first_at_;
            const std::size_t rest = text_size - at;
            const std::size_t more = rest / sampled * count_ + rest % sampled * count_ / sampled;
            chunks_.front().reserve(count_ + more + more / 32);
        }
        if (chunks_.empty() || chunks_.back().size() == chunks_.back().capacity()) {
            const std::size_t next =
                chunks_.empty() ? kFirstChunk : std::min<std::size_t>(2 * chunks_.back().capacity(), kLongestChunk);
            chunks_.emplace_back().reserve(next);
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
            std::move(chunk.begin(), chunk.end(), std::back_inserter(all));
            std::vector<MonitorSample>().swap(chunk);
        }
        return all;
    }

private:
    std::vector<std::vector<MonitorSample>> chunks_;
    std::size_t count_ = 0;
    std::size_t first_at_ = 0;  // where the first sample starts
};

struct RawRequest {
    std::string episode_id;
    std::string sent_at;
    SampleStore samples;
    std::optional<std::string> first_bad_t;  // "sample N has invalid t: …" of the first such sample
    bool options_present = false;
    std::optional<std::string> fetal_channel;
    std::optional<std::uint32_t> max_analysis_minutes;
    std::optional<std::uint8_t> gestational_age_weeks;
};

// `t` trimmed, trailing "Z"s removed, every "T" replaced by a blank.
void set_timestamp(MonitorSample& sample, std::string_view t) {
    std::string_view normal = trim_white_space(t);
    while (!normal.empty() && normal.back() == 'Z') normal.remove_suffix(1);
    if (normal.find('T') == std::string_view::npos) {
        sample.timestamp.assign(normal);
        return;
    }
    std::string replaced(normal);
    std::replace(replaced.begin(), replaced.end(), 'T', ' ');
    sample.timestamp.assign(replaced);
}

// ---------------------------------------------------------------------------
// The reader.

class RequestReader {
public:
    RequestReader(std::string_view text, RawRequest& out) : text_(text), out_(out) {}

    // Reads the whole text; false with the message and offset on the first error.
    bool read() {
        std::size_t p = 0;  // a local, not a member: char stores cannot alias it
        Step step = Step::Value;
        while (step != Step::Done) {
            switch (step) {
                case Step::Value: step = value(p); break;
                case Step::Key: step = key(p); break;
                case Step::Next: step = next(p); break;
                case Step::Failed: return false;
                case Step::Done: break;
            }
        }
        return true;
    }

    const std::string& error_message() const { return error_; }
    std::size_t error_offset() const { return error_offset_; }

private:
    enum class Step : std::uint8_t { Value, Key, Next, Done, Failed };

    struct Frame {
        Kind kind = Kind::Request;
        bool array_form = false;
        std::uint8_t seen = 0;   // object form: bit i set when field i was given
        std::uint8_t count = 0;  // array form: elements read
        std::int8_t field = -1;  // object form: field of the last key (-1: unknown key)
    };

    // --- failing -------------------------------------------------------------
    Step fail(std::string message, std::size_t offset) {
        error_ = std::move(message);
        error_offset_ = offset;
        return Step::Failed;
    }
    Step fail(Scanned error) { return fail(std::string(message(error.error)), error.offset); }
    Step fail_at(SyntaxError error, std::size_t j) { return fail(Scanned{error, j + 1}); }
    Step fail_at_end(SyntaxError error) { return fail(Scanned{error, text_.size()}); }

    // --- where the reader stands ------------------------------------------------
    bool in_unknown() const { return !unknown_.empty(); }
    Frame& top() { return frames_[depth_ - 1]; }

    int current_field() const {
        const Frame& frame = frames_[depth_ - 1];
        return frame.array_form ? frame.count : frame.field;
    }

    Expect expectation() const {
        if (in_unknown()) return Expect::Unknown;
        if (depth_ == 0) return Expect::Request;
        const Frame& frame = frames_[depth_ - 1];
        if (frame.kind == Kind::Samples) return Expect::Sample;
        const int field = current_field();
        return field < 0 ? Expect::Unknown : spec_of(frame.kind).fields[field].type;
    }

    // --- values ---------------------------------------------------------------
    Step value(std::size_t& p) {
        p = skip_space(text_, p);
        if (p == text_.size()) return fail_at_end(SyntaxError::EofValue);
        const Expect expect = expectation();
        const char c = text_[p];
        switch (c) {
            case '{':
            case '[': return open(expect, c == '{', p);
            case '"': return string(expect, p);
            case 'n':
            case 't':
            case 'f': {
                const Scanned literal = scan_literal(text_, p);
                if (literal.failed()) return fail(literal);
                p = literal.offset;
                if (c == 'n' ? is_optional(expect) : expect == Expect::Unknown) return Step::Next;
                const std::string_view found = c == 'n' ? kFoundNull : c == 't' ? kFoundTrue : kFoundFalse;
                return fail(invalid_type(found, expected_word(expect)), p);
            }
            default:
                if (c == '-' || (c >= '0' && c <= '9')) return number(expect, p);
                return fail_at(SyntaxError::ExpectedValue, p);
        }
    }

    Step open(Expect expect, bool object, std::size_t& p) {
        if (expect == Expect::Unknown) {
            unknown_.push_back(object);
        } else if (expect == Expect::Samples && !object) {
            frames_[depth_++] = Frame{Kind::Samples, true};
        } else if (is_record(expect)) {
            const auto kind = static_cast<Kind>(static_cast<std::size_t>(expect) - static_cast<std::size_t>(Expect::Request));
            frames_[depth_++] = Frame{kind, !object};
            if (kind == Kind::Sample) sample_ = &out_.samples.add(p, text_.size());
            if (kind == Kind::Options) out_.options_present = true;
        } else {
            // k is the offset of the bracket itself.
            return fail(invalid_type(object ? kFoundMap : kFoundSequence, expected_word(expect)), p);
        }
        p = skip_space(text_, p + 1);
        if (p == text_.size()) return fail_at_end(object ? SyntaxError::EofObject : SyntaxError::EofList);
        if (text_[p] == (object ? '}' : ']')) return close(p);
        if (!object) return Step::Value;
        if (text_[p] == '"') return Step::Key;
        return fail_at(SyntaxError::KeyMustBeString, p);
    }

    Step string(Expect expect, std::size_t& p) {
        std::string_view decoded;
        const Scanned token = scan_string(text_, p, scratch_, decoded);
        if (token.failed()) return fail(token);
        p = token.offset;
        if (expect == Expect::Unknown) return Step::Next;
        if (expect != Expect::String && expect != Expect::OptString) {
            return fail(invalid_type(found_string(decoded), expected_word(expect)), p);
        }
        const Kind kind = top().kind;
        if (kind == Kind::Sample) {
            set_t(decoded);
        } else if (kind == Kind::Options) {
            out_.fetal_channel.emplace(decoded);
        } else {
            (current_field() == 0 ? out_.episode_id : out_.sent_at).assign(decoded);
        }
        return Step::Next;
    }

    void set_t(std::string_view t) {
        auto instant = timestamps_.parse(t);
        if (instant) {
            sample_->timestamp_ms = *instant;
        } else if (!out_.first_bad_t) {
            out_.first_bad_t = "sample " + std::to_string(out_.samples.size()) + " has invalid t: " + instant.error();
        }
        set_timestamp(*sample_, t);
    }

    Step number(Expect expect, std::size_t& p) {
        Number value;
        const Scanned token = scan_number(text_, p, value);
        if (token.failed()) return fail(token);
        p = token.offset;
        if (expect == Expect::Unknown) return Step::Next;
        if (expect == Expect::F64) {
            const double d = value.kind == Number::Unsigned ? static_cast<double>(value.u)
                             : value.kind == Number::Signed ? static_cast<double>(value.i)
                                                            : value.d;
            switch (current_field()) {
                case 1: sample_->hr1 = d; break;
                case 2: sample_->hr2 = d; break;
                case 3: sample_->hr3 = d; break;
                case 4: sample_->hrm = d; break;
                default: sample_->toco = d; break;
            }
            return Step::Next;
        }
        if (expect == Expect::U32 || expect == Expect::U8) {
            const std::uint64_t max = expect == Expect::U32 ? std::numeric_limits<std::uint32_t>::max()
                                                            : std::numeric_limits<std::uint8_t>::max();
            if (value.kind == Number::Float) return fail(invalid_type(found_float(value.d), expected_word(expect)), p);
            if (value.kind == Number::Signed) return fail(invalid_value(found_signed(value.i), expected_word(expect)), p);
            if (value.u > max) return fail(invalid_value(found_unsigned(value.u), expected_word(expect)), p);
            if (expect == Expect::U32) {
                out_.max_analysis_minutes = static_cast<std::uint32_t>(value.u);
            } else {
                out_.gestational_age_weeks = static_cast<std::uint8_t>(value.u);
            }
            return Step::Next;
        }
        const std::string found = value.kind == Number::Unsigned ? found_unsigned(value.u)
                                  : value.kind == Number::Signed ? found_signed(value.i)
                                                                 : found_float(value.d);
        return fail(invalid_type(found, expected_word(expect)), p);
    }

    // --- members of objects ----------------------------------------------------
    // A key at p (its opening quote), then the colon.
    Step key(std::size_t& p) {
        const int plain = in_unknown() ? -1 : plain_field(spec_of(top().kind), p);
        std::string_view decoded;
        if (plain < 0) {
            const Scanned token = scan_string(text_, p, scratch_, decoded);
            if (token.failed()) return fail(token);
            p = token.offset;
        }
        if (!in_unknown()) {
            Frame& frame = top();
            const RecordSpec& spec = spec_of(frame.kind);
            const int field = plain >= 0 ? plain : find_field(spec, decoded);
            frame.field = static_cast<std::int8_t>(field);
            if (field >= 0) {
                const auto bit = static_cast<std::uint8_t>(1u << field);
                if (frame.seen & bit) {
                    // After the key, the white space after it and a closing brace.
                    const std::size_t q = skip_space(text_, p);
                    return fail(duplicate_field(spec.fields[field].name), q < text_.size() && text_[q] == '}' ? q + 1 : q);
                }
                frame.seen |= bit;
            }
        }
        p = skip_space(text_, p);
        if (p == text_.size()) return fail_at_end(SyntaxError::EofObject);
        if (text_[p] != ':') return fail_at(SyntaxError::ExpectedColon, p);
        ++p;
        return Step::Value;
    }

    // The field whose short name the text at p holds as a plain quoted key,
    // by one 8-byte comparison per field, without branches (names differ, so
    // at most one matches); p moves past the key. -1 otherwise.
    int plain_field(const RecordSpec& spec, std::size_t& p) {
        if (text_.size() - p < 9) return -1;
        std::uint64_t word;
        std::memcpy(&word, text_.data() + p + 1, 8);
        int field = -1;
        for (int i = 0; i < spec.count; ++i) {
            field = (word & spec.fields[i].mask) == spec.fields[i].quoted ? i : field;
        }
        if (field >= 0) p += spec.fields[field].name.size() + 2;
        return field;
    }

    // --- after a value ------------------------------------------------------------
    Step next(std::size_t& p) {
        if (!in_unknown()) {
            if (depth_ == 0) {
                p = skip_space(text_, p);
                if (p < text_.size()) return fail_at(SyntaxError::TrailingCharacters, p);
                return Step::Done;
            }
            Frame& frame = top();
            if (frame.array_form && frame.kind != Kind::Samples && ++frame.count == spec_of(frame.kind).count) {
                return after_last_field(p);
            }
        }
        const bool object = in_unknown() ? unknown_.back() : !top().array_form;
        p = skip_space(text_, p);
        if (p == text_.size()) return fail_at_end(object ? SyntaxError::EofObject : SyntaxError::EofList);
        const char c = text_[p];
        if (c == (object ? '}' : ']')) return close(p);
        if (c != ',') {
            return fail_at(object ? SyntaxError::ExpectedCommaOrBrace : SyntaxError::ExpectedCommaOrBracket, p);
        }
        p = skip_space(text_, p + 1);
        if (p == text_.size()) return fail_at_end(SyntaxError::EofValue);
        if (text_[p] == (object ? '}' : ']')) return fail_at(SyntaxError::TrailingComma, p);
        if (!object) return Step::Value;
        if (text_[p] == '"') return Step::Key;
        return fail_at(SyntaxError::KeyMustBeString, p);
    }

    // A record written as an array holds all its fields: only its `]` may follow.
    Step after_last_field(std::size_t& p) {
        p = skip_space(text_, p);
        if (p == text_.size()) return fail_at_end(SyntaxError::EofList);
        if (text_[p] == ']') return close(p);
        if (text_[p] == ',') {
            const std::size_t q = skip_space(text_, p + 1);
            if (q == text_.size()) return fail_at_end(SyntaxError::TrailingCharacters);
            if (text_[q] == ']') return fail_at(SyntaxError::TrailingComma, q);
            return fail_at(SyntaxError::TrailingCharacters, q);
        }
        return fail_at(SyntaxError::TrailingCharacters, p);
    }

    // The closing bracket at p ends the innermost container.
    Step close(std::size_t& p) {
        ++p;
        if (in_unknown()) {
            unknown_.pop_back();
            return Step::Next;
        }
        const Frame& frame = top();
        if (frame.kind != Kind::Samples) {
            const RecordSpec& spec = spec_of(frame.kind);
            if (frame.array_form && frame.count < spec.required) {
                return fail(invalid_length(frame.count, record_name(frame.kind), spec.count), p);
            }
            for (std::uint8_t i = 0; !frame.array_form && i < spec.required; ++i) {
                if (!(frame.seen & (1u << i))) return fail(missing_field(spec.fields[i].name), p);
            }
        }
        --depth_;
        return Step::Next;
    }

    std::string_view text_;
    RawRequest& out_;
    Frame frames_[3];
    std::size_t depth_ = 0;
    std::vector<std::uint8_t> unknown_;  // open containers of an unknown key's value: 1 for an object
    MonitorSample* sample_ = nullptr;
    time::TimestampSequence timestamps_;  // of the samples' t, in the order read
    std::string scratch_;  // decoded strings that hold escapes
    std::string error_;
    std::size_t error_offset_ = 0;
};

}  // namespace

Result<AnalysisRequest> read_analysis_request_json(std::string_view text) {
    RawRequest raw;
    RequestReader reader(text, raw);
    if (!reader.read()) return Failure{request_json_failure(text, reader.error_message(), reader.error_offset())};

    if (trim_white_space(raw.episode_id).empty()) return Failure{"analysis request episode_id must not be empty"};
    if (trim_white_space(raw.sent_at).empty()) return Failure{"analysis request sent_at must not be empty"};
    if (raw.samples.size() == 0) return Failure{"analysis request samples must not be empty"};

    AnalysisRequest request;
    request.config.window_minutes = std::nullopt;  // a request is analyzed as one chunk
    request.config.gestational_age_weeks = raw.gestational_age_weeks;
    request.config.fetal_channel = FetalChannel::HR1;
    if (raw.options_present) {
        if (raw.fetal_channel) {
            auto channel = FetalChannel::parse(*raw.fetal_channel);
            if (!channel) return Failure{std::move(channel).error()};
            request.config.fetal_channel = *channel;
        }
        if (raw.max_analysis_minutes && !window_minutes_allowed(*raw.max_analysis_minutes)) {
            return Failure{"analysis_options.max_analysis_minutes must be " + window_minutes_bounds_text()};
        }
    }
    if (raw.first_bad_t) return Failure{std::move(*raw.first_bad_t)};

    request.input.samples = raw.samples.take();
    finish_input(request.input);
    return request;
}

}  // namespace fhr_core::json_input
