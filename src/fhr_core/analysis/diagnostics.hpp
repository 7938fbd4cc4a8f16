// The limitations of a window and its Category III diagnostics.
#pragma once

#include "fhr_core/analysis/classification.hpp"
#include "fhr_core/analysis/measure.hpp"
#include "fhr_core/model/findings.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

FindingSet<Limitation> limitations(const Measurements& m);

CategoryIiiDiagnostics category_iii_diagnostics(const Measurements& m, const Recurrence& recurrence);

}  // namespace fhr_core::analysis
