// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/diagnostics.hpp"
namespace fhr_core::analysis {
std::vector<std::string> initial_limitations(const WindowAnalysis&, std::int64_t, std::int64_t) { return {}; }
CategoryIiiDiagnostics category_iii_diagnostics(const WindowAnalysis&, std::int64_t, std::int64_t, bool, bool) { return {}; }
std::optional<std::string_view> baseline_limitation(const WindowAnalysis&) { return std::nullopt; }
}
