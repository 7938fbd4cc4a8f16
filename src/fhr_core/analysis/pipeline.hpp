// The two entry pipelines, from input text to report text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fhr_core/analysis/report_writer.hpp"
#include "fhr_core/json_input/request_reader.hpp"
#include "fhr_core/model/input.hpp"
#include "fhr_core/model/result.hpp"

namespace fhr_core::analysis {

struct CsvOptions {
    std::string_view channel = "HR1";
    std::optional<std::uint8_t> ga_weeks;
    std::optional<std::uint32_t> window_min;
    std::uint32_t step_sec = AnalysisConfig::kDefaultStepSeconds;
    bool last_only = false;
};

// The most windows one call may produce; a recording that would need more
// (one row with a mistyped year, say) is rejected before any analysis.
inline constexpr std::uint64_t kMaxRollingWindows = 1'000'000;

// Reads the CSV, checks window_min and the channel (in that order), analyzes
// and writes the report. Failures are the ValueError messages. With
// `pieces`, a long report goes there in pieces as it is written and only its
// rest is returned.
Result<std::string> analyze_csv_text(std::string_view csv_text, const CsvOptions& options,
                                     const TextPieces* pieces = nullptr);

// The same for a recording already read from the CSV (read_monitor_csv_str),
// so that a caller can let the text go before the analysis.
Result<std::string> analyze_csv_input(const InputData& input, const CsvOptions& options,
                                      const TextPieces* pieces = nullptr);

// Reads the request, analyzes it in chunk mode and writes the report (in
// pieces as above).
Result<std::string> analyze_json_text(std::string_view request_json, const TextPieces* pieces = nullptr);

// The same for a request already read (read_analysis_request_json).
std::string analyze_request(const json_input::AnalysisRequest& request, const TextPieces* pieces = nullptr);

}  // namespace fhr_core::analysis
