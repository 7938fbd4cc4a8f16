// Test support: a per-second series whose seconds are named by monitor rows,
// one a second from 2024-03-10 10:00:00 UTC on.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "fhr_core/analysis/series.hpp"

namespace fhr_core::analysis::testing_support {

// 2024-03-10 10:00:00 UTC in milliseconds since the epoch.
inline constexpr std::int64_t kBaseMs = 1'710'064'800'000;

inline void append_two_digits(std::string& out, std::int64_t value) {
    out.push_back(static_cast<char>('0' + value / 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

// Monitor text of the second `offset` seconds after 2024-03-10 10:00:00.
inline std::string clock_text(std::int64_t offset) {
    const std::int64_t of_day = 10 * 3600 + offset;
    std::string text = "2024-03-10 ";
    append_two_digits(text, of_day / 3600);
    text.push_back(':');
    append_two_digits(text, of_day / 60 % 60);
    text.push_back(':');
    append_two_digits(text, of_day % 60);
    return text;
}

// The series and the rows that name its seconds (a deque keeps their places).
struct NamedSeries {
    std::deque<MonitorSample> rows;
    Series series;

    // Appends the next second with the given values.
    void add(std::optional<double> fetal, std::optional<double> toco = std::nullopt) {
        const auto offset = static_cast<std::int64_t>(series.size());
        SecondSample second;
        second.fetal_bpm = fetal;
        second.toco = toco;
        MonitorSample& row = rows.emplace_back();
        row.timestamp = clock_text(offset);
        row.timestamp_ms = kBaseMs + offset * 1000;
        second.named_by = &row;
        second.timestamp_ms = row.timestamp_ms;
        series.push_back(second);
    }
};

}  // namespace fhr_core::analysis::testing_support
