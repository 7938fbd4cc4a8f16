#include "fhr_core/model/input.hpp"

#include <algorithm>
#include <string>

#include "fhr_core/model/text.hpp"

namespace fhr_core {

Result<FetalChannel> FetalChannel::parse(std::string_view text) {
    std::string upper(trim_white_space(text));
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (upper == "HR1") return FetalChannel(HR1);
    if (upper == "HR2") return FetalChannel(HR2);
    if (upper == "HR3") return FetalChannel(HR3);
    return Failure{"unsupported fetal channel: " + upper};
}

std::string_view FetalChannel::name() const {
    switch (value_) {
        case HR2: return "HR2";
        case HR3: return "HR3";
        case HR1: break;
    }
    return "HR1";
}

std::string window_minutes_bounds_text() {
    return "between " + std::to_string(AnalysisConfig::kMinWindowMinutes) + " and " +
           std::to_string(AnalysisConfig::kMaxWindowMinutes);
}

void finish_input(InputData& input) {
    const std::vector<MonitorSample>& samples = input.samples;
    std::size_t out_of_order = 0;
    std::size_t duplicates = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const std::int64_t previous = samples[i - 1].timestamp_ms;
        out_of_order += samples[i].timestamp_ms < previous ? 1 : 0;
        duplicates += samples[i].timestamp_ms == previous ? 1 : 0;
    }
    finish_input(input, out_of_order, duplicates);
}

void finish_input(InputData& input, std::size_t out_of_order_rows, std::size_t duplicate_timestamps) {
    std::vector<MonitorSample>& samples = input.samples;
    // The duplicate count is final unless a sort is needed.
    input.out_of_order_rows = out_of_order_rows;
    if (out_of_order_rows != 0) {
        std::stable_sort(samples.begin(), samples.end(),
                         [](const MonitorSample& a, const MonitorSample& b) {
                             return a.timestamp_ms < b.timestamp_ms;
                         });
        duplicate_timestamps = 0;
        for (std::size_t i = 1; i < samples.size(); ++i) {
            duplicate_timestamps += samples[i].timestamp_ms == samples[i - 1].timestamp_ms ? 1 : 0;
        }
    }
    input.duplicate_timestamps = duplicate_timestamps;
}

}  // namespace fhr_core
