#include "fhr_core/analysis/report_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace fhr_core;
using fhr_core::analysis::detail::append_fixed3;
using fhr_core::analysis::detail::escape_json;
using fhr_core::analysis::report_as_json;

std::string fixed3(double v) {
    std::string out;
    append_fixed3(out, v);
    return out;
}

TEST(ReportWriter, NumbersHaveThreeDecimalsRoundedOnTheExactBinaryValue) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {140.0, "140.000"},   {0.5, "0.500"},        {2.0 / 3.0, "0.667"},   {4.9995, "5.000"},
        {1.0005, "1.000"},    {0.0625, "0.062"},     {2.0625, "2.062"},      {0.0635, "0.064"},
        {-0.0001, "-0.000"},  {-0.0, "-0.000"},      {0.0, "0.000"},         {-2.8, "-2.800"},
        {1e21, "1000000000000000000000.000"},        {123456.7895, "123456.789"},
        {NAN, "NaN"},         {INFINITY, "inf"},     {-INFINITY, "-inf"},
    };
    for (const auto& c : cases) EXPECT_EQ(fixed3(c.value), c.text) << c.value;
    EXPECT_EQ(fixed3(1.7976931348623157e308).size(), 309u + 4u);
}

TEST(ReportWriter, EscapesBackslashQuoteAndLineFeedOnly) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"a\"b", "a\\\"b"},
        {"a\\b", "a\\\\b"},
        {"a\nb", "a\\nb"},
        {"a\\nb", "a\\\\nb"},  // a backslash and the letter n are not a line feed
        {"tab\there\rcr", "tab\there\rcr"},
        {"\xC3\xA9\x01", "\xC3\xA9\x01"},
    };
    for (const auto& c : cases) EXPECT_EQ(escape_json(c.in), c.out) << c.in;
}

TEST(ReportWriter, EmptyReportIsExact) {
    AnalysisReport report;
    EXPECT_EQ(report_as_json(report),
              "{\n"
              "  \"channel\": \"HR1\",\n"
              "  \"analysis_mode\": \"chunk\",\n"
              "  \"requested_window_minutes\": null,\n"
              "  \"step_seconds\": 60,\n"
              "  \"input\": {\n"
              "    \"rows\": 0,\n"
              "    \"start_timestamp\": null,\n"
              "    \"end_timestamp\": null,\n"
              "    \"duration_seconds\": 0.000,\n"
              "    \"out_of_order_rows\": 0,\n"
              "    \"duplicate_timestamps\": 0\n"
              "  },\n"
              "  \"windows\": [\n"
              "  ]\n"
              "}\n");
}

// The lines of `text` between the first line containing `from` and the next
// line containing `to`, inclusive.
std::string section(const std::string& text, const std::string& from, const std::string& to) {
    const auto begin = text.rfind('\n', text.find(from)) + 1;
    const auto end = text.find('\n', text.find(to, begin));
    return text.substr(begin, end - begin + 1);
}

TEST(ReportWriter, WindowLayoutEventsAndCommas) {
    AnalysisReport report;
    report.config.window_minutes = 20;
    report.config.step_seconds = 300;
    report.config.fetal_channel = FetalChannel::HR2;
    report.input.rows = 2;
    report.input.start_timestamp = "a\"b";
    report.input.end_timestamp = "c";
    WindowAnalysis w;
    w.window_start = std::string("s");  // (a literal assignment trips a GCC 12 -Wrestrict false positive)
    w.window_end = std::string("e");
    w.baseline_bpm = -5;
    w.baseline_class = BaselineClass::bradycardia;
    w.deceleration_events.push_back({"d1", "d2", 15.0, 90.0, 45.0, 7.5, DecelerationKind::late});
    w.deceleration_events.push_back({"d3", "d4", 16.0, 91.0, 44.0, 8.5, DecelerationKind::gradual_unclassified});
    w.toco_summary.tachysystole = false;
    w.reasons = {Reason::tachycardia, Reason::late_deceleration, Reason::minimal_variability};
    w.limitations = {Limitation::no_baseline, Limitation::under_10_minutes};
    w.alert_suppression_reasons = Suppression::isolated_marked;
    w.category_iii_diagnostics.cat_iii_blockers = {Cat3Blocker::near_absent_variability, Cat3Blocker::under_20_minutes,
                                                   Cat3Blocker::few_contractions, Cat3Blocker::sparse_toco};
    report.windows = {w, w};
    const std::string text = report_as_json(report);
    // Phrases sorted by their bytes, limitations in their fixed order.
    const std::string limitations =
        "      \"limitations\": [\"less than 10 minutes: baseline and variability assessment is incomplete\", "
        "\"baseline indeterminate: fewer than 120 usable fetal-HR seconds in the current 10-minute segment\"]\n";

    EXPECT_NE(text.find("  \"channel\": \"HR2\",\n  \"analysis_mode\": \"rolling\",\n"
                        "  \"requested_window_minutes\": 20,\n  \"step_seconds\": 300,\n"),
              std::string::npos);
    EXPECT_NE(text.find("    \"start_timestamp\": \"a\\\"b\",\n"), std::string::npos);
    EXPECT_NE(text.find("      \"baseline_bpm\": -5,\n      \"baseline_class\": \"bradycardia\",\n"
                        "      \"variability_bpm\": null,\n      \"variability_class\": null,\n"),
              std::string::npos);
    EXPECT_NE(text.find("        \"cat_iii_blockers\": [\"TOCO unavailable or sparse: contraction-linked recurrence is limited\", "
                        "\"fewer than two detected contractions: recurrent deceleration assessment is limited\", "
                        "\"less than 20 minutes: recurrent deceleration assessment is incomplete\", "
                        "\"variability is near-absent, not absent\"],\n"),
              std::string::npos);
    EXPECT_EQ(section(text, "\"acceleration_events\"", "],"),
              "      \"acceleration_events\": [\n      ],\n");
    EXPECT_EQ(section(text, "\"deceleration_events\"", "      ],"),
              "      \"deceleration_events\": [\n"
              "        {\n"
              "          \"start\": \"d1\",\n"
              "          \"end\": \"d2\",\n"
              "          \"duration_seconds\": 15.000,\n"
              "          \"nadir_bpm\": 90.000,\n"
              "          \"depth_bpm\": 45.000,\n"
              "          \"onset_to_nadir_seconds\": 7.500,\n"
              "          \"kind\": \"late\"\n"
              "        },\n"
              "        {\n"
              "          \"start\": \"d3\",\n"
              "          \"end\": \"d4\",\n"
              "          \"duration_seconds\": 16.000,\n"
              "          \"nadir_bpm\": 91.000,\n"
              "          \"depth_bpm\": 44.000,\n"
              "          \"onset_to_nadir_seconds\": 8.500,\n"
              "          \"kind\": \"gradual_unclassified\"\n"
              "        }\n"
              "      ],\n");
    EXPECT_EQ(section(text, "\"contractions\":", "\"limitations\""),
              "      \"contractions\": 0,\n"
              "      \"contractions_per_10_min\": 0.000,\n"
              "      \"tachysystole\": false,\n"
              "      \"reasons\": [\"late deceleration\", \"minimal variability\", \"tachycardia\"],\n"
              "      \"high_risk_features\": [],\n"
              "      \"protective_features\": [],\n"
              "      \"alert_suppression_reasons\": [\"isolated marked variability retained without interruptive alert\"],\n"
              + limitations);
    // The first window's brace has a comma, the last one's not.
    EXPECT_NE(text.find(limitations + "    },\n    {\n"), std::string::npos);
    const std::string tail = limitations + "    }\n  ]\n}\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
