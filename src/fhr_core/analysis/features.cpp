// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/features.hpp"
namespace fhr_core::analysis {
WindowFeatures compute_features(const Series&, std::optional<std::int32_t>, const std::vector<AccelerationEvent>&, const std::vector<DecelerationEvent>&, const TocoSummary&) { return {}; }
}
