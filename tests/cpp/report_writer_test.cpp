// The report writer's numbers and escapes (the layout of reports is pinned by the golden reports
// and the regression corpus).
#include "fhr_core/analysis/report_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
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
    };
    for (const auto& c : cases) EXPECT_EQ(escape_json(c.in), c.out) << c.in;
}

}  // namespace
