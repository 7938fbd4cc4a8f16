// Acceleration and deceleration detection (tables in tests/data/cpp), the instants decelerations are placed at, and
// the timing of gradual ones (table in tests/data/cpp too).
#include "fhr_core/analysis/events.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "support.hpp"

namespace fhr_core::analysis {
namespace {

using namespace testing_support;
constexpr std::int32_t kBaseline = 140;
constexpr auto kGradual = DecelerationKind::gradual_unclassified;

// The detection span of a row: whole series, or "from to" in seconds.
Span span_of(const NamedSeries& s, const std::string& field) {
    if (field == "-") return s.whole();
    const auto w = words(field);
    return Span{kBaseMs + static_cast<std::int64_t>(num(w[0])) * 1000, kBaseMs + static_cast<std::int64_t>(num(w[1])) * 1000};
}

std::vector<std::vector<std::string>> events_of(const std::string& field) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& e : words(field, ';')) out.push_back(words(e));
    return out;
}

TEST(AccelerationDetection, Table) {
    for (const auto& row : table("accelerations.txt")) {
        SCOPED_TRACE(row[0]);
        const NamedSeries s(row[2]);
        const auto weeks = opt(row[1]);
        const auto criterion = acceleration_criterion(weeks ? std::optional(static_cast<std::uint8_t>(*weeks)) : std::nullopt);
        const auto events = detect_accelerations(s.series, span_of(s, row[3]), kBaseline, criterion);
        const auto expected = events_of(row[4]);
        ASSERT_EQ(events.size(), expected.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            const auto& e = expected[i];
            EXPECT_EQ(events[i].start, clock_text(static_cast<std::int64_t>(num(e[0]))));
            EXPECT_EQ(events[i].end, clock_text(static_cast<std::int64_t>(num(e[1]))));
            EXPECT_EQ(events[i].duration_seconds, num(e[2]));
            EXPECT_EQ(events[i].peak_bpm, num(e[3]));
        }
    }
}

TEST(DecelerationDetection, Table) {
    for (const auto& row : table("decelerations.txt")) {
        SCOPED_TRACE(row[0]);
        const NamedSeries s(row[1]);
        const auto found = detect_decelerations(s.series, span_of(s, row[2]), kBaseline);
        const auto expected = events_of(row[3]);
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            const auto& e = expected[i];
            const DecelerationEvent& event = found[i].event;
            EXPECT_EQ(event.start, clock_text(static_cast<std::int64_t>(num(e[0]))));
            EXPECT_EQ(event.end, clock_text(static_cast<std::int64_t>(num(e[1]))));
            EXPECT_EQ(event.duration_seconds, num(e[2]));
            EXPECT_EQ(event.nadir_bpm, num(e[3]));
            EXPECT_EQ(event.depth_bpm, num(e[4]));
            EXPECT_EQ(event.onset_to_nadir_seconds, num(e[5]));
            EXPECT_EQ(to_text(event.kind), e[6]);
        }
    }
}

// A deceleration is placed by the rows that name its start and end seconds, its nadir onset_to_nadir after the start
// row: none without those rows, and none when the nadir would lie past the last instant.
TEST(DecelerationInstants, PlacedWhereTheEventIsMade) {
    constexpr std::int64_t kLastSecond = std::numeric_limits<std::int64_t>::max() - 807;
    const struct {
        std::int64_t first_second;      // the deceleration runs 20 s from here, nadir last
        std::int64_t start_row_offset;  // where in its second the start row lies
        bool named;                     // rows name the seconds
        bool placed;
    } cases[] = {{kBaseMs, 250, true, true}, {kBaseMs, 0, false, false},
                 {kLastSecond - 20'000, 807, true, true}, {kLastSecond - 20'000, 808, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start_row_offset);
        std::vector<MonitorSample> rows(c.named ? 21 : 0);
        for (std::int64_t s = 0; s < static_cast<std::int64_t>(rows.size()); ++s) {
            rows[s].timestamp = "row";
            rows[s].timestamp_ms = c.first_second + s * 1000 + (s == 0 ? c.start_row_offset : 0);
        }
        const std::int64_t end = c.first_second + 20'000;
        PreparedWindow window = build_second_samples(rows, FetalChannel::HR1, window_spans(c.first_second, end));
        for (std::size_t i = 0; i < window.series.size(); ++i) window.series[i].fetal_bpm = i == 20 ? 100.0 : 120.0;
        const auto d = detect_decelerations(window.series, Span{c.first_second, end}, kBaseline);
        ASSERT_EQ(d.size(), 1u);
        ASSERT_EQ(d[0].at.has_value(), c.placed);
        if (!c.placed) continue;
        const std::int64_t start = c.first_second + c.start_row_offset;
        EXPECT_EQ(d[0].at->start, start);
        EXPECT_EQ(d[0].at->nadir, start + 20'000);
        EXPECT_EQ(d[0].at->end, end);  // the closest second to the run's end is its last
    }
}

TEST(GradualDecelerationTiming, AssociationAndLag) {
    const auto instant = [](const std::string& w) -> std::optional<std::int64_t> {
        if (w == "?") return std::nullopt;
        if (w == "min" || w == "max") return w == "min" ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
        return kBaseMs + std::llround(num(w) * 1000);
    };
    for (const auto& row : table("gradual-timing.txt")) {
        const auto d = words(row[1]);
        Deceleration deceleration;
        deceleration.event.kind = d.size() > 3 ? from_name<DecelerationKind>(d[3]) : kGradual;
        if (d[0] == "last") deceleration.at = DecelerationInstants{*instant("max"), *instant("max"), *instant("max")};
        if (d.size() > 1) deceleration.at = DecelerationInstants{*instant(d[0]), *instant(d[0]) + std::llround(num(d[2]) * 1000), *instant(d[1])};
        std::vector<Contraction> contractions;
        for (const std::string& c : words(row[2], ';')) {
            const auto w = words(c);
            contractions.push_back(Contraction{{}, ContractionInstants{instant(w[0]), instant(w[1]), instant(w[2])}});
        }
        std::vector<Deceleration> decelerations{deceleration};
        time_gradual_decelerations(decelerations, contractions);
        EXPECT_EQ(to_text(decelerations[0].event.kind), row[3]) << row[0];
    }
}

}  // namespace
}  // namespace fhr_core::analysis
