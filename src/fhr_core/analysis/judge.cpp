#include "fhr_core/analysis/judge.hpp"

#include "fhr_core/analysis/alert.hpp"
#include "fhr_core/analysis/classification.hpp"
#include "fhr_core/analysis/diagnostics.hpp"

namespace fhr_core::analysis {

Judgement judge(const Measurements& m) {
    Judgement j;
    const Recurrence recurrence = assess_recurrence(m);
    const Category category = decide_category(m, recurrence);
    j.classification = category.classification;
    j.reasons = category.reasons;
    j.high_risk = high_risk_findings(m, recurrence, category.classification);
    j.protective = protective_findings(m);
    j.diagnostics = category_iii_diagnostics(m, recurrence);
    j.limitations = limitations(m);

    const AlertDecision alert = decide_alert(j.classification, Findings{j.reasons, j.high_risk, j.protective},
                                             m.features, m.window.data_quality.fetal_usable_ratio);
    j.alert_level = alert.level;
    j.suppression = alert.suppression;
    return j;
}

}  // namespace fhr_core::analysis
