// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/sinusoidal.hpp"
namespace fhr_core::analysis {
bool sinusoidal_like_values(std::span<const double>, double) { return false; }
bool detect_sinusoidal_pattern(const Series&, std::int64_t, std::int64_t) { return false; }
}
