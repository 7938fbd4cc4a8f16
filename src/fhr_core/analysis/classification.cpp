// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/classification.hpp"
namespace fhr_core::analysis {
bool recurrent_deceleration_kind(const std::vector<DecelerationEvent>&, const std::vector<ContractionEvent>&, DecelerationKind, std::int64_t, std::int64_t, std::size_t) { return false; }
CategoryDecision decide_category(const WindowAnalysis&, std::int64_t, std::int64_t) { return {}; }
std::vector<std::string> high_risk_features(const WindowAnalysis&, const Series&, std::int64_t, std::int64_t) { return {}; }
std::vector<std::string> protective_features(const WindowAnalysis&) { return {}; }
void add_capture_and_tachysystole_entries(WindowAnalysis&) {}
void sort_phrases(std::vector<std::string>&) {}
}
