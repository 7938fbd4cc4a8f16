// The JSON report text, written by hand with a fixed layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

std::string report_as_json(const AnalysisReport& report);

// Takes the report text piece by piece, in order; each piece ends after a
// window, so never within a character.
struct TextPieces {
    std::function<void(std::string_view)> take;
    // The text is handed over once it reaches this size: a report this short
    // is handed over whole, as the rest.
    std::size_t bytes = std::size_t{16} << 20;
};

// The same text written as the windows come, so that a long run need not
// hold every window: the report's header (its windows left aside), then each
// window in turn, then the close. With `pieces`, the text written so far is
// handed over whenever it has grown past a piece's size, and finish()
// returns the rest.
class ReportText {
public:
    // `windows`: how many windows will be added, to reserve the text once.
    ReportText(const AnalysisReport& header, std::uint64_t windows, const TextPieces* pieces = nullptr);
    void add(const WindowAnalysis& window);
    std::string finish() &&;

private:
    std::string out_;
    const TextPieces* pieces_ = nullptr;
    bool first_ = true;
};

namespace detail {

// Doubles backslashes, then escapes double quotes and line feeds.
std::string escape_json(std::string_view text);
// Whether escape_json would change the text.
bool needs_json_escape(std::string_view text);

// A double in fixed notation with three decimals (ties to even on the exact
// binary value; "-0.000" kept; NaN, inf, -inf for non-finite values).
void append_fixed3(std::string& out, double value);

}  // namespace detail

}  // namespace fhr_core::analysis
