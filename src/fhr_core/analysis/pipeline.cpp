#include "fhr_core/analysis/pipeline.hpp"

#include <utility>

#include "fhr_core/analysis/driver.hpp"
#include "fhr_core/analysis/report_writer.hpp"
#include "fhr_core/csv_input/csv_reader.hpp"

namespace fhr_core::analysis {

Result<std::string> analyze_csv_text(std::string_view csv_text, const CsvOptions& options,
                                     const TextPieces* pieces) {
    auto input = csv_input::read_monitor_csv_str(csv_text);
    if (!input) return Failure{std::move(input).error()};
    return analyze_csv_input(*input, options, pieces);
}

Result<std::string> analyze_csv_input(const InputData& input, const CsvOptions& options, const TextPieces* pieces) {
    if (options.window_min && !window_minutes_allowed(*options.window_min)) {
        return Failure{"window_min must be " + window_minutes_bounds_text()};
    }
    auto channel = FetalChannel::parse(options.channel);
    if (!channel) return Failure{std::move(channel).error()};

    AnalysisConfig config;
    config.window_minutes = options.window_min;
    config.step_seconds = effective_step_seconds(options.step_sec);
    config.gestational_age_weeks = options.ga_weeks;
    config.fetal_channel = *channel;

    // A single mistyped year can stretch a recording over millennia; refuse
    // before analysing rather than run for days and exhaust memory.
    const std::uint64_t windows = WindowPlan(input, config).count();
    if (config.window_minutes && windows > kMaxRollingWindows) {
        return Failure{"recording spans " + std::to_string(windows) +
                       " analysis windows; at most " + std::to_string(kMaxRollingWindows) + " are supported"};
    }

    // With last_only the report keeps only the run's last window, so only
    // that window is analyzed.
    if (options.last_only) return report_as_json(analyze_last_window(input, config));
    return rolling_windows_report_text(input, config, pieces);
}

Result<std::string> analyze_json_text(std::string_view request_json, const TextPieces* pieces) {
    auto request = json_input::read_analysis_request_json(request_json);
    if (!request) return Failure{std::move(request).error()};
    return analyze_request(*request, pieces);
}

std::string analyze_request(const json_input::AnalysisRequest& request, const TextPieces* pieces) {
    return rolling_windows_report_text(request.input, request.config, pieces);
}

}  // namespace fhr_core::analysis
