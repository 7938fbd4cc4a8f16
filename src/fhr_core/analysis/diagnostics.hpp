// Category III diagnostics and the limitations of a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>
#include <string>

#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

// The first five limitations, decided before the category.
std::vector<std::string> initial_limitations(const WindowAnalysis& window, std::int64_t window_start,
                                             std::int64_t window_end);

CategoryIiiDiagnostics category_iii_diagnostics(const WindowAnalysis& window,
                                                std::int64_t window_start, std::int64_t window_end,
                                                bool recurrent_late_min2,
                                                bool recurrent_variable_min2);

// The last limitation: present when the window has no baseline.
std::optional<std::string_view> baseline_limitation(const WindowAnalysis& window);

}  // namespace fhr_core::analysis
