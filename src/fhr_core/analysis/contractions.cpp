// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/contractions.hpp"
namespace fhr_core::analysis {
std::vector<ContractionEvent> detect_contractions(const Series&, std::int64_t, std::int64_t) { return {}; }
TocoSummary summarize_contractions(std::vector<ContractionEvent> c, const Series&, std::int64_t, std::int64_t) { TocoSummary t; t.contraction_events = std::move(c); return t; }
}
