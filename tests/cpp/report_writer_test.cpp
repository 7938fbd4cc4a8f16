// The report writer's numbers and escapes (the layout of reports is pinned by the golden reports
// and the regression corpus).
#include "fhr_core/analysis/report_writer.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

namespace {

using fhr_core::analysis::detail::append_fixed3;
using fhr_core::analysis::detail::escape_json;

std::string fixed3(double v) {
    std::string out;
    append_fixed3(out, v);
    return out;
}

TEST(ReportWriter, NumbersHaveThreeDecimalsRoundedOnTheExactBinaryValue) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {140.0, "140.000"},   {0.5, "0.500"},        {2.0 / 3.0, "0.667"},   {4.9995, "5.000"},
        {1.0005, "1.000"},    {0.0625, "0.062"},     {2.0625, "2.062"},      {0.0635, "0.064"},
        {-0.0001, "-0.000"},  {-0.0, "-0.000"},      {0.0, "0.000"},         {-2.8, "-2.800"},
        {1e21, "1000000000000000000000.000"},        {123456.7895, "123456.789"},
        {NAN, "NaN"},         {INFINITY, "inf"},     {-INFINITY, "-inf"},
    };
    for (const auto& c : cases) EXPECT_EQ(fixed3(c.value), c.text) << c.value;
    EXPECT_EQ(fixed3(1.7976931348623157e308).size(), 309u + 4u);
    // Every magnitude and tie, against the library's formatting.
    std::mt19937_64 random(3);
    for (int i = 0; i < 300000; ++i) {
        const std::uint64_t bits = random();
        const double v = i % 3 == 0 ? std::bit_cast<double>(bits)
                         : i % 3 == 1 ? std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(bits % 120))
                                      : static_cast<double>(static_cast<std::int64_t>(bits % 8'000'000) - 4'000'000) / 16;
        char text[400];
        const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 3).ptr;
        if (std::isfinite(v)) {
            ASSERT_EQ(fixed3(v), std::string(text, end)) << v;
        }
    }
}

TEST(ReportWriter, EscapesBackslashQuoteAndLineFeedOnly) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"a\"b", "a\\\"b"},
        {"a\\b", "a\\\\b"},
        {"a\nb", "a\\nb"},
        {"a\\nb", "a\\\\nb"},  // a backslash and the letter n are not a line feed
        {"tab\there\rcr", "tab\there\rcr"},
        {"\xC3\xA9\x01", "\xC3\xA9\x01"},
        {"2026-01-01T00:00:00\"", "2026-01-01T00:00:00\\\""},  // in the last, partial word
        {"2026-01-01\\T00:00:00.000", "2026-01-01\\\\T00:00:00.000"},
        {"2026-01-01T00:00:00.000+01:00", "2026-01-01T00:00:00.000+01:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escape_json(c.in), c.out) << c.in;
        EXPECT_EQ(fhr_core::analysis::detail::needs_json_escape(c.in), c.out != c.in) << c.in;
    }
}

}  // namespace
