// Placeholder: replaced by the real implementation.
#include "fhr_core/analysis/alert.hpp"
namespace fhr_core::analysis {
AlertDecision decide_alert(const WindowAnalysis&) { return {}; }
}
