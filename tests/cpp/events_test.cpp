#include "fhr_core/analysis/events.hpp"

#include <gtest/gtest.h>

#include "series_support.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace fhr_core::analysis {
namespace {

using testing_support::clock_text;
using testing_support::kBaseMs;
constexpr std::int32_t kBaseline = 140;

// A stretch of equal seconds: fetal value (absent when nullopt) and length.
struct Stretch {
    std::optional<double> fetal;
    int seconds = 0;
};

// A series of named seconds from 10:00:00 on.
struct SeriesFixture : testing_support::NamedSeries {
    explicit SeriesFixture(const std::vector<Stretch>& stretches) {
        for (const Stretch& stretch : stretches) {
            for (int i = 0; i < stretch.seconds; ++i) add(stretch.fetal);
        }
    }

    Span whole() const { return Span{series.front().timestamp_ms, series.back().timestamp_ms}; }
};

Span span_of_seconds(std::int64_t from, std::int64_t to) {
    return Span{kBaseMs + from * 1000, kBaseMs + to * 1000};
}

constexpr std::optional<double> kAbsent = std::nullopt;

// ---------------------------------------------------------------- criterion

struct CriterionCase {
    const char* name;
    std::optional<std::uint8_t> weeks;
    double expected;
};

TEST(AccelerationCriterion, FollowsGestationalAge) {
    const CriterionCase cases[] = {
        {"absent age", std::nullopt, 15.0},
        {"31 weeks", 31, 10.0},
        {"32 weeks", 32, 15.0},
        {"0 weeks", 0, 10.0},
        {"42 weeks", 42, 15.0},
    };
    for (const CriterionCase& c : cases) {
        EXPECT_EQ(acceleration_criterion(c.weeks), c.expected) << c.name;
    }
}

// ------------------------------------------------------------ accelerations

struct ExpectedAcceleration {
    std::int64_t start;
    std::int64_t end;  // second whose text names the end
    double duration;
    double peak;
};

struct AccelerationCase {
    const char* name;
    double criterion;
    std::vector<Stretch> profile;
    std::optional<std::pair<std::int64_t, std::int64_t>> span;  // seconds; whole series if absent
    std::vector<ExpectedAcceleration> expected;
};

TEST(AccelerationDetection, RunsLimitsAndPeaks) {
    const AccelerationCase cases[] = {
        {"three-second dip is bridged",
         15.0,
         {{160, 10}, {140, 3}, {160, 8}, {140, 30}},
         std::nullopt,
         {{0, 21, 21.0, 160}}},
        {"four-second dip splits the run",
         8.0,
         {{160, 10}, {140, 4}, {160, 8}, {140, 30}},
         std::nullopt,
         {{0, 10, 10.0, 160}, {14, 22, 8.0, 160}}},
        {"absent seconds are bridged like low ones",
         15.0,
         {{160, 10}, {kAbsent, 3}, {160, 8}, {140, 30}},
         std::nullopt,
         {{0, 21, 21.0, 160}}},
        {"four absent seconds split the run",
         8.0,
         {{160, 10}, {kAbsent, 4}, {160, 10}, {140, 30}},
         std::nullopt,
         {{0, 10, 10.0, 160}, {14, 24, 10.0, 160}}},
        {"119 seconds is an acceleration",
         15.0,
         {{160, 5}, {170, 1}, {160, 113}, {140, 10}},
         std::nullopt,
         {{0, 119, 119.0, 170}}},
        {"120 seconds is not",
         15.0,
         {{160, 5}, {170, 1}, {160, 114}, {140, 10}},
         std::nullopt,
         {}},
        {"shorter than the criterion",
         15.0,
         {{160, 14}, {140, 10}},
         std::nullopt,
         {}},
        {"exactly the criterion long",
         15.0,
         {{160, 15}, {140, 10}},
         std::nullopt,
         {{0, 15, 15.0, 160}}},
        {"peak 29 seconds after onset",
         15.0,
         {{160, 29}, {170, 1}, {160, 20}, {140, 10}},
         std::nullopt,
         {{0, 50, 50.0, 170}}},
        {"peak 30 seconds after onset",
         15.0,
         {{160, 30}, {170, 1}, {160, 19}, {140, 10}},
         std::nullopt,
         {}},
        {"latest of equal peaks counts (30 s)",
         15.0,
         {{160, 20}, {170, 1}, {160, 9}, {170, 1}, {160, 10}, {140, 10}},
         std::nullopt,
         {}},
        {"latest of equal peaks counts (29 s)",
         15.0,
         {{160, 20}, {170, 1}, {160, 8}, {170, 1}, {160, 11}, {140, 10}},
         std::nullopt,
         {{0, 41, 41.0, 170}}},
        {"exactly baseline plus criterion qualifies",
         15.0,
         {{155, 20}, {140, 10}},
         std::nullopt,
         {{0, 20, 20.0, 155}}},
        {"just below baseline plus criterion",
         15.0,
         {{154.9, 20}, {140, 10}},
         std::nullopt,
         {}},
        {"seconds before the span do not start the run",
         8.0,
         {{160, 10}, {140, 2}, {160, 10}, {140, 10}},
         std::pair<std::int64_t, std::int64_t>{11, 31},
         {{12, 22, 10.0, 160}}},
        {"seconds after the span do not extend the run",
         15.0,
         {{160, 40}, {140, 10}},
         std::pair<std::int64_t, std::int64_t>{10, 29},
         {{10, 30, 20.0, 160}}},
        {"run open at the end of the series",
         15.0,
         {{140, 5}, {160, 20}},
         std::nullopt,
         {{5, 24, 20.0, 160}}},
        {"no qualifying second", 15.0, {{150, 60}}, std::nullopt, {}},
    };
    for (const AccelerationCase& c : cases) {
        const SeriesFixture fixture(c.profile);
        const Span span = c.span ? span_of_seconds(c.span->first, c.span->second) : fixture.whole();
        const std::vector<AccelerationEvent> events =
            detect_accelerations(fixture.series, span, kBaseline, c.criterion);
        ASSERT_EQ(events.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].start, clock_text(c.expected[i].start)) << c.name;
            EXPECT_EQ(events[i].end, clock_text(c.expected[i].end)) << c.name;
            EXPECT_EQ(events[i].duration_seconds, c.expected[i].duration) << c.name;
            EXPECT_EQ(events[i].peak_bpm, c.expected[i].peak) << c.name;
        }
    }
}

struct GestationalCase {
    const char* name;
    std::optional<std::uint8_t> weeks;
    std::vector<Stretch> profile;
    std::size_t expected_count;
};

TEST(AccelerationDetection, CriterionFromGestationalAge) {
    const GestationalCase cases[] = {
        {"31 weeks: +10 for 10 s counts", 31, {{150, 10}, {140, 20}}, 1},
        {"32 weeks: +10 for 10 s does not", 32, {{150, 10}, {140, 20}}, 0},
        {"no age: +10 for 10 s does not", std::nullopt, {{150, 10}, {140, 20}}, 0},
        {"32 weeks: +15 for 15 s counts", 32, {{155, 15}, {140, 20}}, 1},
        {"no age: +15 for 14 s does not", std::nullopt, {{155, 14}, {140, 20}}, 0},
    };
    for (const GestationalCase& c : cases) {
        const SeriesFixture fixture(c.profile);
        const std::vector<AccelerationEvent> events = detect_accelerations(
            fixture.series, fixture.whole(), kBaseline, acceleration_criterion(c.weeks));
        EXPECT_EQ(events.size(), c.expected_count) << c.name;
    }
}

// ------------------------------------------------------------ decelerations

struct ExpectedDeceleration {
    std::int64_t start;
    std::int64_t end;
    double duration;
    double nadir;
    double depth;
    double onset_to_nadir;
    DecelerationKind kind;
};

struct DecelerationCase {
    const char* name;
    std::vector<Stretch> profile;
    std::vector<ExpectedDeceleration> expected;
};

constexpr auto kVariable = DecelerationKind::variable;
constexpr auto kProlonged = DecelerationKind::prolonged;
constexpr auto kGradual = DecelerationKind::gradual_unclassified;

TEST(DecelerationDetection, RunsLimitsNadirAndKind) {
    const DecelerationCase cases[] = {
        {"exactly baseline minus 15 qualifies",
         {{125, 20}, {140, 10}},
         {{0, 20, 20.0, 125, 15.0, 0.0, kVariable}}},
        {"baseline minus 14.9 does not", {{125.1, 20}, {140, 10}}, {}},
        {"14 seconds is dropped", {{120, 14}, {140, 10}}, {}},
        {"15 seconds is kept", {{120, 15}, {140, 10}}, {{0, 15, 15.0, 120, 20.0, 0.0, kVariable}}},
        {"fractional nadir gives fractional depth",
         {{140, 3}, {124.5, 20}, {140, 10}},
         {{3, 23, 20.0, 124.5, 15.5, 0.0, kVariable}}},
        {"earliest of equal nadirs counts",
         {{125, 10}, {110, 1}, {125, 19}, {110, 1}, {125, 10}, {140, 10}},
         {{0, 41, 41.0, 110, 30.0, 10.0, kVariable}}},
        {"nadir 29 s after onset is variable",
         {{125, 29}, {110, 1}, {125, 10}, {140, 10}},
         {{0, 40, 40.0, 110, 30.0, 29.0, kVariable}}},
        {"nadir 30 s after onset is gradual",
         {{125, 30}, {110, 1}, {125, 10}, {140, 10}},
         {{0, 41, 41.0, 110, 30.0, 30.0, kGradual}}},
        {"119 s is not prolonged",
         {{110, 1}, {125, 118}, {140, 10}},
         {{0, 119, 119.0, 110, 30.0, 0.0, kVariable}}},
        {"120 s is prolonged",
         {{110, 1}, {125, 119}, {140, 10}},
         {{0, 120, 120.0, 110, 30.0, 0.0, kProlonged}}},
        {"599 s is prolonged",
         {{125, 40}, {110, 1}, {125, 558}, {140, 10}},
         {{0, 599, 599.0, 110, 30.0, 40.0, kProlonged}}},
        {"600 s with an early nadir is variable",
         {{110, 1}, {125, 599}, {140, 10}},
         {{0, 600, 600.0, 110, 30.0, 0.0, kVariable}}},
        {"600 s with a late nadir is gradual",
         {{125, 30}, {110, 1}, {125, 569}, {140, 10}},
         {{0, 600, 600.0, 110, 30.0, 30.0, kGradual}}},
        {"three-second rise is bridged",
         {{120, 10}, {140, 3}, {120, 8}, {140, 10}},
         {{0, 21, 21.0, 120, 20.0, 0.0, kVariable}}},
        {"four-second rise splits; short parts dropped",
         {{120, 10}, {140, 4}, {120, 15}, {140, 10}},
         {{14, 29, 15.0, 120, 20.0, 0.0, kVariable}}},
        {"absent seconds inside are bridged",
         {{120, 10}, {kAbsent, 3}, {110, 8}, {140, 10}},
         {{0, 21, 21.0, 110, 30.0, 13.0, kVariable}}},
    };
    for (const DecelerationCase& c : cases) {
        const SeriesFixture fixture(c.profile);
        const std::vector<Deceleration> decelerations =
            detect_decelerations(fixture.series, fixture.whole(), kBaseline);
        ASSERT_EQ(decelerations.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < decelerations.size(); ++i) {
            const ExpectedDeceleration& e = c.expected[i];
            const DecelerationEvent& event = decelerations[i].event;
            EXPECT_EQ(event.start, clock_text(e.start)) << c.name;
            EXPECT_EQ(event.end, clock_text(e.end)) << c.name;
            EXPECT_EQ(event.duration_seconds, e.duration) << c.name;
            EXPECT_EQ(event.nadir_bpm, e.nadir) << c.name;
            EXPECT_EQ(event.depth_bpm, e.depth) << c.name;
            EXPECT_EQ(event.onset_to_nadir_seconds, e.onset_to_nadir) << c.name;
            EXPECT_EQ(event.kind, e.kind) << c.name;
            // Every second is named by a row at its start.
            ASSERT_TRUE(decelerations[i].at.has_value()) << c.name;
            const std::int64_t start_ms = kBaseMs + e.start * 1000;
            EXPECT_EQ(decelerations[i].at->start, start_ms) << c.name;
            EXPECT_EQ(decelerations[i].at->nadir, start_ms + std::llround(e.onset_to_nadir * 1000)) << c.name;
            EXPECT_EQ(decelerations[i].at->end, kBaseMs + e.end * 1000) << c.name;
        }
    }
}

TEST(DecelerationDetection, DetectionSpanLimitsTheSearch) {
    // A deep fall entirely before the span is not seen; one inside it is.
    const SeriesFixture fixture({{110, 20}, {140, 20}, {110, 20}, {140, 10}});
    const std::vector<Deceleration> decelerations =
        detect_decelerations(fixture.series, span_of_seconds(30, 69), kBaseline);
    ASSERT_EQ(decelerations.size(), 1u);
    EXPECT_EQ(decelerations[0].event.start, clock_text(40));
    EXPECT_EQ(decelerations[0].event.end, clock_text(60));
}

// ------------------------------------------------------------------ instants

// A deceleration is placed by the rows that name its start and end seconds,
// its nadir onset_to_nadir after the start row: none without those rows, and
// none when the nadir would lie past the last instant.
TEST(DecelerationInstants, PlacedWhereTheEventIsMade) {
    constexpr std::int64_t kLastSecond = std::numeric_limits<std::int64_t>::max() - 807;
    const struct {
        const char* name;
        std::int64_t first_second;      // the deceleration runs 20 s from here, nadir last
        std::int64_t start_row_offset;  // where in its second the start row lies
        bool named;                     // rows name the seconds
        bool placed;
    } cases[] = {
        {"named seconds", kBaseMs, 250, true, true},
        {"seconds without rows", kBaseMs, 0, false, false},
        {"nadir at the last instant", kLastSecond - 20'000, 807, true, true},
        {"nadir past the last instant", kLastSecond - 20'000, 808, true, false},
    };
    for (const auto& c : cases) {
        std::vector<MonitorSample> rows;
        for (std::int64_t s = 0; s <= 20; ++s) {
            MonitorSample& row = rows.emplace_back();
            row.timestamp = "row";
            row.timestamp_ms = c.first_second + s * 1000 + (s == 0 ? c.start_row_offset : 0);
            row.hr1 = s == 20 ? 100.0 : 120.0;
        }
        if (!c.named) rows.clear();
        const std::int64_t end = c.first_second + 20'000;
        PreparedWindow window = build_second_samples(rows, FetalChannel::HR1, window_spans(c.first_second, end));
        if (!c.named) {
            for (std::size_t i = 0; i < window.series.size(); ++i) window.series[i].fetal_bpm = i == 20 ? 100.0 : 120.0;
        }
        const std::vector<Deceleration> d = detect_decelerations(window.series, Span{c.first_second, end}, kBaseline);
        ASSERT_EQ(d.size(), 1u) << c.name;
        ASSERT_EQ(d[0].at.has_value(), c.placed) << c.name;
        if (!c.placed) continue;
        const std::int64_t start = c.first_second + c.start_row_offset;
        EXPECT_EQ(d[0].at->start, start) << c.name;
        EXPECT_EQ(d[0].at->nadir, start + 20'000) << c.name;
        EXPECT_EQ(d[0].at->end, end) << c.name;  // the closest second to the run's end is its last
    }
}

// -------------------------------------------------------------------- timing

constexpr std::int64_t kLast = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kFirst = std::numeric_limits<std::int64_t>::min();

// A gradual (or other) deceleration placed at seconds after 10:00:00.
Deceleration deceleration(std::int64_t start, std::int64_t end, double onset_to_nadir,
                          DecelerationKind kind = kGradual) {
    Deceleration d;
    d.event.kind = kind;
    const std::int64_t start_ms = kBaseMs + start * 1000;
    d.at = DecelerationInstants{start_ms, start_ms + std::llround(onset_to_nadir * 1000), kBaseMs + end * 1000};
    return d;
}

Deceleration placed_at(std::int64_t start, std::int64_t nadir, std::int64_t end) {
    Deceleration d;
    d.event.kind = kGradual;
    d.at = DecelerationInstants{start, nadir, end};
    return d;
}

Contraction contraction_at(std::optional<std::int64_t> start, std::optional<std::int64_t> peak,
                           std::optional<std::int64_t> end) {
    Contraction c;
    c.at = ContractionInstants{start, peak, end};
    return c;
}

Contraction at_seconds(std::int64_t start, std::int64_t peak, std::int64_t end) {
    return contraction_at(kBaseMs + start * 1000, kBaseMs + peak * 1000, kBaseMs + end * 1000);
}

struct TimingCase {
    const char* name;
    Deceleration deceleration;
    std::vector<Contraction> contractions;
    DecelerationKind expected;
};

TEST(GradualDecelerationTiming, AssociationAndLag) {
    Deceleration unplaced = deceleration(0, 80, 60.0);
    unplaced.at.reset();
    const TimingCase cases[] = {
        {"nadir 5.0 s after the peak is early", deceleration(0, 80, 65.0), {at_seconds(40, 60, 90)},
         DecelerationKind::early},
        {"nadir 5.001 s after the peak is late", deceleration(0, 80, 65.001), {at_seconds(40, 60, 90)},
         DecelerationKind::late},
        {"nadir 5.0 s before the peak is early", deceleration(0, 80, 55.0), {at_seconds(40, 60, 90)},
         DecelerationKind::early},
        {"nadir 6 s before the peak stays gradual", deceleration(0, 80, 54.0), {at_seconds(40, 60, 90)}, kGradual},
        {"variable decelerations are not timed", deceleration(0, 80, 60.0, kVariable), {at_seconds(40, 60, 90)},
         kVariable},
        {"prolonged decelerations are not timed", deceleration(0, 80, 60.0, kProlonged), {at_seconds(40, 60, 90)},
         kProlonged},
        {"no contractions", deceleration(0, 80, 65.0), {}, kGradual},
        // Nadir at 20 s. The contraction starting 31 s later is not associated,
        // so the farther one (peak 60 s before the nadir) decides.
        {"nadir 31 s before a contraction start is not associated", deceleration(0, 40, 20.0),
         {at_seconds(-80, -40, -30), at_seconds(51, 52, 80)}, DecelerationKind::late},
        {"nadir 30 s before a contraction start is associated", deceleration(0, 40, 20.0),
         {at_seconds(-80, -40, -30), at_seconds(50, 52, 80)}, kGradual},
        {"nadir 60 s after a contraction end is associated", deceleration(100, 140, 20.0), {at_seconds(40, 50, 60)},
         DecelerationKind::late},
        {"nadir 61 s after a contraction end is not", deceleration(100, 140, 21.0), {at_seconds(40, 50, 60)},
         kGradual},
        {"overlap alone associates", deceleration(0, 200, 150.0), {at_seconds(10, 20, 30)}, DecelerationKind::late},
        {"equal distances: the earlier listed wins (late)", deceleration(0, 80, 40.0),
         {at_seconds(20, 30, 50), at_seconds(40, 50, 70)}, DecelerationKind::late},
        {"equal distances: the earlier listed wins (stays)", deceleration(0, 80, 40.0),
         {at_seconds(40, 50, 70), at_seconds(20, 30, 50)}, kGradual},
        {"the closest peak wins", deceleration(0, 80, 40.0), {at_seconds(10, 20, 30), at_seconds(30, 38, 60)},
         DecelerationKind::early},
        {"an unplaced deceleration takes no part", unplaced, {at_seconds(40, 60, 90)}, kGradual},
        {"a contraction without a peak instant is passed over", deceleration(0, 80, 60.0),
         {contraction_at(kBaseMs + 40'000, std::nullopt, kBaseMs + 90'000), at_seconds(20, 30, 50)},
         DecelerationKind::late},
        {"instants far apart do not overflow", placed_at(kLast, kLast, kLast), {contraction_at(kFirst, kFirst, kLast)},
         DecelerationKind::late},
        {"association bound past the last instant", placed_at(kLast, kLast, kLast),
         {contraction_at(kLast, kLast, kLast)}, DecelerationKind::early},
    };
    for (const TimingCase& c : cases) {
        std::vector<Deceleration> decelerations{c.deceleration};
        time_gradual_decelerations(decelerations, c.contractions);
        EXPECT_EQ(decelerations[0].event.kind, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace fhr_core::analysis
