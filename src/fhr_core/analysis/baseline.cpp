// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/baseline.hpp"
namespace fhr_core::analysis {
std::optional<std::int32_t> estimate_baseline(const Series&, std::int64_t, std::int64_t) { return std::nullopt; }
std::optional<BaselineClass> classify_baseline(std::optional<std::int32_t>) { return std::nullopt; }
}
