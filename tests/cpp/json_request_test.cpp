// Tests of the JSON analysis request reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "fhr_core/json_input/json_errors.hpp"
#include "fhr_core/json_input/json_tokens.hpp"
#include "fhr_core/json_input/request_reader.hpp"

namespace fhr_core::json_input {
namespace {

using namespace detail;

constexpr std::string_view kPrefix = "invalid analysis request JSON: ";

// A file of tests/data.
std::string read_file(const char* name) {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ErrorCase {
    std::size_t line = 0;
    std::string input;
    std::optional<std::string> expected;
};

// A line is {"input": "…", "expected": "…" or null}; the strings are decoded with the reader's own string scanner.
std::vector<ErrorCase> load_error_cases() {
    std::vector<ErrorCase> cases;
    std::istringstream lines(read_file("json-error-cases.jsonl"));
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
    ASSERT_EQ(cases.size(), 437u);
    for (const auto& c : cases) {
        const auto result = read_analysis_request_json(c.input);
        if (c.expected) {
            EXPECT_EQ(result.ok() ? "<accepted>" : result.error(), std::string(kPrefix) + *c.expected) << "line " << c.line;
        } else {
            EXPECT_TRUE(result.ok() || result.error().rfind(kPrefix, 0) != 0) << "line " << c.line << ": " << result.error();
        }
    }
}

std::string request_with_samples(const std::string& samples, const std::string& extra = "") {
    return R"({"episode_id":"ep","sent_at":"2024-05-01T10:00:00Z","samples":[)" + samples + "]" + extra + "}";
}

AnalysisRequest read_ok(const std::string& text) {
    auto result = read_analysis_request_json(text);
    EXPECT_TRUE(result.ok()) << text << "\n -> " << (result.ok() ? "" : result.error());
    return result.ok() ? std::move(result).value() : AnalysisRequest{};
}

std::string read_error(const std::string& text) {
    auto result = read_analysis_request_json(text);
    EXPECT_FALSE(result.ok()) << text;
    return result.ok() ? std::string() : result.error();
}

TEST(JsonRequestRead, ValuesAreCopiedExactly) {
    const std::string big_then_small = std::string(400, '1') + "e-398";  // in range despite its digits
    const auto request = read_ok(request_with_samples(
        R"({"t":"2024-05-01T09:59:00Z","hr1":140,"hr2":null,"hr3":141.5,"hrm":-3e2,"toco":0.1},)"
        R"({"toco":1e-400,"hr1":18446744073709551616,"hr2":-0,"hr3":1.7976931348623158e308,"t":"2024-05-01T09:59:01Z"},)"
        R"({"t":"2024-05-01 09:59:02","hr1":0e400,"hr2":)" + big_then_small +
            R"(,"hr3":-0.0000e2147483648,"hrm":0e99999999999,"x":[0e999,)" + big_then_small + "]}",
        R"(,"extra":0E+500)"));
    ASSERT_EQ(request.input.samples.size(), 3u);
    const auto& [a, b, c] = std::tie(request.input.samples[0], request.input.samples[1], request.input.samples[2]);
    EXPECT_EQ(a.timestamp, "2024-05-01 09:59:00");
    EXPECT_EQ(a.timestamp_ms, 1714557540000);
    EXPECT_TRUE(a.hr1 == 140.0 && !a.hr2 && a.hr3 == 141.5 && a.hrm == -300.0 && a.toco == 0.1);
    EXPECT_TRUE(b.hr1 == 18446744073709551616.0 && b.hr3 == std::numeric_limits<double>::max() && b.toco == 0.0 && !b.hrm);
    EXPECT_TRUE(b.hr2 == 0.0 && std::signbit(*b.hr2));
    EXPECT_TRUE(c.hr1 == 0.0 && c.hrm == 0.0 && std::signbit(*c.hr3));
    EXPECT_DOUBLE_EQ(*c.hr2, 11.111111111111111);
}

TEST(JsonRequestRead, TimestampsAreNormalisedAndSorted) {
    const auto request = read_ok(request_with_samples(
        R"({"t":" 2024-03-10T14:05:09.250Z\u00a0"},{"t":"2024-03-10T14:05:10+01:00"},{"t":"2024-03-10 14:05:11"})"));
    ASSERT_EQ(request.input.samples.size(), 3u);
    // Sorted by time (+01:00 is an hour earlier) as CSV rows are: the shared sort is pinned by the CSV reader's tests.
    EXPECT_EQ(request.input.samples[0].timestamp, "2024-03-10 14:05:10+01:00");
    EXPECT_EQ(request.input.samples[1].timestamp, "2024-03-10 14:05:09.250");
    EXPECT_EQ(request.input.samples[1].timestamp_ms, 1710079509250);
    EXPECT_EQ(request.input.out_of_order_rows, 1u);
}

TEST(JsonRequestRead, OptionsObjectArrayAndUnknownForms) {
    const struct {
        std::string extra;
        FetalChannel channel;
        std::optional<std::uint8_t> ga;
    } cases[] = {
        {R"(,"analysis_options":{"fetal_channel":" hr2 "})", FetalChannel::HR2, std::nullopt},
        {R"(,"analysis_options":{"fetal_channel":null,"max_analysis_minutes":10})", FetalChannel::HR1, std::nullopt},
        {R"(,"analysis_options":{"fetal_channel":"Hr3","max_analysis_minutes":30})", FetalChannel::HR3, std::nullopt},
        {R"(,"analysis_options":["HR2",20])", FetalChannel::HR2, std::nullopt},
        {R"(,"analysis_options":[],"metadata":[255])", FetalChannel::HR1, 255},
        {R"(,"analysis_options":null,"metadata":null)", FetalChannel::HR1, std::nullopt},
        {R"(,"metadata":{"gestational_age_weeks":0})", FetalChannel::HR1, 0},
        {R"(,"metadata":{"gestational_age_weeks":null,"other":[1,{"gestational_age_weeks":3}]})", FetalChannel::HR1, std::nullopt},
        {R"(,"x":{"episode_id":5},"x":[],"analysis_options":{"fetal_channel":"hr2","y":{"z":[true,false,null]}},)"
         R"("metadata":{"gestational_age_weeks":30,"w":-1.5e-3})", FetalChannel::HR2, 30},
    };
    for (const auto& c : cases) {
        const auto request = read_ok(request_with_samples(R"({"t":"2024-01-01 10:00:00","t2":"no","hr1x":"a"})", c.extra));
        EXPECT_EQ(request.config.fetal_channel, c.channel) << c.extra;
        EXPECT_EQ(request.config.gestational_age_weeks, c.ga) << c.extra;
        EXPECT_FALSE(request.config.window_minutes);
    }
    const auto request = read_ok(R"(["ep","s",[["2024-01-01 10:00:00",1,null,3],["2024-01-01 10:00:01",1,2,3,4,5]],["hr3"],[38]])");
    ASSERT_EQ(request.input.samples.size(), 2u);
    const auto& [a, b] = std::tie(request.input.samples[0], request.input.samples[1]);
    EXPECT_TRUE(a.hr1 == 1.0 && !a.hr2 && a.hr3 == 3.0 && !a.hrm && !a.toco && b.hrm == 4.0 && b.toco == 5.0);
    EXPECT_EQ(request.config.fetal_channel, FetalChannel::HR3);
    EXPECT_EQ(request.config.gestational_age_weeks, 38);
}

// Million-deep unknown values are read without recursion (the hostile-input tests run them at the top level):
// inside a sample too, and an error at the innermost level still names its position.
TEST(JsonRequestLimits, MillionDeepUnknownValues) {
    constexpr std::size_t kDepth = 1'000'000;
    std::string deep = R"({"episode_id":"e","sent_at":"s","samples":[{"t":"2024-01-01 10:00:00","deep":)";
    for (std::size_t i = 0; i < kDepth; ++i) deep += R"({"a":)";
    const auto request = read_ok(deep + "null" + std::string(kDepth, '}') + ",\"hr1\":120}]}");
    ASSERT_EQ(request.input.samples.size(), 1u);
    EXPECT_EQ(request.input.samples[0].hr1, 120.0);
    const std::string text = R"({"episode_id":"e","sent_at":"s","samples":[],"extra":)" + std::string(kDepth, '[') + "1," +
                             std::string(kDepth, ']') + '}';
    EXPECT_EQ(read_error(text), std::string(kPrefix) + "trailing comma at line 1 column " + std::to_string(53 + kDepth + 3));
}

// A string whose decoded bytes hold a UTF-8 surrogate lead (0xED, then 0xA0 or more: only raw bytes that are not
// UTF-8 make one) is refused after its closing quote. (NUL bytes are rows of the case table.)
TEST(JsonRequestErrors, RawSurrogateLeads) {
    using namespace std::string_literals;
    EXPECT_EQ(read_error("{\"a\":\"\xed\xa0\x80\"}"s), std::string(kPrefix) + "lone leading surrogate in hex escape at line 1 column 10");
    EXPECT_EQ(read_error("{\"a\":\"\xed\\u00e9\"}"s), std::string(kPrefix) + "lone leading surrogate in hex escape at line 1 column 14");
    EXPECT_EQ(read_error("{\"a\":\"\xed\x9f\xbf\\u0041\"}"s), std::string(kPrefix) + "missing field `episode_id` at line 1 column 17");
}

// The code points error messages escape.
TEST(JsonErrors, EscapeTableMatchesTheDataFile) {
    std::istringstream lines(read_file("json-error-escapes.txt"));
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
