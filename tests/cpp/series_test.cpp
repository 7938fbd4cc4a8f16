// Per-second series of a window (tables in tests/data/cpp), the instants and closest seconds of its texts, and the
// spans of a window.
#include "fhr_core/analysis/series.hpp"

#include <gtest/gtest.h>

#include "fhr_core/csv_input/csv_reader.hpp"
#include "fhr_core/time/timestamp.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "support.hpp"

namespace fhr_core::analysis {
namespace {

using namespace testing_support;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// Rows "ms text hr1 hrm toco hr2 hr3" ('-' absent), ';' between.
std::vector<MonitorSample> rows_of(const std::string& field) {
    std::vector<MonitorSample> out;
    for (const std::string& r : words(field, ';')) {
        const auto w = words(r);
        MonitorSample& s = out.emplace_back();
        s.timestamp_ms = integer(w[0]);
        s.timestamp = w[1];
        std::tie(s.hr1, s.hrm, s.toco, s.hr2, s.hr3) = std::tuple(opt(w[2]), opt(w[3]), opt(w[4]), opt(w[5]), opt(w[6]));
    }
    return out;
}

TEST(SecondSeries, Binning) {
    for (const auto& row : table("series-binning.txt")) {
        SCOPED_TRACE(row[0]);
        const auto rows = rows_of(row[4]);
        const FetalChannel channel = row[1] == "HR1" ? FetalChannel::HR1 : row[1] == "HR2" ? FetalChannel::HR2 : FetalChannel::HR3;
        const Series series = build_second_samples(rows, channel, window_spans(integer(row[2]), integer(row[3]))).series;
        const auto expected = words(row[5], ';');
        ASSERT_EQ(series.size(), expected.size());
        for (std::size_t i = 0; i < series.size(); ++i) {
            const auto e = words(expected[i]);
            EXPECT_EQ(series[i].timestamp_ms, integer(e[0]));
            EXPECT_EQ(second_text(series[i]), e[1]);
            EXPECT_EQ(series[i].fetal_bpm, opt(e[2]));
            EXPECT_EQ(series[i].maternal_bpm, opt(e[3]));
            EXPECT_EQ(series[i].toco, opt(e[4]));
        }
    }
}

TEST(SecondSeries, Windows) {
    for (const auto& row : table("series-windows.txt")) {
        SCOPED_TRACE(row[0]);
        const auto rows = rows_of(row[1]);
        const PreparedWindow w = build_second_samples(rows, FetalChannel::HR1, window_spans(integer(row[2]), integer(row[3])));
        ASSERT_EQ(w.series.size(), integer(row[4]));
        // Whole seconds follow the first (which a window's start may pin inside its second).
        for (std::size_t i = 0; i < w.series.size(); ++i) {
            const std::int64_t t = w.series[i].timestamp_ms, gap = i == 0 ? 0 : t - w.series[i - 1].timestamp_ms;
            ASSERT_TRUE(i == 0 ? t == integer(row[5]) : t % 1000 == 0 && gap > 0 && gap <= 1000 && (i == 1 || gap == 1000)) << i;
        }
        EXPECT_EQ(w.data_quality.expected_seconds, integer(row[6]));
        EXPECT_EQ(w.data_quality.raw_samples, integer(row[7]));
        EXPECT_EQ(w.window_start, row[8]);
        EXPECT_EQ(w.window_end, row[9]);
        EXPECT_EQ(w.duration_seconds, num(row[10]));
    }
}

TEST(SecondSeries, DataQuality) {
    for (const auto& row : table("series-quality.txt")) {
        SCOPED_TRACE(row[0]);
        const auto rows = rows_of(row[1]);
        const DataQuality q = build_second_samples(rows, FetalChannel::HR1, window_spans(kBaseMs, integer(row[2]))).data_quality;
        EXPECT_EQ(q.fetal_usable_seconds, integer(row[3]));
        EXPECT_EQ(q.fetal_usable_ratio, num(row[4]));
        EXPECT_EQ(q.maternal_usable_ratio, num(row[5]));
        EXPECT_EQ(q.toco_usable_ratio, num(row[6]));
        EXPECT_EQ(q.suspected_maternal_capture_ratio, num(row[7]));
    }
}

// The instant an event is placed at is taken from the second its text comes from, where the event is made; it is
// exactly the instant that text parses back to, for every shape of text a second can carry: the text of the row that
// named it (any layout the readers accept, up to the ends of the instant range) or the synthesized "{ms}ms" of a
// second without rows.
TEST(SecondSeriesInstant, EqualsTheInstantItsTextParsesTo) {
    const struct {
        const char* first;
        const char* last;
    } recordings[] = {
        {"1970-01-01 00:00:00", "1970-01-01 00:00:03"},
        {"1969-12-31 23:59:57.250", "1969-12-31 23:59:59.999"},
        {"0000-01-01 00:00:00", "0000-01-01 00:00:02"},
        {"9999-12-31 23:59:57", "9999-12-31T23:59:59.999Z"},
        {"2024-03-10T12:00:00.5+02:00", "  2024-03-10 10:00:03-00:00 "},
        {"292278994-08-17 07:12:52.900", "292278994-08-17 07:12:55.807"},     // the last instant
        {"0000-01-01 00:00:04.192--2562030519344:47", "0000-01-01 00:00:06.5--2562030519344:47"},  // the first
    };
    std::int64_t lowest = 0;
    std::int64_t highest = 0;
    for (const auto& r : recordings) {
        SCOPED_TRACE(r.first);
        const auto input = csv_input::read_monitor_csv_str(std::string("Date,HR1\n") + r.first + ",140\n" + r.last + ",141\n");
        ASSERT_TRUE(input.ok()) << input.error();
        const std::int64_t start = input->samples.front().timestamp_ms;
        const std::int64_t end = input->samples.back().timestamp_ms;
        lowest = std::min(lowest, start);
        highest = std::max(highest, end);
        const Series series = build_second_samples(input->samples, FetalChannel::HR1, window_spans(start, end)).series;
        ASSERT_GE(series.size(), 3u);
        for (const SecondSample& second : series) {
            const std::string text = second_text(second);
            const auto parsed = time::parse_monitor_timestamp(text);
            EXPECT_EQ(second_instant(second), parsed.ok() ? std::optional(*parsed) : std::nullopt) << text;
        }
    }
    EXPECT_EQ(lowest, kMin);
    EXPECT_EQ(highest, kMax);
}

TEST(SecondSeriesClosest, Table) {
    const auto rows = rows_of("10000 a - - - - -; 11000 b - - - - -; 12000 c - - - - -");
    const Series series = build_second_samples(rows, FetalChannel::HR1, window_spans(10'000, 12'000)).series;
    for (const auto& [ms, text] : std::initializer_list<std::pair<std::int64_t, const char*>>{
             {kMin, "a"}, {9'000, "a"}, {10'500, "a"}, {10'501, "b"}, {11'500, "b"}, {11'501, "c"}, {kMax, "c"}}) {
        EXPECT_EQ(second_text(closest_second(series, ms)), text) << ms;
    }
}

TEST(WindowSpans, SegmentsAndFlags) {
    for (const auto& row : table("series-spans.txt")) {
        SCOPED_TRACE(row[0] + " " + row[1]);
        const WindowSpans s = window_spans(integer(row[0]), integer(row[1]));
        EXPECT_EQ(std::to_string(s.length_ms), row[2]);
        EXPECT_EQ(std::tuple(s.current_10_min.from_ms, s.current_20_min.from_ms, s.current_10_min.to_ms),
                  std::tuple(integer(row[3]), integer(row[4]), integer(row[1])));
        EXPECT_EQ(std::to_string(s.previous_10_min.from_ms) + " " + std::to_string(s.previous_10_min.to_ms), row[5]);
        EXPECT_EQ(std::to_string(s.at_least_10_min) + " " + std::to_string(s.at_least_20_min) + " " +
                      std::to_string(s.at_least_30_min), row[6]);
    }
}

}  // namespace
}  // namespace fhr_core::analysis
