// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/variability.hpp"
namespace fhr_core::analysis {
std::optional<double> estimate_variability(const Series&, std::int64_t, std::int64_t, double) { return std::nullopt; }
std::optional<VariabilityClass> classify_variability(std::optional<double>) { return std::nullopt; }
}
