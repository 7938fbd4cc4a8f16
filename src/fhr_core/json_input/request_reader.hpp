// The JSON analysis request reader.
#pragma once

#include <string_view>
#include <utility>

#include "fhr_core/model/input.hpp"
#include "fhr_core/model/result.hpp"

namespace fhr_core::json_input {

struct AnalysisRequest {
    InputData input;
    AnalysisConfig config;  // chunk mode, 60-second step
};

// Parses and validates a request; every failure is one message text.
Result<AnalysisRequest> read_analysis_request_json(std::string_view text);

}  // namespace fhr_core::json_input
