// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/summary.hpp"
namespace fhr_core::analysis {
void sort_total_order(std::vector<double>&) {}
std::size_t quantile_index(std::size_t, double) { return 0; }
double quantile(const std::vector<double>& v, double) { return v.front(); }
ValueSummary summarize_values(std::vector<double>&) { return {}; }
}
