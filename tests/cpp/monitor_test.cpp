// The recording that is still arriving: its CSV pieces and its input summary.
#include "fhr_core/analysis/monitor.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/csv_input/csv_reader.hpp"

namespace fhr_core::analysis {
namespace {

// Split anywhere, the stream yields the rows of the whole-text reader; only a final '\r' leaves a line.
TEST(CsvStream, SplitAnywhereReadsTheWholeTextRows) {
    const std::string text = "Date,HR1,TOCO\r\n2024-03-10 14:05:09,140,12\x01\n\r\n2024-03-10 14:05:10,141,13\r\n";
    const auto whole = csv_input::read_monitor_csv_str(text);
    ASSERT_TRUE(whole.ok());
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        csv_input::CsvStream stream;
        std::vector<MonitorSample> rows;
        const std::string_view all(text);
        for (const std::string_view piece : {all.substr(0, cut), all.substr(cut)}) {
            stream.append(piece);
            while (auto row = stream.next()) rows.push_back(std::move(row->value()));
        }
        ASSERT_EQ(rows.size(), whole.value().samples.size()) << cut;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const MonitorSample& a = rows[i];
            const MonitorSample& b = whole.value().samples[i];
            EXPECT_TRUE(a.timestamp == b.timestamp && a.hr1 == b.hr1 && a.toco == b.toco) << cut << " row " << i;
        }
    }
}

// Samples with a timestamp and no values.
std::vector<SampleRow> rows_at(std::initializer_list<std::string_view> times) {
    std::vector<SampleRow> rows;
    for (const std::string_view time : times) rows.emplace_back().timestamp = time;
    return rows;
}

TEST(Monitor, SummarisesTheRowsAndNumbersABadOne) {
    AnalysisConfig config;
    config.window_minutes = 10;
    Monitor monitor(config);
    ASSERT_TRUE(monitor.add_samples(rows_at({"2024-03-10 14:05:10", "2024-03-10 14:05:10", "2024-03-10 14:05:09",
                                             "2024-03-10 14:05:11"})).ok());
    const InputSummary input = monitor.input();
    EXPECT_EQ(input.rows, 4u);
    EXPECT_EQ(input.out_of_order_rows, 1u);
    EXPECT_EQ(input.duplicate_timestamps, 1u);
    EXPECT_EQ(input.start_timestamp, "2024-03-10 14:05:09");
    EXPECT_EQ(input.end_timestamp, "2024-03-10 14:05:11");
    const auto failed = monitor.add_samples(rows_at({"2024-03-10 14:05:12", "10:05"}));
    EXPECT_EQ(failed.ok() ? "" : failed.error(), "row 7 has invalid Date: timestamp is missing date/time separator: 10:05");
}

}  // namespace
}  // namespace fhr_core::analysis
