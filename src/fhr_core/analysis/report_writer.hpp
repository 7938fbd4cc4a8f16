// The JSON report text, written by hand with a fixed layout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

std::string report_as_json(const AnalysisReport& report);

// The same text written as the windows come, so that a long run need not
// hold every window: the report's header (its windows left aside), then each
// window in turn, then the close.
class ReportText {
public:
    // `windows`: how many windows will be added, to reserve the text once.
    ReportText(const AnalysisReport& header, std::uint64_t windows);
    void add(const WindowAnalysis& window);
    std::string finish() &&;

private:
    std::string out_;
    bool first_ = true;
};

namespace detail {

// Doubles backslashes, then escapes double quotes and line feeds.
std::string escape_json(std::string_view text);

// A double in fixed notation with three decimals (ties to even on the exact
// binary value; "-0.000" kept; NaN, inf, -inf for non-finite values).
void append_fixed3(std::string& out, double value);

}  // namespace detail

}  // namespace fhr_core::analysis
