// The JSON report text, written by hand with a fixed layout.
#pragma once

#include <string>
#include <string_view>

#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

std::string report_as_json(const AnalysisReport& report);

namespace detail {

// Doubles backslashes, then escapes double quotes and line feeds.
std::string escape_json(std::string_view text);

// A double in fixed notation with three decimals (ties to even on the exact
// binary value; "-0.000" kept; NaN, inf, -inf for non-finite values).
void append_fixed3(std::string& out, double value);

}  // namespace detail

}  // namespace fhr_core::analysis
