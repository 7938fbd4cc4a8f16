// Tests of the JSON analysis request reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fhr_core/json_input/json_errors.hpp"
#include "fhr_core/json_input/json_tokens.hpp"
#include "fhr_core/json_input/request_reader.hpp"

namespace fhr_core::json_input {
namespace {

using namespace detail;

constexpr std::string_view kPrefix = "invalid analysis request JSON: ";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << path;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string data_path(const char* name) { return std::string(CORVANE_SOURCE_DIR) + "/tests/data/" + name; }

// ---------------------------------------------------------------------------
// Every case of tests/data/json-error-cases.jsonl.

struct ErrorCase {
    std::size_t line = 0;
    std::string input;
    std::optional<std::string> expected;
};

// A line is {"input": "…", "expected": "…" or null}; the strings are decoded
// with the reader's own string scanner.
std::vector<ErrorCase> load_error_cases() {
    std::vector<ErrorCase> cases;
    std::istringstream lines(read_file(data_path("json-error-cases.jsonl")));
    std::string line;
    std::string scratch;
    for (std::size_t number = 1; std::getline(lines, line); ++number) {
        ErrorCase c;
        c.line = number;
        std::string_view value;
        const Scanned input = scan_string(line, line.find('"', line.find(':')), scratch, value);
        EXPECT_FALSE(input.failed()) << "line " << number;
        c.input = value;
        const std::size_t p = line.find(':', input.offset) + 2;
        if (line[p] == '"') {
            EXPECT_FALSE(scan_string(line, p, scratch, value).failed()) << "line " << number;
            c.expected.emplace(value);
        }
        cases.push_back(std::move(c));
    }
    return cases;
}

TEST(JsonRequestErrors, EveryCaseOfTheTable) {
    const auto cases = load_error_cases();
    ASSERT_EQ(cases.size(), 406u);
    std::size_t failures = 0;
    for (const auto& c : cases) {
        const auto result = read_analysis_request_json(c.input);
        if (c.expected) {
            const std::string want = std::string(kPrefix) + *c.expected;
            const std::string got = result.ok() ? std::string("<accepted>") : result.error();
            if (got != want) ++failures;
            EXPECT_EQ(got, want) << "case line " << c.line << " input: " << c.input;
        } else {
            const bool json_ok = result.ok() || result.error().rfind(kPrefix, 0) != 0;
            if (!json_ok) ++failures;
            EXPECT_TRUE(json_ok) << "case line " << c.line << " input: " << c.input
                                 << "\n got: " << result.error();
        }
    }
    EXPECT_EQ(failures, 0u);
}

// ---------------------------------------------------------------------------
// Successful requests.

std::string request_with_samples(const std::string& samples, const std::string& extra = "") {
    return R"({"episode_id":"ep","sent_at":"2024-05-01T10:00:00Z","samples":[)" + samples + "]" + extra + "}";
}

AnalysisRequest read_ok(const std::string& text) {
    auto result = read_analysis_request_json(text);
    EXPECT_TRUE(result.ok()) << text << "\n -> " << (result.ok() ? "" : result.error());
    if (!result.ok()) return AnalysisRequest{};
    return std::move(result).value();
}

std::string read_error(const std::string& text) {
    auto result = read_analysis_request_json(text);
    EXPECT_FALSE(result.ok()) << text;
    return result.ok() ? std::string() : result.error();
}

TEST(JsonRequestRead, MinimalRequest) {
    const auto request = read_ok(request_with_samples(R"({"t":"2024-05-01 09:59:00"})"));
    ASSERT_EQ(request.input.samples.size(), 1u);
    const auto& s = request.input.samples[0];
    EXPECT_FALSE(s.hr1 || s.hr2 || s.hr3 || s.hrm || s.toco);
    EXPECT_EQ(s.timestamp, "2024-05-01 09:59:00");
    EXPECT_EQ(s.timestamp_ms, 1714557540000);
    EXPECT_EQ(request.config.fetal_channel, FetalChannel::HR1);
    EXPECT_FALSE(request.config.gestational_age_weeks);
    EXPECT_FALSE(request.config.window_minutes);
    EXPECT_EQ(request.config.step_seconds, 60u);
    EXPECT_EQ(request.input.out_of_order_rows, 0u);
    EXPECT_EQ(request.input.duplicate_timestamps, 0u);
}

TEST(JsonRequestRead, ValuesAreCopiedExactly) {
    const auto request = read_ok(request_with_samples(
        R"({"t":"2024-05-01T09:59:00Z","hr1":140,"hr2":null,"hr3":141.5,"hrm":-3e2,"toco":0.1},)"
        R"({"toco":1e-400,"hr1":18446744073709551616,"hr2":-0,"hr3":1.7976931348623158e308,"t":"2024-05-01T09:59:01Z"})"));
    ASSERT_EQ(request.input.samples.size(), 2u);
    const auto& a = request.input.samples[0];
    EXPECT_EQ(a.hr1, 140.0);
    EXPECT_FALSE(a.hr2);
    EXPECT_EQ(a.hr3, 141.5);
    EXPECT_EQ(a.hrm, -300.0);
    EXPECT_EQ(a.toco, 0.1);
    const auto& b = request.input.samples[1];
    EXPECT_EQ(b.hr1, 18446744073709551616.0);
    ASSERT_TRUE(b.hr2);
    EXPECT_EQ(*b.hr2, 0.0);
    EXPECT_TRUE(std::signbit(*b.hr2));
    EXPECT_EQ(b.hr3, std::numeric_limits<double>::max());
    ASSERT_TRUE(b.toco);
    EXPECT_EQ(*b.toco, 0.0);
    EXPECT_FALSE(b.hrm);
}

TEST(JsonRequestRead, ExtremeNumbersInRange) {
    // In range although their exponents or digit counts are extreme.
    const std::string big_then_small = std::string(400, '1') + "e-398";
    const auto request = read_ok(request_with_samples(
        R"({"t":"2024-05-01 09:59:00","hr1":0e400,"hr2":)" + big_then_small +
            R"(,"hr3":-0.0000e2147483648,"hrm":0e99999999999,"x":[0e999,)" + big_then_small + "]}",
        R"(,"extra":0E+500)"));
    ASSERT_EQ(request.input.samples.size(), 1u);
    const auto& s = request.input.samples[0];
    EXPECT_EQ(s.hr1, 0.0);
    ASSERT_TRUE(s.hr2);
    EXPECT_DOUBLE_EQ(*s.hr2, 11.111111111111111);
    ASSERT_TRUE(s.hr3);
    EXPECT_TRUE(std::signbit(*s.hr3));
    EXPECT_EQ(s.hrm, 0.0);

    // Errors after such a number are still found, with positions in the original text.
    EXPECT_EQ(read_error(request_with_samples(R"({"t":"x","hr1":0e400,"hr2":"1"})")),
              std::string(kPrefix) + "invalid type: string \"1\", expected f64 at line 1 column 93");
    EXPECT_EQ(read_error(R"({"a":0e400,"a":1e400})"),
              std::string(kPrefix) + "number out of range at line 1 column 20");
    EXPECT_EQ(read_error(R"({"a":0e400,"episode_id":1e400})"),
              std::string(kPrefix) + "number out of range at line 1 column 29");
    EXPECT_EQ(read_error("{\"a\":0e400,\n\"b\":01}"),
              std::string(kPrefix) + "invalid number at line 2 column 6");
}

TEST(JsonRequestRead, TimestampNormalisation) {
    const auto request = read_ok(request_with_samples(
        R"({"t":" 2024-03-10T14:05:09.250Z\u00a0"},{"t":"2024-03-10T14:05:10+01:00"},{"t":"2024-03-10 14:05:11"})"));
    ASSERT_EQ(request.input.samples.size(), 3u);
    // Sorted by time: +01:00 is an hour earlier.
    EXPECT_EQ(request.input.samples[0].timestamp, "2024-03-10 14:05:10+01:00");
    EXPECT_EQ(request.input.samples[1].timestamp, "2024-03-10 14:05:09.250");
    EXPECT_EQ(request.input.samples[1].timestamp_ms, 1710079509250);
    EXPECT_EQ(request.input.samples[2].timestamp, "2024-03-10 14:05:11");
    EXPECT_EQ(request.input.out_of_order_rows, 1u);
}

TEST(JsonRequestRead, SortingAndCounts) {
    const auto request = read_ok(request_with_samples(
        R"({"t":"2024-01-01 10:00:02","hr1":2},{"t":"2024-01-01 10:00:01","hr1":1.1},)"
        R"({"t":"2024-01-01 10:00:01","hr1":1.2},{"t":"2024-01-01 10:00:03","hr1":3})"));
    ASSERT_EQ(request.input.samples.size(), 4u);
    EXPECT_EQ(request.input.out_of_order_rows, 1u);
    EXPECT_EQ(request.input.duplicate_timestamps, 1u);
    EXPECT_EQ(request.input.samples[0].hr1, 1.1);
    EXPECT_EQ(request.input.samples[1].hr1, 1.2);
    EXPECT_EQ(request.input.samples[2].hr1, 2.0);
    EXPECT_EQ(request.input.samples[3].hr1, 3.0);
}

TEST(JsonRequestRead, NewestFirstIsSorted) {
    const auto request = read_ok(request_with_samples(
        R"({"t":"2024-01-01 10:00:03"},{"t":"2024-01-01 10:00:02"},{"t":"2024-01-01 10:00:01"})"));
    EXPECT_EQ(request.input.out_of_order_rows, 2u);
    EXPECT_EQ(request.input.samples.front().timestamp, "2024-01-01 10:00:01");
}

TEST(JsonRequestRead, ChannelAndGestationalAge) {
    struct Case {
        std::string extra;
        FetalChannel channel;
        std::optional<std::uint8_t> ga;
    };
    const std::vector<Case> cases = {
        {R"(,"analysis_options":{"fetal_channel":" hr2 "})", FetalChannel::HR2, std::nullopt},
        {R"(,"analysis_options":{"fetal_channel":null,"max_analysis_minutes":10})", FetalChannel::HR1, std::nullopt},
        {R"(,"analysis_options":{"fetal_channel":"Hr3","max_analysis_minutes":30})", FetalChannel::HR3, std::nullopt},
        {R"(,"analysis_options":["HR2",20])", FetalChannel::HR2, std::nullopt},
        {R"(,"analysis_options":[])", FetalChannel::HR1, std::nullopt},
        {R"(,"analysis_options":null,"metadata":null)", FetalChannel::HR1, std::nullopt},
        {R"(,"metadata":{"gestational_age_weeks":39})", FetalChannel::HR1, 39},
        {R"(,"metadata":{"gestational_age_weeks":0})", FetalChannel::HR1, 0},
        {R"(,"metadata":[255])", FetalChannel::HR1, 255},
        {R"(,"metadata":{"gestational_age_weeks":null,"other":[1,{"gestational_age_weeks":3}]})", FetalChannel::HR1,
         std::nullopt},
    };
    for (const auto& c : cases) {
        const auto request = read_ok(request_with_samples(R"({"t":"2024-01-01 10:00:00"})", c.extra));
        EXPECT_EQ(request.config.fetal_channel, c.channel) << c.extra;
        EXPECT_EQ(request.config.gestational_age_weeks, c.ga) << c.extra;
        EXPECT_FALSE(request.config.window_minutes);
        EXPECT_EQ(request.config.step_seconds, 60u);
    }
}

TEST(JsonRequestRead, ArrayForms) {
    const auto request = read_ok(
        R"(["ep","s",[["2024-01-01 10:00:00",1,null,3],["2024-01-01 10:00:01",1,2,3,4,5]],["hr3"],[38]])");
    ASSERT_EQ(request.input.samples.size(), 2u);
    EXPECT_EQ(request.input.samples[0].hr1, 1.0);
    EXPECT_FALSE(request.input.samples[0].hr2);
    EXPECT_EQ(request.input.samples[0].hr3, 3.0);
    EXPECT_FALSE(request.input.samples[0].toco);
    EXPECT_EQ(request.input.samples[1].toco, 5.0);
    EXPECT_EQ(request.config.fetal_channel, FetalChannel::HR3);
    EXPECT_EQ(request.config.gestational_age_weeks, 38);
}

TEST(JsonRequestRead, UnknownKeysAreIgnoredEverywhere) {
    const auto request = read_ok(
        R"({"x":{"episode_id":5},"episode_id":"e","x":[],"sent_at":"s","samples":[{"t":"2024-01-01 10:00:00","t2":"no","hr1":1,"hr1x":"a"}],)"
        R"("analysis_options":{"fetal_channel":"hr2","y":{"z":[true,false,null]}},"metadata":{"gestational_age_weeks":30,"w":-1.5e-3}})");
    EXPECT_EQ(request.input.samples.size(), 1u);
    EXPECT_EQ(request.config.fetal_channel, FetalChannel::HR2);
    EXPECT_EQ(request.config.gestational_age_weeks, 30);
}

// ---------------------------------------------------------------------------
// Validation after the JSON layer.

TEST(JsonRequestValidation, MessagesAndOrder) {
    const std::string ok_sample = R"({"t":"2024-01-01 10:00:00"})";
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {R"({"episode_id":" \u3000","sent_at":"","samples":[{"t":"bad"}]})",
         "analysis request episode_id must not be empty"},
        {R"({"episode_id":"e","sent_at":"\t\n","samples":[{"t":"bad"}]})", "analysis request sent_at must not be empty"},
        {R"({"episode_id":"e","sent_at":"s","samples":[],"analysis_options":{"fetal_channel":"hr4"}})",
         "analysis request samples must not be empty"},
        {request_with_samples(ok_sample, R"(,"analysis_options":{"fetal_channel":"hr4","max_analysis_minutes":5})"),
         "unsupported fetal channel: HR4"},
        {request_with_samples(ok_sample, R"(,"analysis_options":{"fetal_channel":""})"), "unsupported fetal channel: "},
        {request_with_samples(ok_sample, R"(,"analysis_options":{"max_analysis_minutes":9})"),
         "analysis_options.max_analysis_minutes must be between 10 and 30"},
        {request_with_samples(ok_sample, R"(,"analysis_options":{"max_analysis_minutes":31})"),
         "analysis_options.max_analysis_minutes must be between 10 and 30"},
        {request_with_samples(ok_sample + R"(,{"t":" 2024-01-01 10:00:00"},{"t":"later"})",
                              R"(,"analysis_options":{"max_analysis_minutes":0})"),
         "analysis_options.max_analysis_minutes must be between 10 and 30"},
    };
    for (const auto& c : cases) EXPECT_EQ(read_error(c.text), c.message) << c.text;
}

TEST(JsonRequestValidation, InvalidTimestampNamesTheSample) {
    const std::string text = request_with_samples(R"({"t":"2024-01-01 10:00:00"},{"t":"2024-13-01 10:00:00"})");
    const std::string message = read_error(text);
    EXPECT_EQ(message.rfind("sample 2 has invalid t: ", 0), 0u) << message;
    // The parser's message quotes t untrimmed.
    const std::string padded = read_error(request_with_samples(R"({"t":" nope "})"));
    EXPECT_EQ(padded.rfind("sample 1 has invalid t: ", 0), 0u) << padded;
    EXPECT_NE(padded.find(" nope "), std::string::npos) << padded;
}

TEST(JsonRequestValidation, SchemaErrorsWinOverValidation) {
    EXPECT_EQ(read_error(R"({"episode_id":"","sent_at":"s","samples":[],"metadata":{"gestational_age_weeks":256}})"),
              std::string(kPrefix) + "invalid value: integer `256`, expected u8 at line 1 column 83");
    EXPECT_EQ(read_error(R"({"episode_id":"","sent_at":"s","samples":[{"t":"x","t":"y"}]})"),
              std::string(kPrefix) + "duplicate field `t` at line 1 column 54");
}

TEST(JsonRequestValidation, IntegerFieldsRejectFloatsAndRanges) {
    const auto base = [](const std::string& ga) {
        return request_with_samples(R"({"t":"2024-01-01 10:00:00"})", R"(,"metadata":{"gestational_age_weeks":)" + ga + "}");
    };
    EXPECT_NE(read_error(base("38.5")).find("invalid type: floating point `38.5`, expected u8"), std::string::npos);
    EXPECT_NE(read_error(base("-1")).find("invalid value: integer `-1`, expected u8"), std::string::npos);
    EXPECT_NE(read_error(base("10.0")).find("invalid type: floating point `10.0`, expected u8"), std::string::npos);
    EXPECT_NE(read_error(base("1e1")).find("invalid type: floating point `10.0`, expected u8"), std::string::npos);
    EXPECT_NE(read_error(base("\"140\"")).find("invalid type: string \"140\", expected u8"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Depth and repetition of unknown values: no recursion, no limit.

TEST(JsonRequestLimits, MillionDeepUnknownArray) {
    constexpr std::size_t kDepth = 1'000'000;
    std::string text = R"({"episode_id":"e","sent_at":"s","samples":[{"t":"2024-01-01 10:00:00"}],"extra":)";
    text.append(kDepth, '[');
    text.append(kDepth, ']');
    text += '}';
    const auto request = read_ok(text);
    EXPECT_EQ(request.input.samples.size(), 1u);

    // The same with a trailing comma at the innermost level fails with its position.
    std::string bad = R"({"episode_id":"e","sent_at":"s","samples":[],"extra":)";
    bad.append(kDepth, '[');
    bad += "1,";
    bad.append(kDepth, ']');
    bad += '}';
    EXPECT_EQ(read_error(bad), std::string(kPrefix) + "trailing comma at line 1 column " +
                                   std::to_string(53 + kDepth + 3));
}

TEST(JsonRequestLimits, MillionDeepUnknownObjectInsideASample) {
    constexpr std::size_t kDepth = 1'000'000;
    std::string text = R"({"episode_id":"e","sent_at":"s","samples":[{"t":"2024-01-01 10:00:00","deep":)";
    for (std::size_t i = 0; i < kDepth; ++i) text += R"({"a":)";
    text += "null";
    text.append(kDepth, '}');
    text += ",\"hr1\":120}]}";
    const auto request = read_ok(text);
    ASSERT_EQ(request.input.samples.size(), 1u);
    EXPECT_EQ(request.input.samples[0].hr1, 120.0);
}

TEST(JsonRequestLimits, MillionRepeatedUnknownKeys) {
    constexpr std::size_t kCount = 1'000'000;
    std::string text = R"({"episode_id":"e","sent_at":"s","samples":[{"t":"2024-01-01 10:00:00"}])";
    for (std::size_t i = 0; i < kCount; ++i) text += R"(,"x":1)";
    text += '}';
    const auto request = read_ok(text);
    EXPECT_EQ(request.input.samples.size(), 1u);
}

TEST(JsonRequestLimits, ManySamples) {
    constexpr std::size_t kCount = 50'000;
    std::string samples;
    for (std::size_t i = 0; i < kCount; ++i) {
        if (i) samples += ',';
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, R"({"t":"2024-01-01T%02zu:%02zu:%02zu","hr1":%zu.5})", (i / 3600) % 24,
                      (i / 60) % 60, i % 60, 100 + i % 60);
        samples += buffer;
    }
    const auto request = read_ok(request_with_samples(samples));
    ASSERT_EQ(request.input.samples.size(), kCount);
    EXPECT_EQ(request.input.samples[61].hr1, 101.5);
    EXPECT_EQ(request.input.samples[61].timestamp, "2024-01-01 00:01:01");
}

// ---------------------------------------------------------------------------
// NUL bytes are ordinary bytes of the text; a string whose decoded bytes hold
// a UTF-8 surrogate lead (0xED, then 0xA0 or more: only raw bytes that are not
// UTF-8 make one) is refused after its closing quote.

TEST(JsonRequestErrors, NulAndRawBytes) {
    using namespace std::string_literals;
    EXPECT_EQ(read_error("\0"s), std::string(kPrefix) + "expected value at line 1 column 1");
    EXPECT_EQ(read_error(R"({"episode_id":"e","sent_at":"s","samples":[]})"s + "\0"s),
              std::string(kPrefix) + "trailing characters at line 1 column 46");
    EXPECT_EQ(read_error("{\"a\":[1,\0]}"s), std::string(kPrefix) + "expected value at line 1 column 9");
    EXPECT_EQ(read_error("{\"a\":[1\0]}"s), std::string(kPrefix) + "expected `,` or `]` at line 1 column 8");
    EXPECT_EQ(read_error("{\"a\"\0:1}"s), std::string(kPrefix) + "expected `:` at line 1 column 5");
    EXPECT_EQ(read_error("{\"a\0\":1}"s),
              std::string(kPrefix) + "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4");
    EXPECT_EQ(read_error("{\"a\":\"\xed\xa0\x80\"}"s),
              std::string(kPrefix) + "lone leading surrogate in hex escape at line 1 column 10");
    EXPECT_EQ(read_error("{\"a\":\"\xed\\u00e9\"}"s),
              std::string(kPrefix) + "lone leading surrogate in hex escape at line 1 column 14");
    EXPECT_EQ(read_error("{\"a\":\"\xed\x9f\xbf\\u0041\"}"s),
              std::string(kPrefix) + "missing field `episode_id` at line 1 column 17");
}

// ---------------------------------------------------------------------------
// Message helpers.

TEST(JsonErrors, FloatDisplay) {
    const std::vector<std::pair<double, std::string>> cases = {
        {10.0, "10.0"},
        {-0.0, "-0.0"},
        {0.0, "0.0"},
        {1500.0, "1500.0"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e+16"},
        {1e20, "1e+20"},
        {18446744073709551616.0, "1.8446744073709552e+19"},
        {0.00001, "0.00001"},
        {0.000025, "0.000025"},
        {0.000001, "1e-6"},
        {1.25e-7, "1.25e-7"},
        {123.456, "123.456"},
        {123456789.125, "123456789.125"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {2140861202475095.25, "2140861202475095.2"},
        {std::ldexp(1.0, -1017), "7.120236347223045e-307"},
        {-1.5, "-1.5"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(format_float(value), text) << text;
}

TEST(JsonErrors, LineAndColumn) {
    EXPECT_EQ(with_position("", "m", 0), "m at line 1 column 0");
    EXPECT_EQ(with_position("ab\ncd", "m", 3), "m at line 2 column 0");
    EXPECT_EQ(with_position("ab\ncd", "m", 5), "m at line 2 column 2");
    EXPECT_EQ(with_position("\r\n\r\n", "m", 4), "m at line 3 column 0");
}

TEST(JsonErrors, QuotedStrings) {
    std::string out;
    append_quoted(out, std::string("a\"b\\c\n\r\t\0x", 10) + "\x1b\x7f\xc2\xa0\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(out, "\"a\\\"b\\\\c\\n\\r\\t\\0x\\u{1b}\\u{7f}\\u{a0}\xc3\xa9\xf0\x9f\x98\x80\"");
}

TEST(JsonErrors, EscapeTableMatchesTheDataFile) {
    std::istringstream lines(read_file(data_path("json-error-escapes.txt")));
    std::string line;
    std::uint32_t next = 0;  // first code point not yet checked
    std::size_t ranges = 0;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto dots = line.find("..");
        ASSERT_NE(dots, std::string::npos) << line;
        const auto lo = static_cast<std::uint32_t>(std::stoul(line.substr(0, dots), nullptr, 16));
        const auto hi = static_cast<std::uint32_t>(std::stoul(line.substr(dots + 2), nullptr, 16));
        ++ranges;
        for (std::uint32_t cp = next; cp < lo; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF) continue;
            ASSERT_FALSE(is_escaped_code_point(cp)) << std::hex << cp;
        }
        for (std::uint32_t cp = lo; cp <= hi; ++cp) ASSERT_TRUE(is_escaped_code_point(cp)) << std::hex << cp;
        next = hi + 1;
    }
    EXPECT_GT(ranges, 100u);
    EXPECT_FALSE(is_escaped_code_point(0x110000));
}

}  // namespace
}  // namespace fhr_core::json_input
