#include "fhr_core/csv_input/csv_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <tuple>
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
        if (value) { EXPECT_TRUE(*value == *expected || (std::isnan(*value) && std::isnan(*expected))) << cell; }
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

// A short row leaves its last columns absent, and cells are trimmed (their spelling: tests/data/cpp/csv-numbers.txt).
TEST(CsvReader, ShortRowsAndUnreadableCellsNeverFailTheImport) {
    const InputData input = read_ok("Date,HR1,HR2,HR3,TOCO\n2024-03-10 14:05:09,140,,abc\n2024-03-10 14:05:10, 0 ,\"1\", \t,\n");
    ASSERT_EQ(input.samples.size(), 2u);
    const auto& [a, b] = std::tie(input.samples[0], input.samples[1]);
    EXPECT_TRUE(a.hr1 == 140.0 && !a.hr2 && !a.hr3 && !a.toco && !a.hrm);
    EXPECT_TRUE(b.hr1 == 0.0 && !b.hr2 && !b.hr3 && !b.toco);
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
    // A lone carriage return does not end a line, a byte order mark is part of the first header cell, and a header
    // matches whole names.
    for (const char* text : {"Date\r2024-03-10 14:05:09\r", "\xEF\xBB\xBF" "Date,HR1\n", "Dates,HR1\n"}) {
        const auto result = read_monitor_csv_str(text);
        EXPECT_EQ(result.ok() ? "<read>" : result.error(), "CSV is missing required Date column") << text;
    }
}

// Rows of equal time keep their file order (the counts of disorder are properties of every report).
TEST(CsvReader, SortsStably) {
    const InputData input = read_ok("Date,HR1\n2024-03-10 10:00:02,1\n2024-03-10 10:00:01,2\n2024-03-10 10:00:01,3\n"
                                    "2024-03-10 10:00:03,4\n");
    std::vector<double> order;
    for (const auto& s : input.samples) order.push_back(*s.hr1);
    EXPECT_EQ(order, (std::vector<double>{2, 3, 1, 4}));
    EXPECT_EQ(std::tuple(input.out_of_order_rows, input.duplicate_timestamps), std::tuple(1u, 1u));
}

}  // namespace
