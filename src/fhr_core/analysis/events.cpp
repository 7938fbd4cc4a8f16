// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/events.hpp"
namespace fhr_core::analysis {
double acceleration_criterion(std::optional<std::uint8_t>) { return 15.0; }
std::vector<AccelerationEvent> detect_accelerations(const Series&, Span, std::int32_t, double) { return {}; }
std::vector<DecelerationEvent> detect_decelerations(const Series&, Span, std::int32_t) { return {}; }
std::optional<DecelTimes> decel_times(const DecelerationEvent&) { return std::nullopt; }
void time_gradual_decelerations(std::vector<DecelerationEvent>&, const std::vector<ContractionEvent>&) {}
}
