#include "fhr_core/analysis/contractions.hpp"

#include <gtest/gtest.h>

#include "series_support.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace fhr_core::analysis {
namespace {

using testing_support::clock_text;
using testing_support::kBaseMs;

// A stretch of equal seconds: TOCO value (absent when nullopt) and length.
struct Stretch {
    std::optional<double> toco;
    int seconds = 0;
};

constexpr std::optional<double> kAbsent = std::nullopt;

// A series of named seconds from 10:00:00 on. The window runs from its first
// to its last second.
struct TocoFixture : testing_support::NamedSeries {
    explicit TocoFixture(const std::vector<Stretch>& stretches) {
        for (const Stretch& stretch : stretches) {
            for (int i = 0; i < stretch.seconds; ++i) add(140.0, stretch.toco);
        }
    }

    WindowSpans spans() const { return window_spans(series.front().timestamp_ms, series.back().timestamp_ms); }
};

// ----------------------------------------------------------------- detection

struct ExpectedContraction {
    std::int64_t start;
    std::int64_t peak;
    std::int64_t end;  // second whose text names the end
    double duration;
    double peak_toco;
};

struct DetectionCase {
    const char* name;
    std::vector<Stretch> profile;
    std::vector<ExpectedContraction> expected;
};

TEST(ContractionDetection, LevelsPeaksAndExtents) {
    SortedSeconds fresh;
    SmoothedSeconds smoothing;
    const DetectionCase cases[] = {
        // Rise and fall cross the edge level 13 four seconds outside the
        // plateau; the first of the equal plateau points is the peak.
        {"plateau: first equal candidate is the peak",
         {{10, 100}, {60, 40}, {10, 460}},
         {{96, 103, 144, 48.0, 60.0}}},
        {"30 high seconds leave p95 at the floor",
         {{10, 100}, {60, 30}, {10, 470}},
         {}},
        {"31 high seconds lift p95",
         {{10, 100}, {60, 31}, {10, 469}},
         {{96, 103, 135, 39.0, 60.0}}},
        {"flat trace", {{10, 600}}, {}},
        // p20, p90 10: edge 13. The foot at 13.01 is passed, the one at 13 ends
        // the offset walk.
        {"edge level 13 on both sides",
         {{10, 90}, {13.01, 10}, {60, 40}, {13, 10}, {10, 450}},
         {{92, 103, 144, 52.0, 60.0}}},
        // 121 seconds at 5 make p20 5 (p25 would be 10): edge 8, so the onset
        // walk runs through the 10s until it meets the 5s.
        {"p20 sets the levels",
         {{5, 121}, {10, 79}, {60, 40}, {10, 360}},
         {{121, 203, 294, 173.0, 60.0}}},
        {"59 TOCO seconds", {{10, 19}, {60, 20}, {10, 20}, {kAbsent, 541}}, {}},
        {"60 TOCO seconds", {{10, 20}, {60, 20}, {10, 20}, {kAbsent, 540}},
         {{17, 23, 43, 26.0, 60.0}}},
        {"59 TOCO seconds in the last 20 minutes",
         {{10, 299}, {kAbsent, 1142}, {10, 19}, {60, 20}, {10, 20}},
         {}},
        {"60 TOCO seconds in the last 20 minutes",
         {{10, 299}, {kAbsent, 1141}, {10, 20}, {60, 20}, {10, 20}},
         {{1457, 1463, 1483, 26.0, 60.0}}},
        // p20 10, p90 40, p95 60: edge 16, prominence 10, peak level 32.5.
        {"onset stops at a point exactly on the edge level",
         {{10, 200}, {16, 10}, {40, 40}, {60, 40}, {10, 310}},
         {{206, 253, 294, 88.0, 60.0}}},
        {"onset passes a point just above the edge level",
         {{10, 200}, {16.01, 10}, {40, 40}, {60, 40}, {10, 310}},
         {{202, 253, 294, 92.0, 60.0}}},
        {"second peak exactly at the peak level",
         {{10, 200}, {16, 10}, {40, 40}, {60, 40}, {10, 200}, {32.5, 10}, {10, 100}},
         {{206, 253, 294, 88.0, 60.0}, {487, 493, 503, 16.0, 32.5}}},
        {"second peak just below the peak level",
         {{10, 200}, {16, 10}, {40, 40}, {60, 40}, {10, 200}, {32.4, 10}, {10, 100}},
         {{206, 253, 294, 88.0, 60.0}}},
        // A long high plateau at the start lifts p90 and p95 to 60 without
        // making a candidate: edge 20, prominence 10, peak level 32.5.
        {"two-second spike: 10 s from onset to end",
         {{60, 200}, {10, 200}, {100, 2}, {10, 198}},
         {{396, 398, 406, 10.0, 250.0 / 7.0}}},
        {"one-second spike: 9 s",
         {{60, 200}, {10, 200}, {200, 1}, {10, 199}},
         {}},
        {"spike smoothed to exactly the peak level",
         {{60, 200}, {10, 200}, {88.75, 2}, {10, 198}},
         {{396, 398, 406, 10.0, 32.5}}},
        {"spike smoothed to just below the peak level",
         {{60, 200}, {10, 200}, {88.7, 2}, {10, 198}},
         {}},
        {"spike on a shoulder with prominence exactly 10",
         {{60, 200}, {10, 130}, {25, 70}, {60, 2}, {25, 70}, {10, 128}},
         {{330, 398, 472, 142.0, 35.0}}},
        {"spike on a shoulder with prominence just below 10",
         {{60, 200}, {10, 130}, {25, 70}, {59.9, 2}, {25, 70}, {10, 128}},
         {}},
        // The plateau's falling flank stays above the spike's level up to 10
        // points before the first equal spike point, which is therefore not a
        // local maximum; the next one is.
        {"a higher point exactly 10 points away excludes a candidate",
         {{60, 200}, {10, 11}, {100, 2}, {10, 387}},
         {{207, 210, 217, 10.0, 250.0 / 7.0}}},
        // p20 10, p90 and p95 17: edge 13, prominence 5, peak level 20.
        {"spike smoothed to exactly p20 + 10",
         {{10, 100}, {17, 150}, {10, 150}, {45, 2}, {10, 198}},
         {{396, 398, 406, 10.0, 20.0}}},
        {"spike smoothed to just below p20 + 10",
         {{10, 100}, {17, 150}, {10, 150}, {44.9, 2}, {10, 198}},
         {}},
        {"spike on a shoulder with prominence exactly 5",
         {{10, 230}, {17, 70}, {34.5, 2}, {17, 70}, {10, 228}},
         {{229, 298, 373, 144.0, 22.0}}},
        {"spike on a shoulder with prominence just below 5",
         {{10, 230}, {17, 70}, {34.4, 2}, {17, 70}, {10, 228}},
         {}},
        // Single-second dips in the shoulder lower the minima seen from the
        // first spike point when they lie within 60 points of it.
        {"shoulder dips exactly 60 points away count",
         {{10, 230}, {17, 5}, {0, 1}, {17, 64}, {34.4, 2}, {17, 59}, {0, 1}, {17, 10}, {10, 228}},
         {{229, 298, 373, 144.0, (85.0 + 34.4 + 34.4) / 7.0}}},
        {"shoulder dips 61 points away do not",
         {{10, 230}, {17, 4}, {0, 1}, {17, 65}, {34.4, 2}, {17, 60}, {0, 1}, {17, 9}, {10, 228}},
         {}},
        // p20 10, p90 50, p95 60: edge 18.
        {"peaks 55 s apart split at their midpoint",
         {{10, 27}, {60, 7}, {30, 48}, {50, 7}, {10, 31}},
         {{24, 30, 58, 34.0, 60.0}, {58, 85, 92, 34.0, 50.0}}},
        {"peaks 50 s apart: only the higher",
         {{10, 27}, {60, 7}, {30, 43}, {50, 7}, {10, 36}},
         {{24, 30, 87, 63.0, 60.0}}},
        // p20 10, p90 and p95 40: edge 16, prominence 6, peak level 23.5.
        {"one side bounded 90 s from the peak",
         {{10, 100}, {60, 7}, {40, 193}},
         {{96, 103, 194, 98.0, 60.0}}},
        {"one side bounded by the end of the window",
         {{10, 100}, {60, 7}, {40, 50}},
         {{96, 103, 156, 61.0, 60.0}}},
        // p20 10, p90 and p95 17: edge 13, prominence 5, peak level 20.
        {"both sides bounded: 181 s",
         {{10, 200}, {17, 97}, {60, 7}, {17, 96}, {10, 200}},
         {}},
        {"one side falls back: 180 s",
         {{10, 212}, {17, 85}, {60, 7}, {17, 96}, {10, 200}},
         {{211, 300, 391, 180.0, 60.0}}},
    };
    for (const DetectionCase& c : cases) {
        const TocoFixture fixture(c.profile);
        const std::vector<Contraction> contractions =
            detect_contractions(fixture.series, fixture.spans(), fresh, smoothing);
        ASSERT_EQ(contractions.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < contractions.size(); ++i) {
            const ExpectedContraction& e = c.expected[i];
            const ContractionEvent& event = contractions[i].event;
            EXPECT_EQ(event.start, clock_text(e.start)) << c.name;
            EXPECT_EQ(event.peak, clock_text(e.peak)) << c.name;
            EXPECT_EQ(event.end, clock_text(e.end)) << c.name;
            EXPECT_EQ(event.duration_seconds, e.duration) << c.name;
            EXPECT_EQ(event.peak_toco, e.peak_toco) << c.name;
            EXPECT_EQ(contractions[i].at.peak, kBaseMs + e.peak * 1000) << c.name;
        }
    }
}

TEST(ContractionDetection, EmptyAndReversedWindows) {
    SortedSeconds fresh;
    SmoothedSeconds smoothing;
    const Series empty;
    EXPECT_TRUE(detect_contractions(empty, window_spans(kBaseMs, kBaseMs + 600'000), fresh, smoothing).empty());
    const TocoFixture fixture({{10, 100}, {60, 40}, {10, 460}});
    const WindowSpans forward = fixture.spans();
    EXPECT_TRUE(
        detect_contractions(fixture.series, window_spans(forward.end_ms, forward.start_ms), fresh, smoothing).empty());
}

// ---------------------------------------------------------- rate and tachysystole

struct RateCase {
    const char* name;
    std::size_t contractions;
    std::int64_t window_start;
    std::int64_t window_end;
    double expected;
};

TEST(ContractionRate, PerTenMinutesOfTheWholeWindow) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const RateCase cases[] = {
        {"3 in 15 minutes", 3, kBaseMs, kBaseMs + 900'000, 2.0},
        {"5 in 20 minutes", 5, kBaseMs, kBaseMs + 1'200'000, 2.5},
        {"4 in 30 minutes", 4, kBaseMs, kBaseMs + 1'800'000, 4.0 / 30.0 * 10.0},
        {"1 in half a minute", 1, kBaseMs, kBaseMs + 30'000, 20.0},
        {"empty window", 2, kBaseMs, kBaseMs, 0.0},
        {"end before start", 2, kBaseMs, kBaseMs - 60'000, 0.0},
        {"whole instant range", 3, kMin, kMax, 3.0 / (18446744073709551615.0 / 1000.0 / 60.0) * 10.0},
    };
    for (const RateCase& c : cases) {
        EXPECT_EQ(contraction_rate(c.contractions, window_spans(c.window_start, c.window_end)), c.expected)
            << c.name;
    }
}

struct TachysystoleCase {
    const char* name;
    int series_seconds;
    int toco_seconds;  // the first seconds of the series carry TOCO
    std::int64_t window_ms;
    std::size_t contractions;
    std::optional<bool> expected;
};

TEST(Tachysystole, NeedsThirtyMinutesAndTwentyMinutesOfToco) {
    const TachysystoleCase cases[] = {
        {"16 contractions in 30 minutes", 1801, 1200, 1'800'000, 16, true},
        {"15 contractions in 30 minutes", 1801, 1200, 1'800'000, 15, false},
        {"no contractions", 1801, 1801, 1'800'000, 0, false},
        {"1199 TOCO seconds", 1801, 1199, 1'800'000, 16, std::nullopt},
        {"29-minute window", 1741, 1741, 1'740'000, 16, std::nullopt},
        {"one millisecond short", 1800, 1800, 1'799'999, 16, std::nullopt},
        {"empty series", 0, 0, 1'800'000, 16, std::nullopt},
    };
    for (const TachysystoleCase& c : cases) {
        const TocoFixture fixture({{25, c.toco_seconds}, {kAbsent, c.series_seconds - c.toco_seconds}});
        EXPECT_EQ(tachysystole(c.contractions, fixture.series, window_spans(kBaseMs, kBaseMs + c.window_ms)),
                  c.expected)
            << c.name;
    }
}

}  // namespace
}  // namespace fhr_core::analysis
