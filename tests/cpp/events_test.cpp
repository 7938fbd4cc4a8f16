#include "fhr_core/analysis/events.hpp"

#include <gtest/gtest.h>

#include "clock_text_support.hpp"

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fhr_core/time/timestamp.hpp"

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

// A series of named seconds from 10:00:00 on; owns the texts it views.
struct SeriesFixture {
    std::deque<std::string> texts;
    Series series;

    explicit SeriesFixture(const std::vector<Stretch>& stretches) {
        std::int64_t offset = 0;
        for (const Stretch& stretch : stretches) {
            for (int i = 0; i < stretch.seconds; ++i, ++offset) {
                texts.push_back(clock_text(offset));
                SecondSample second;
                second.fetal_bpm = stretch.fetal;
                second.timestamp = texts.back();
                second.timestamp_ms = kBaseMs + offset * 1000;
                series.push_back(second);
            }
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
        const std::vector<DecelerationEvent> events =
            detect_decelerations(fixture.series, fixture.whole(), kBaseline);
        ASSERT_EQ(events.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < events.size(); ++i) {
            const ExpectedDeceleration& e = c.expected[i];
            EXPECT_EQ(events[i].start, clock_text(e.start)) << c.name;
            EXPECT_EQ(events[i].end, clock_text(e.end)) << c.name;
            EXPECT_EQ(events[i].duration_seconds, e.duration) << c.name;
            EXPECT_EQ(events[i].nadir_bpm, e.nadir) << c.name;
            EXPECT_EQ(events[i].depth_bpm, e.depth) << c.name;
            EXPECT_EQ(events[i].onset_to_nadir_seconds, e.onset_to_nadir) << c.name;
            EXPECT_EQ(events[i].kind, e.kind) << c.name;
        }
    }
}

TEST(DecelerationDetection, DetectionSpanLimitsTheSearch) {
    // A deep fall entirely before the span is not seen; one inside it is.
    const SeriesFixture fixture({{110, 20}, {140, 20}, {110, 20}, {140, 10}});
    const std::vector<DecelerationEvent> events =
        detect_decelerations(fixture.series, span_of_seconds(30, 69), kBaseline);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].start, clock_text(40));
    EXPECT_EQ(events[0].end, clock_text(60));
}

// --------------------------------------------------------------- decel_times

// The latest instant a monitor text can name lies 807 ms before the end of
// the signed 64-bit millisecond range.
constexpr const char* kLastRepresentableSecond = "292278994-08-17 07:12:55";

DecelerationEvent deceleration(std::string start, std::string end, double onset_to_nadir,
                               DecelerationKind kind = kGradual) {
    DecelerationEvent event;
    event.start = std::move(start);
    event.end = std::move(end);
    event.onset_to_nadir_seconds = onset_to_nadir;
    event.kind = kind;
    return event;
}

struct DecelTimesCase {
    const char* name;
    std::string start;
    std::string end;
    double onset_to_nadir;
    std::optional<DecelTimes> expected;
};

TEST(DecelTimes, ParsesTextsAndPlacesTheNadir) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const DecelTimesCase cases[] = {
        {"whole seconds", clock_text(0), clock_text(40), 20.0,
         DecelTimes{kBaseMs, kBaseMs + 20'000, kBaseMs + 40'000}},
        {"half millisecond rounds up", clock_text(0), clock_text(40), 0.0625,
         DecelTimes{kBaseMs, kBaseMs + 63, kBaseMs + 40'000}},
        {"negative half rounds away from zero", clock_text(0), clock_text(40), -0.0625,
         DecelTimes{kBaseMs, kBaseMs - 63, kBaseMs + 40'000}},
        {"texts with an offset", "2024-03-10T12:00:00+02:00", "2024-03-10T10:00:30Z", 1.5,
         DecelTimes{kBaseMs, kBaseMs + 1'500, kBaseMs + 30'000}},
        {"synthesized start text", "1710064800000ms", clock_text(40), 20.0, std::nullopt},
        {"synthesized end text", clock_text(0), "1710064840000ms", 20.0, std::nullopt},
        {"nadir offset not a number", clock_text(0), clock_text(40), nan, std::nullopt},
        {"nadir offset beyond any instant", clock_text(0), clock_text(40), 1e300, std::nullopt},
        {"nadir past the last instant", kLastRepresentableSecond, kLastRepresentableSecond, 1.0,
         std::nullopt},
    };
    for (const DecelTimesCase& c : cases) {
        const std::optional<DecelTimes> times = decel_times(deceleration(c.start, c.end, c.onset_to_nadir));
        ASSERT_EQ(times.has_value(), c.expected.has_value()) << c.name;
        if (!times) continue;
        EXPECT_EQ(times->start, c.expected->start) << c.name;
        EXPECT_EQ(times->nadir, c.expected->nadir) << c.name;
        EXPECT_EQ(times->end, c.expected->end) << c.name;
    }
}

TEST(DecelTimes, LastRepresentableSecondParses) {
    // Guards the overflow cases above: they must fail for the nadir, not the text.
    const Result<std::int64_t> last = time::parse_monitor_timestamp(kLastRepresentableSecond);
    ASSERT_TRUE(last.ok());
    EXPECT_EQ(*last, std::numeric_limits<std::int64_t>::max() - 807);
    const std::optional<DecelTimes> times =
        decel_times(deceleration(kLastRepresentableSecond, kLastRepresentableSecond, 0.0));
    ASSERT_TRUE(times.has_value());
    EXPECT_EQ(times->nadir, *last);
}

// -------------------------------------------------------------------- timing

struct ContractionTexts {
    std::string start;
    std::string peak;
    std::string end;
};

ContractionTexts at_seconds(std::int64_t start, std::int64_t peak, std::int64_t end) {
    return {clock_text(start), clock_text(peak), clock_text(end)};
}

struct TimingCase {
    const char* name;
    DecelerationEvent deceleration;
    std::vector<ContractionTexts> contractions;
    DecelerationKind expected;
};

TEST(GradualDecelerationTiming, AssociationAndLag) {
    const TimingCase cases[] = {
        {"nadir 5.0 s after the peak is early",
         deceleration(clock_text(0), clock_text(80), 65.0), {at_seconds(40, 60, 90)},
         DecelerationKind::early},
        {"nadir 5.001 s after the peak is late",
         deceleration(clock_text(0), clock_text(80), 65.001), {at_seconds(40, 60, 90)},
         DecelerationKind::late},
        {"nadir 5.0 s before the peak is early",
         deceleration(clock_text(0), clock_text(80), 55.0), {at_seconds(40, 60, 90)},
         DecelerationKind::early},
        {"nadir 6 s before the peak stays gradual",
         deceleration(clock_text(0), clock_text(80), 54.0), {at_seconds(40, 60, 90)}, kGradual},
        {"variable decelerations are not timed",
         deceleration(clock_text(0), clock_text(80), 60.0, kVariable), {at_seconds(40, 60, 90)},
         kVariable},
        {"prolonged decelerations are not timed",
         deceleration(clock_text(0), clock_text(80), 60.0, kProlonged), {at_seconds(40, 60, 90)},
         kProlonged},
        {"no contractions", deceleration(clock_text(0), clock_text(80), 65.0), {}, kGradual},
        // Nadir at 20 s. The contraction starting 31 s later is not associated,
        // so the farther one (peak 60 s before the nadir) decides.
        {"nadir 31 s before a contraction start is not associated",
         deceleration(clock_text(0), clock_text(40), 20.0),
         {at_seconds(-80, -40, -30), at_seconds(51, 52, 80)}, DecelerationKind::late},
        {"nadir 30 s before a contraction start is associated",
         deceleration(clock_text(0), clock_text(40), 20.0),
         {at_seconds(-80, -40, -30), at_seconds(50, 52, 80)}, kGradual},
        {"nadir 60 s after a contraction end is associated",
         deceleration(clock_text(100), clock_text(140), 20.0), {at_seconds(40, 50, 60)},
         DecelerationKind::late},
        {"nadir 61 s after a contraction end is not",
         deceleration(clock_text(100), clock_text(140), 21.0), {at_seconds(40, 50, 60)}, kGradual},
        {"overlap alone associates",
         deceleration(clock_text(0), clock_text(200), 150.0), {at_seconds(10, 20, 30)},
         DecelerationKind::late},
        {"equal distances: the earlier listed wins (late)",
         deceleration(clock_text(0), clock_text(80), 40.0),
         {at_seconds(20, 30, 50), at_seconds(40, 50, 70)}, DecelerationKind::late},
        {"equal distances: the earlier listed wins (stays)",
         deceleration(clock_text(0), clock_text(80), 40.0),
         {at_seconds(40, 50, 70), at_seconds(20, 30, 50)}, kGradual},
        {"the closest peak wins",
         deceleration(clock_text(0), clock_text(80), 40.0),
         {at_seconds(10, 20, 30), at_seconds(30, 38, 60)}, DecelerationKind::early},
        {"synthesized deceleration text takes no part",
         deceleration("1710064800000ms", clock_text(80), 60.0),
         {at_seconds(40, 60, 90),
          ContractionTexts{"1970-01-01 00:00:00", "1970-01-01 00:00:00", "1970-01-01 00:01:00"}},
         kGradual},
        {"contraction with a synthesized text is passed over",
         deceleration(clock_text(0), clock_text(80), 60.0),
         {ContractionTexts{clock_text(40), "1710064860000ms", clock_text(90)},
          at_seconds(20, 30, 50)},
         DecelerationKind::late},
        {"instants far apart do not overflow",
         deceleration(kLastRepresentableSecond, kLastRepresentableSecond, 0.0),
         {ContractionTexts{"0000-01-01 00:00:00", "0000-01-01 00:00:00", kLastRepresentableSecond}},
         DecelerationKind::late},
        {"association bound past the last instant",
         deceleration(kLastRepresentableSecond, kLastRepresentableSecond, 0.0),
         {ContractionTexts{kLastRepresentableSecond, kLastRepresentableSecond,
                           kLastRepresentableSecond}},
         DecelerationKind::early},
    };
    for (const TimingCase& c : cases) {
        std::vector<DecelerationEvent> decelerations{c.deceleration};
        std::vector<ContractionEvent> contractions;
        for (const ContractionTexts& texts : c.contractions) {
            ContractionEvent contraction;
            contraction.start = texts.start;
            contraction.peak = texts.peak;
            contraction.end = texts.end;
            contractions.push_back(contraction);
        }
        time_gradual_decelerations(decelerations, contractions);
        ASSERT_EQ(decelerations.size(), 1u) << c.name;
        EXPECT_EQ(decelerations[0].kind, c.expected) << c.name;
        EXPECT_EQ(decelerations[0].start, c.deceleration.start) << c.name;
        EXPECT_EQ(decelerations[0].onset_to_nadir_seconds, c.deceleration.onset_to_nadir_seconds)
            << c.name;
    }
}

TEST(GradualDecelerationTiming, EachDecelerationTimedOnItsOwn) {
    std::vector<DecelerationEvent> decelerations{
        deceleration(clock_text(0), clock_text(80), 62.0),
        deceleration(clock_text(100), clock_text(140), 20.0, kVariable),
        deceleration(clock_text(200), clock_text(280), 60.0),
        deceleration(clock_text(400), clock_text(480), 40.0),
    };
    const std::vector<ContractionEvent> contractions{
        ContractionEvent{clock_text(40), clock_text(60), clock_text(90), 51.0, 50.0},
        ContractionEvent{clock_text(220), clock_text(240), clock_text(270), 51.0, 50.0},
    };
    time_gradual_decelerations(decelerations, contractions);
    EXPECT_EQ(decelerations[0].kind, DecelerationKind::early);
    EXPECT_EQ(decelerations[1].kind, kVariable);
    EXPECT_EQ(decelerations[2].kind, DecelerationKind::late);
    EXPECT_EQ(decelerations[3].kind, kGradual);
}

}  // namespace
}  // namespace fhr_core::analysis
