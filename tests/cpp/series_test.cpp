#include "fhr_core/analysis/series.hpp"

#include <gtest/gtest.h>

#include "fhr_core/csv_input/csv_reader.hpp"
#include "fhr_core/time/timestamp.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace fhr_core::analysis {
namespace {

using std::nullopt;
using Opt = std::optional<double>;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
// 2024-03-10 10:00:00.000 UTC
constexpr std::int64_t kTen = 1'710'064'800'000;

struct Row {
    std::int64_t ms;
    const char* text;
    Opt hr1 = nullopt;
    Opt hrm = nullopt;
    Opt toco = nullopt;
    Opt hr2 = nullopt;
    Opt hr3 = nullopt;
};

std::vector<MonitorSample> rows_of(const std::vector<Row>& rows) {
    std::vector<MonitorSample> out;
    for (const Row& r : rows) {
        MonitorSample s;
        s.timestamp_ms = r.ms;
        s.timestamp = r.text;
        s.hr1 = r.hr1;
        s.hr2 = r.hr2;
        s.hr3 = r.hr3;
        s.hrm = r.hrm;
        s.toco = r.toco;
        out.push_back(s);
    }
    return out;
}

// One expected second of the series.
struct Second {
    std::int64_t ms;
    std::string text;
    Opt fetal;
    Opt maternal;
    Opt toco;
};

void expect_series(const Series& series, const std::vector<Second>& expected) {
    ASSERT_EQ(series.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("second " + std::to_string(i));
        EXPECT_EQ(series[i].timestamp_ms, expected[i].ms);
        EXPECT_EQ(second_text(series[i]), expected[i].text);
        EXPECT_EQ(series[i].fetal_bpm, expected[i].fetal);
        EXPECT_EQ(series[i].maternal_bpm, expected[i].maternal);
        EXPECT_EQ(series[i].toco, expected[i].toco);
    }
}

struct BinningCase {
    const char* name;
    std::vector<Row> rows;
    FetalChannel channel;
    std::int64_t start;
    std::int64_t end;
    std::vector<Second> expected;
};

TEST(SecondSeriesBinning, Table) {
    const std::vector<BinningCase> cases = {
        {"two rows in one second are averaged and named by the first",
         {{kTen + 100, "a", 140.0, 80.0, 10.0}, {kTen + 900, "b", 150.0, 90.0, 20.0}},
         FetalChannel::HR1, kTen, kTen + 999,
         {{kTen, "a", 145.0, 85.0, 15.0}}},
        {"usable bounds are inclusive",
         {{kTen, "lo", 30.0, 30.0, 0.0}, {kTen + 1000, "hi", 240.0, 240.0, 300.0}},
         FetalChannel::HR1, kTen, kTen + 1000,
         {{kTen, "lo", 30.0, 30.0, 0.0}, {kTen + 1000, "hi", 240.0, 240.0, 300.0}}},
        {"values just outside the usable ranges are dropped",
         {{kTen, "lo", 29.9, 29.9, -0.1}, {kTen + 1000, "hi", 240.1, 240.1, 300.1}},
         FetalChannel::HR1, kTen, kTen + 1000,
         {{kTen, "lo", nullopt, nullopt, nullopt}, {kTen + 1000, "hi", nullopt, nullopt, nullopt}}},
        {"an unusable value is skipped for its own signal only",
         {{kTen, "x", 20.0, 80.0, 5.0}, {kTen + 10, "y", 141.0, 250.0, std::nan("")}},
         FetalChannel::HR1, kTen, kTen + 999,
         {{kTen, "x", 141.0, 80.0, 5.0}}},
        {"a second whose only row is unusable keeps the row's text",
         {{kTen, "only", 20.0}},
         FetalChannel::HR1, kTen, kTen + 1000,
         {{kTen, "only", nullopt, nullopt, nullopt}, {kTen + 1000, "1710064801000ms", nullopt, nullopt, nullopt}}},
        {"seconds without rows are synthesized",
         {{kTen + 2000, "r", 120.0}},
         FetalChannel::HR1, kTen, kTen + 2000,
         {{kTen, "1710064800000ms", nullopt, nullopt, nullopt},
          {kTen + 1000, "1710064801000ms", nullopt, nullopt, nullopt},
          {kTen + 2000, "r", 120.0, nullopt, nullopt}}},
        {"HR2 selects the second channel only",
         {{kTen, "c", 100.0, nullopt, nullopt, 120.0, 130.0}},
         FetalChannel::HR2, kTen, kTen,
         {{kTen, "c", 120.0, nullopt, nullopt}}},
        {"HR3 selects the third channel only",
         {{kTen, "c", 100.0, nullopt, nullopt, 120.0, 130.0}},
         FetalChannel::HR3, kTen, kTen,
         {{kTen, "c", 130.0, nullopt, nullopt}}},
        {"negative times floor toward negative infinity",
         {{-2500, "n1", 100.0}, {-1001, "n2", 110.0}, {-1, "n3", 120.0}, {0, "z", 130.0}},
         FetalChannel::HR1, -2500, -1,
         {{-3000, "n1", 100.0, nullopt, nullopt},
          {-2000, "n2", 110.0, nullopt, nullopt},
          {-1000, "n3", 120.0, nullopt, nullopt}}},
        {"rows outside the window are not binned",
         {{kTen - 1, "before", 100.0}, {kTen, "in1", 110.0}, {kTen + 1500, "in2", 120.0},
          {kTen + 1501, "after", 200.0}},
         FetalChannel::HR1, kTen, kTen + 1500,
         {{kTen, "in1", 110.0, nullopt, nullopt}, {kTen + 1000, "in2", 120.0, nullopt, nullopt}}},
    };
    for (const BinningCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto samples = rows_of(c.rows);
        expect_series(build_second_samples(samples, c.channel, window_spans(c.start, c.end)).series, c.expected);
    }
}

struct WindowCase {
    const char* name;
    std::vector<Row> rows;
    std::int64_t start;
    std::int64_t end;
    std::size_t series_length;
    std::int64_t first_second;
    std::uint64_t expected_seconds;
    std::uint64_t raw_samples;
    std::string window_start;
    std::string window_end;
    double duration_seconds;
};

TEST(SecondSeriesWindow, Table) {
    const std::vector<WindowCase> cases = {
        {"fractional ends cover both end seconds",
         {}, kTen + 500, kTen + 600'200, 601, kTen, 601, 0,
         "1710064800000ms", "1710065400000ms", 599.7},
        {"twenty minutes on whole seconds has 1201 seconds",
         {{kTen, "s", 140.0}, {kTen + 1'200'000, "e", 140.0}}, kTen, kTen + 1'200'000, 1201, kTen,
         1201, 2, "s", "e", 1200.0},
        {"window texts come from the first and last in-window rows",
         {{kTen - 5, "out"}, {kTen + 300, "first"}, {kTen + 300, "dup"}, {kTen + 4200, "last"},
          {kTen + 5001, "out2"}},
         kTen, kTen + 5000, 6, kTen, 6, 3, "first", "last", 5.0},
        {"a single instant has one second",
         {{kTen + 7, "one", 140.0}}, kTen + 7, kTen + 7, 1, kTen, 1, 1, "one", "one", 0.0},
        {"end second before start second gives an empty series",
         {{kTen, "r", 140.0}}, kTen + 1000, kTen, 0, 0, 0, 0, "unknown", "unknown", 0.0},
        {"end before start within one second keeps that second",
         {{kTen + 1200, "r", 140.0}}, kTen + 1500, kTen + 1200, 1, kTen + 1000, 1, 0,
         "1710064801000ms", "1710064801000ms", 0.0},
        {"negative window without rows",
         {}, -1500, 0, 3, -2000, 3, 0, "-2000ms", "0ms", 1.5},
    };
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto samples = rows_of(c.rows);
        const PreparedWindow w = build_second_samples(samples, FetalChannel::HR1, window_spans(c.start, c.end));
        ASSERT_EQ(w.series.size(), c.series_length);
        if (!w.series.empty()) {
            EXPECT_EQ(w.series.front().timestamp_ms, c.first_second);
            for (std::size_t i = 1; i < w.series.size(); ++i) {
                ASSERT_EQ(w.series[i].timestamp_ms, w.series[i - 1].timestamp_ms + 1000);
            }
        }
        EXPECT_EQ(w.data_quality.expected_seconds, c.expected_seconds);
        EXPECT_EQ(w.data_quality.raw_samples, c.raw_samples);
        EXPECT_EQ(w.window_start, c.window_start);
        EXPECT_EQ(w.window_end, c.window_end);
        EXPECT_EQ(w.duration_seconds, c.duration_seconds);
    }
}

struct QualityCase {
    const char* name;
    std::vector<Row> rows;
    std::int64_t end;  // the window starts at kTen
    std::uint64_t fetal_seconds;
    double fetal_ratio;
    double maternal_ratio;
    double toco_ratio;
    double capture_ratio;
};

TEST(SecondSeriesQuality, Table) {
    const std::vector<QualityCase> cases = {
        {"150 against 146 is a match",
         {{kTen, "a", 150.0, 146.0}}, kTen + 1000, 1, 0.5, 0.5, 0.0, 1.0},
        {"150 against 144.9 is not",
         {{kTen, "a", 150.0, 144.9}}, kTen + 1000, 1, 0.5, 0.5, 0.0, 0.0},
        {"seconds with only one of the two rates are not paired",
         {{kTen, "a", 150.0}, {kTen + 1000, "b", 140.0, 141.0}, {kTen + 2000, "c", nullopt, 90.0, 7.0},
          {kTen + 3000, "d", 120.0, 80.0}},
         kTen + 3000, 3, 0.75, 0.75, 0.25, 0.5},
        {"a window without rows has zero ratios",
         {}, kTen + 9000, 0, 0.0, 0.0, 0.0, 0.0},
        {"the capture test uses the second means",
         {{kTen, "a", 140.0, 150.0}, {kTen + 500, "b", 160.0, 160.0}}, kTen + 3000, 1, 0.25, 0.25,
         0.0, 1.0},
    };
    for (const QualityCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto samples = rows_of(c.rows);
        const DataQuality q = build_second_samples(samples, FetalChannel::HR1, window_spans(kTen, c.end)).data_quality;
        EXPECT_EQ(q.fetal_usable_seconds, c.fetal_seconds);
        EXPECT_EQ(q.fetal_usable_ratio, c.fetal_ratio);
        EXPECT_EQ(q.maternal_usable_ratio, c.maternal_ratio);
        EXPECT_EQ(q.toco_usable_ratio, c.toco_ratio);
        EXPECT_EQ(q.suspected_maternal_capture_ratio, c.capture_ratio);
    }
}

// Windows at the very ends of the instant range must not overflow.
TEST(SecondSeriesWindow, ExtremeInstants) {
    struct Case {
        const char* name;
        std::int64_t start;
        std::int64_t end;
        std::vector<std::int64_t> seconds;
        std::uint64_t expected_seconds;
    };
    const std::vector<Case> cases = {
        {"top of the range", kMax - 2500, kMax,
         {9'223'372'036'854'773'000, 9'223'372'036'854'774'000, 9'223'372'036'854'775'000}, 3},
        {"bottom of the range pins the partial second", kMin, kMin + 1500,
         {kMin, -9'223'372'036'854'775'000}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto samples = rows_of({{c.start, "s", 140.0}, {c.end, "e", 150.0}});
        const PreparedWindow w = build_second_samples(samples, FetalChannel::HR1, window_spans(c.start, c.end));
        ASSERT_EQ(w.series.size(), c.seconds.size());
        for (std::size_t i = 0; i < c.seconds.size(); ++i) {
            EXPECT_EQ(w.series[i].timestamp_ms, c.seconds[i]);
        }
        EXPECT_EQ(w.series.front().fetal_bpm, Opt(140.0));
        EXPECT_EQ(w.series.back().fetal_bpm, Opt(150.0));
        EXPECT_EQ(w.data_quality.expected_seconds, c.expected_seconds);
        EXPECT_EQ(w.window_start, "s");
        EXPECT_EQ(w.window_end, "e");
    }
}

// The instant an event is placed at is taken from the second its text comes
// from, where the event is made; it is exactly the instant that text parses
// back to, for every shape of text a second can carry: the text of the row
// that named it (any layout the readers accept, up to the ends of the instant
// range) or the synthesized "{ms}ms" of a second without rows.
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
    const auto rows = rows_of({{10'000, "a"}, {11'000, "b"}, {12'000, "c"}});
    const Series series = build_second_samples(rows, FetalChannel::HR1, window_spans(10'000, 12'000)).series;
    struct Case {
        std::int64_t ms;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {kMin, "a"}, {9'000, "a"}, {10'000, "a"}, {10'499, "a"}, {10'500, "a"},
        {10'501, "b"}, {11'000, "b"}, {11'500, "b"}, {11'501, "c"}, {12'000, "c"},
        {kMax, "c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(second_text(closest_second(series, c.ms)), c.expected) << c.ms;
    }
}

// The segments of a window, pinned at the ends of the instant range.
TEST(WindowSpansTable, SegmentsAndFlags) {
    struct Case {
        std::int64_t start;
        std::int64_t end;
        std::uint64_t length;
        std::int64_t from_10;
        std::int64_t from_20;
        Span previous;
        bool at_least_10, at_least_20, at_least_30;
    };
    constexpr std::int64_t kM = 60'000;
    const std::vector<Case> cases = {
        {0, 30 * kM, 30 * kM, 20 * kM, 10 * kM, {10 * kM, 20 * kM}, true, true, true},
        {0, 30 * kM - 1, 30 * kM - 1, 20 * kM - 1, 10 * kM - 1, {10 * kM - 1, 20 * kM - 1}, true, true, false},
        {0, 20 * kM, 20 * kM, 10 * kM, 0, {0, 10 * kM}, true, true, false},
        {0, 20 * kM - 1, 20 * kM - 1, 10 * kM - 1, 0, {-1, 10 * kM - 1}, true, false, false},
        {0, 10 * kM, 10 * kM, 0, 0, {-10 * kM, 0}, true, false, false},
        {0, 10 * kM - 1, 10 * kM - 1, 0, 0, {-10 * kM - 1, -1}, false, false, false},
        {600'000, 0, 0, 600'000, 600'000, {-20 * kM, -10 * kM}, false, false, false},
        {kMin, kMin + 5, 5, kMin, kMin, {kMin, kMin}, false, false, false},
        {kMax - 1, kMax, 1, kMax - 1, kMax - 1, {kMax - 20 * kM, kMax - 10 * kM}, false, false, false},
        {kMin, kMax, std::numeric_limits<std::uint64_t>::max(), kMax - 10 * kM, kMax - 20 * kM,
         {kMax - 20 * kM, kMax - 10 * kM}, true, true, true},
        {kMax, kMin, 0, kMax, kMax, {kMin, kMin}, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " " + std::to_string(c.end));
        const WindowSpans s = window_spans(c.start, c.end);
        EXPECT_EQ(s.length_ms, c.length);
        EXPECT_EQ(s.current_10_min.from_ms, c.from_10);
        EXPECT_EQ(s.current_20_min.from_ms, c.from_20);
        EXPECT_EQ(s.current_10_min.to_ms, c.end);
        EXPECT_EQ(s.previous_10_min.from_ms, c.previous.from_ms);
        EXPECT_EQ(s.previous_10_min.to_ms, c.previous.to_ms);
        EXPECT_EQ(s.at_least_10_min, c.at_least_10);
        EXPECT_EQ(s.at_least_20_min, c.at_least_20);
        EXPECT_EQ(s.at_least_30_min, c.at_least_30);
    }
}

}  // namespace
}  // namespace fhr_core::analysis
