#include "fhr_core/csv_input/csv_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "fhr_core/csv_input/number.hpp"
#include "support.hpp"

namespace {

using fhr_core::InputData;
using fhr_core::csv_input::parse_value_cell;
using fhr_core::csv_input::read_monitor_csv_str;
using namespace fhr_core::analysis::testing_support;

// Rows of tests/data/cpp/csv-numbers.txt: a cell and its number.
TEST(CsvNumber, FollowsTheCellGrammar) {
    for (const auto& row : table("csv-numbers.txt")) {
        const std::string cell = unescape(row[0]);
        const auto value = parse_value_cell(cell);
        const auto expected = opt(row[1]);
        ASSERT_EQ(value.has_value(), expected.has_value()) << "'" << cell << "'";
        if (value) EXPECT_TRUE(*value == *expected || (std::isnan(*value) && std::isnan(*expected))) << cell;
    }
}

InputData read_ok(const std::string& text) {
    auto result = read_monitor_csv_str(text);
    EXPECT_TRUE(result.ok()) << result.error();
    return result.ok() ? std::move(result).value() : InputData{};
}

TEST(CsvReader, ReadsColumnsInAnyOrderAndCase) {
    const InputData input = read_ok(
        " toco , Hr1,date,x,HRM,HR1\n"
        "12,140,2024-03-10 14:05:09,zzz,80,999\n");
    ASSERT_EQ(input.samples.size(), 1u);
    const auto& s = input.samples[0];
    EXPECT_EQ(s.timestamp, "2024-03-10 14:05:09");
    EXPECT_EQ(s.hr1, 140.0);  // leftmost HR1 column wins
    EXPECT_EQ(s.toco, 12.0);
    EXPECT_EQ(s.hrm, 80.0);
    EXPECT_FALSE(s.hr2.has_value());
    EXPECT_FALSE(s.hr3.has_value());
}

TEST(CsvReader, AbsentValuesNeverFailTheImport) {
    const InputData input = read_ok(
        "Date,HR1,HR2,HR3,TOCO\n"
        "2024-03-10 14:05:09,140,,abc\n"
        "2024-03-10 14:05:10, 0 ,-1,nan,inf\n"
        "2024-03-10 14:05:11,\"150\",1e400,  ,\n");
    ASSERT_EQ(input.samples.size(), 3u);
    const auto& a = input.samples[0];
    EXPECT_EQ(a.hr1, 140.0);
    EXPECT_FALSE(a.hr2 || a.hr3 || a.toco || a.hrm);
    const auto& b = input.samples[1];
    EXPECT_EQ(b.hr1, 0.0);
    EXPECT_EQ(b.hr2, -1.0);
    ASSERT_TRUE(b.hr3.has_value());
    EXPECT_TRUE(std::isnan(*b.hr3));
    EXPECT_EQ(b.toco, INFINITY);
    const auto& c = input.samples[2];
    EXPECT_FALSE(c.hr1.has_value());  // quotes are ordinary characters
    EXPECT_EQ(c.hr2, INFINITY);
    EXPECT_FALSE(c.hr3 || c.toco);
}

TEST(CsvReader, LineEndingsBlankLinesAndRowNumbers) {
    const InputData input = read_ok(
        "Date,HR1\r\n"
        "2024-03-10 14:05:09,140\r\n"
        "\n"
        "   \t\n"
        "2024-03-10 14:05:10,141\n"
        "2024-03-10 14:05:11,142\r\n");
    ASSERT_EQ(input.samples.size(), 3u);
    EXPECT_EQ(input.samples[2].hr1, 142.0);
    // Blank lines keep their numbers: the bad row below is line 4.
    const auto bad = read_monitor_csv_str("Date,HR1\n2024-03-10 14:05:09,1\n\nxx,2\n");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), "row 4 has invalid Date: timestamp is missing date/time separator: xx");
    // A lone carriage return does not end a line: this text is one header cell.
    const auto lone = read_monitor_csv_str("Date\r2024-03-10 14:05:09\r");
    ASSERT_FALSE(lone.ok());
    EXPECT_EQ(lone.error(), "CSV is missing required Date column");
}

struct ErrorCase {
    const char* text;
    const char* message;
};

TEST(CsvReader, Errors) {
    const ErrorCase cases[] = {
        {"", "CSV is empty; expected a header row"},
        {"\n", "CSV is missing required Date column"},
        {"HR1,TOCO\n2024-03-10 14:05:09,1\n", "CSV is missing required Date column"},
        {"\xEF\xBB\xBF" "Date,HR1\n", "CSV is missing required Date column"},
        {"Dates,HR1\n", "CSV is missing required Date column"},
        {"HR1,Date\n140\n", "row 2 is missing Date"},
        {"Date\n\n\n,\n", "row 4 has invalid Date: timestamp is missing date/time separator: "},
        {"Date,HR1\n\"2024-03-10 14:05:09\",1\n",
         "row 2 has invalid Date: invalid year in timestamp: \"2024-03-10 14:05:09\""},
        {"Date\n2024-03-10 14:05:09\n2024-03-10 25:00:00\n",
         "row 3 has invalid Date: timestamp component out of range: 2024-03-10 25:00:00"},
    };
    for (const ErrorCase& c : cases) {
        const auto result = read_monitor_csv_str(c.text);
        ASSERT_FALSE(result.ok()) << c.text;
        EXPECT_EQ(result.error(), c.message) << c.text;
    }
}

TEST(CsvReader, HeaderOnlyAndBlankLinesGiveNoSamples) {
    EXPECT_TRUE(read_ok("Date,HR1").samples.empty());
    EXPECT_TRUE(read_ok("Date,HR1\n\n  \n").samples.empty());
}

TEST(CsvReader, SortsStablyAndCountsDisorder) {
    const InputData input = read_ok(
        "Date,HR1\n"
        "2024-03-10 10:00:02,1\n"
        "2024-03-10 10:00:01,2\n"
        "2024-03-10 10:00:01,3\n"
        "2024-03-10 10:00:03,4\n");
    EXPECT_EQ(input.out_of_order_rows, 1u);
    EXPECT_EQ(input.duplicate_timestamps, 1u);
    std::vector<double> order;
    for (const auto& s : input.samples) order.push_back(*s.hr1);
    EXPECT_EQ(order, (std::vector<double>{2, 3, 1, 4}));

    // Each row is compared with its predecessor only: 5, 1, 2, 3 gives 1.
    const InputData shuffled = read_ok(
        "Date\n2024-03-10 10:00:05\n2024-03-10 10:00:01\n2024-03-10 10:00:02\n2024-03-10 10:00:03\n");
    EXPECT_EQ(shuffled.out_of_order_rows, 1u);
    // Three rows sharing a time are two duplicate pairs.
    const InputData triple = read_ok("Date\n1970-01-01 00:00:00\n1970-01-01 00:00:00\n1970-01-01T00:00:00Z\n");
    EXPECT_EQ(triple.duplicate_timestamps, 2u);
    EXPECT_EQ(triple.samples[2].timestamp, "1970-01-01T00:00:00Z");  // kept as written
}

}  // namespace
