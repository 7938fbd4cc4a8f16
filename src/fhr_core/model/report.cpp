#include "fhr_core/model/report.hpp"

namespace fhr_core {

std::string_view to_text(Classification value) {
    switch (value) {
        case Classification::category_i: return "category_i";
        case Classification::category_ii: return "category_ii";
        case Classification::category_iii: return "category_iii";
        case Classification::unclassified: return "unclassified";
    }
    return "unclassified";
}

std::string_view to_text(AlertLevel value) {
    switch (value) {
        case AlertLevel::none: return "none";
        case AlertLevel::warning: return "warning";
        case AlertLevel::urgent_review: return "urgent_review";
        case AlertLevel::critical: return "critical";
        case AlertLevel::data_quality: return "data_quality";
    }
    return "data_quality";
}

std::string_view to_text(BaselineClass value) {
    switch (value) {
        case BaselineClass::bradycardia: return "bradycardia";
        case BaselineClass::normal: return "normal";
        case BaselineClass::tachycardia: return "tachycardia";
    }
    return "normal";
}

std::string_view to_text(VariabilityClass value) {
    switch (value) {
        case VariabilityClass::absent: return "absent";
        case VariabilityClass::minimal: return "minimal";
        case VariabilityClass::moderate: return "moderate";
        case VariabilityClass::marked: return "marked";
    }
    return "absent";
}

std::string_view to_text(TocoRecurrenceConfidence value) {
    switch (value) {
        case TocoRecurrenceConfidence::low: return "low";
        case TocoRecurrenceConfidence::limited: return "limited";
        case TocoRecurrenceConfidence::adequate: return "adequate";
    }
    return "low";
}

std::string_view to_text(LateDecelTimingConfidence value) {
    switch (value) {
        case LateDecelTimingConfidence::confirmed: return "confirmed";
        case LateDecelTimingConfidence::limited: return "limited";
        case LateDecelTimingConfidence::low: return "low";
        case LateDecelTimingConfidence::not_applicable: return "not_applicable";
    }
    return "not_applicable";
}

std::string_view to_text(DecelerationKind value) {
    switch (value) {
        case DecelerationKind::variable: return "variable";
        case DecelerationKind::early: return "early";
        case DecelerationKind::late: return "late";
        case DecelerationKind::prolonged: return "prolonged";
        case DecelerationKind::gradual_unclassified: return "gradual_unclassified";
    }
    return "variable";
}

}  // namespace fhr_core
