// Contraction detection (table in tests/data/cpp), rate and tachysystole.
#include "fhr_core/analysis/contractions.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "support.hpp"

namespace fhr_core::analysis {
namespace {

using namespace testing_support;

TEST(ContractionDetection, Table) {
    SortedSeconds fresh;
    SmoothedSeconds smoothing;
    for (const auto& row : table("contractions.txt")) {
        SCOPED_TRACE(row[0]);
        const NamedSeries s(row[1], true);
        const auto found =
            detect_contractions(s.series, window_spans(s.whole().from_ms, s.whole().to_ms), fresh, smoothing);
        std::vector<std::vector<std::string>> expected;
        for (const std::string& e : words(row[2], ';')) expected.push_back(words(e));
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            const auto& e = expected[i];
            const ContractionEvent& event = found[i].event;
            EXPECT_EQ(event.start, clock_text(static_cast<std::int64_t>(num(e[0]))));
            EXPECT_EQ(event.peak, clock_text(static_cast<std::int64_t>(num(e[1]))));
            EXPECT_EQ(event.end, clock_text(static_cast<std::int64_t>(num(e[2]))));
            EXPECT_EQ(event.duration_seconds, num(e[3]));
            EXPECT_EQ(event.peak_toco, num(e[4]));
            EXPECT_EQ(found[i].at.peak, kBaseMs + static_cast<std::int64_t>(num(e[1])) * 1000);
        }
    }
    // Empty and reversed windows hold none.
    EXPECT_TRUE(detect_contractions(Series{}, window_spans(kBaseMs, kBaseMs + 600'000), fresh, smoothing).empty());
    const NamedSeries s("10*100 60*40 10*460", true);
    EXPECT_TRUE(detect_contractions(s.series, window_spans(s.whole().to_ms, s.whole().from_ms), fresh, smoothing).empty());
}

// Rates of whole windows are in every regression report; here the ends.
TEST(ContractionRate, PerTenMinutesOfTheWholeWindow) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const struct {
        std::size_t contractions;
        std::int64_t start, end;
        double expected;
    } cases[] = {{1, kBaseMs, kBaseMs + 30'000, 20.0}, {2, kBaseMs, kBaseMs, 0.0}, {2, kBaseMs, kBaseMs - 60'000, 0.0},
                 {3, kMin, kMax, 9.75781955236954e-14}};  // the whole instant range, without wrapping
    for (const auto& c : cases) {
        EXPECT_EQ(contraction_rate(c.contractions, window_spans(c.start, c.end)), c.expected) << c.contractions;
    }
}

TEST(Tachysystole, NeedsThirtyMinutesAndTwentyMinutesOfToco) {
    const struct {
        std::uint64_t toco_seconds;  // the window's seconds with TOCO
        std::int64_t window_ms;
        std::size_t contractions;
        std::optional<bool> expected;
    } cases[] = {{1200, 1'800'000, 16, true},         {1200, 1'800'000, 15, false},
                 {1801, 1'800'000, 0, false},         {1199, 1'800'000, 16, std::nullopt},
                 {1741, 1'740'000, 16, std::nullopt}, {1800, 1'799'999, 16, std::nullopt},
                 {0, 1'800'000, 16, std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(tachysystole(c.contractions, c.toco_seconds, window_spans(kBaseMs, kBaseMs + c.window_ms)), c.expected)
            << c.toco_seconds << " " << c.window_ms << " " << c.contractions;
    }
}

}  // namespace
}  // namespace fhr_core::analysis
