// Result records: one AnalysisReport per call, one WindowAnalysis per window.
// Every field carries the name of the report key under which it is printed,
// and fields are declared in print order. The findings are held as values;
// the report writer prints their phrases (model/findings.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/model/findings.hpp"
#include "fhr_core/model/input.hpp"

namespace fhr_core {

enum class Classification : std::uint8_t { category_i, category_ii, category_iii, unclassified };
enum class AlertLevel : std::uint8_t { none, warning, urgent_review, critical, data_quality };
enum class BaselineClass : std::uint8_t { bradycardia, normal, tachycardia };
enum class VariabilityClass : std::uint8_t { absent, minimal, moderate, marked };
enum class TocoRecurrenceConfidence : std::uint8_t { low, limited, adequate };
enum class LateDecelTimingConfidence : std::uint8_t { confirmed, limited, low, not_applicable };
enum class DecelerationKind : std::uint8_t { variable, early, late, prolonged, gradual_unclassified };

std::string_view to_text(Classification value);
std::string_view to_text(AlertLevel value);
std::string_view to_text(BaselineClass value);
std::string_view to_text(VariabilityClass value);
std::string_view to_text(TocoRecurrenceConfidence value);
std::string_view to_text(LateDecelTimingConfidence value);
std::string_view to_text(DecelerationKind value);

struct AccelerationEvent {
    std::string start;
    std::string end;
    double duration_seconds = 0.0;
    double peak_bpm = 0.0;
};

struct DecelerationEvent {
    std::string start;
    std::string end;
    double duration_seconds = 0.0;
    double nadir_bpm = 0.0;
    double depth_bpm = 0.0;
    double onset_to_nadir_seconds = 0.0;
    DecelerationKind kind = DecelerationKind::variable;
};

struct ContractionEvent {
    std::string start;
    std::string peak;
    std::string end;
    double duration_seconds = 0.0;
    double peak_toco = 0.0;
};

struct TocoSummary {
    std::vector<ContractionEvent> contraction_events;
    double contractions_per_10_min = 0.0;
    std::optional<bool> tachysystole;
};

struct CategoryIiiDiagnostics {
    bool cat_iii_candidate = false;
    FindingSet<Cat3Blocker> cat_iii_blockers;
    bool variability_near_absent = false;
    bool recurrent_late_candidate = false;
    bool recurrent_variable_candidate = false;
    TocoRecurrenceConfidence toco_recurrence_confidence = TocoRecurrenceConfidence::low;
    LateDecelTimingConfidence late_decel_timing_confidence = LateDecelTimingConfidence::confirmed;
};

// Printed under "features", in this order.
struct WindowFeatures {
    std::optional<double> fetal_hr_min_bpm;
    std::optional<double> fetal_hr_p05_bpm;
    std::optional<double> fetal_hr_mean_bpm;
    std::optional<double> fetal_hr_median_bpm;
    std::optional<double> fetal_hr_p95_bpm;
    std::optional<double> fetal_hr_max_bpm;
    std::optional<double> fetal_hr_std_dev_bpm;
    std::optional<double> baseline_delta_mean_bpm;
    std::uint64_t fetal_hr_seconds_below_110 = 0;
    std::uint64_t fetal_hr_seconds_110_to_160 = 0;
    std::uint64_t fetal_hr_seconds_above_160 = 0;
    double fetal_hr_percent_below_110 = 0.0;
    double fetal_hr_percent_110_to_160 = 0.0;
    double fetal_hr_percent_above_160 = 0.0;
    std::uint64_t acceleration_count = 0;
    std::uint64_t deceleration_count = 0;
    std::uint64_t prolonged_deceleration_count = 0;
    double total_deceleration_seconds = 0.0;
    std::optional<double> deepest_deceleration_nadir_bpm;
    std::optional<double> max_deceleration_depth_bpm;
    std::uint64_t contraction_count = 0;
    double contractions_per_10_min = 0.0;
    std::optional<double> toco_mean;
    std::optional<double> toco_max;
    std::optional<double> maternal_hr_mean_bpm;
    std::optional<double> fetal_maternal_mean_difference_bpm;
};

// Printed under "data_quality", in this order (fetal_usable_seconds is not printed).
struct DataQuality {
    std::uint64_t expected_seconds = 0;
    std::uint64_t raw_samples = 0;
    std::uint64_t fetal_usable_seconds = 0;
    double fetal_usable_ratio = 0.0;
    double maternal_usable_ratio = 0.0;
    double toco_usable_ratio = 0.0;
    double suspected_maternal_capture_ratio = 0.0;
};

struct WindowAnalysis {
    std::string window_start;
    std::string window_end;
    double duration_seconds = 0.0;
    Classification classification = Classification::category_i;
    AlertLevel alert_level = AlertLevel::none;
    std::optional<std::int32_t> baseline_bpm;
    std::optional<BaselineClass> baseline_class;
    std::optional<double> variability_bpm;
    std::optional<VariabilityClass> variability_class;
    bool sinusoidal_pattern = false;
    CategoryIiiDiagnostics category_iii_diagnostics;
    WindowFeatures features;
    std::vector<AccelerationEvent> acceleration_events;
    std::vector<DecelerationEvent> deceleration_events;
    TocoSummary toco_summary;
    DataQuality data_quality;
    FindingSet<Reason> reasons;
    FindingSet<HighRisk> high_risk_features;
    FindingSet<Protective> protective_features;
    std::optional<Suppression> alert_suppression_reasons;
    FindingSet<Limitation> limitations;
};

struct AnalysisReport {
    AnalysisConfig config;
    InputSummary input;
    std::vector<WindowAnalysis> windows;
};

}  // namespace fhr_core
