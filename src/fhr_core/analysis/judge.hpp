// The judging stage: what a window's measurements mean.
#pragma once

#include <optional>

#include "fhr_core/analysis/measure.hpp"
#include "fhr_core/model/findings.hpp"
#include "fhr_core/model/report.hpp"

namespace fhr_core::analysis {

struct Judgement {
    Classification classification = Classification::unclassified;
    FindingSet<Reason> reasons;
    FindingSet<HighRisk> high_risk;
    FindingSet<Protective> protective;
    CategoryIiiDiagnostics diagnostics;
    FindingSet<Limitation> limitations;
    AlertLevel alert_level = AlertLevel::none;
    std::optional<Suppression> suppression;
};

Judgement judge(const Measurements& m);

}  // namespace fhr_core::analysis
