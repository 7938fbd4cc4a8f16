// Every fixed phrase of the judging stage, defined once. Later stages test
// the lists by these exact texts, and the report prints them unchanged.
#pragma once

#include <string_view>

namespace fhr_core::analysis::phrases {

// Reasons for the category.
inline constexpr std::string_view kReasonSinusoidal = "sinusoidal pattern for at least 20 minutes";
inline constexpr std::string_view kReasonNoBaseline = "cannot classify without a determinate baseline";
inline constexpr std::string_view kReasonNoVariability = "cannot classify without determinate variability";
inline constexpr std::string_view kReasonAbsentWithBradycardiaOrRecurrence =
    "absent variability with bradycardia or recurrent late/variable decelerations";
inline constexpr std::string_view kReasonCategoryI =
    "normal baseline, moderate variability, and no detected late or variable decelerations";
inline constexpr std::string_view kReasonBradycardia = "bradycardia not accompanied by category-III criteria";
inline constexpr std::string_view kReasonTachycardia = "tachycardia";
inline constexpr std::string_view kReasonAbsentVariability = "absent variability without recurrent decelerations";
inline constexpr std::string_view kReasonMinimalVariability = "minimal variability";
inline constexpr std::string_view kReasonMarkedVariability = "marked variability";
inline constexpr std::string_view kReasonVariableDeceleration = "variable deceleration";
inline constexpr std::string_view kReasonLateDeceleration = "late deceleration";
inline constexpr std::string_view kReasonProlongedDeceleration = "prolonged deceleration";
inline constexpr std::string_view kReasonGradualDeceleration =
    "gradual deceleration not classifiable without clearer TOCO association";
inline constexpr std::string_view kReasonTachysystole = "tachysystole";

// High-risk features.
inline constexpr std::string_view kRiskSinusoidal = "sinusoidal pattern";
inline constexpr std::string_view kRiskAbsentVariability = "absent variability";
inline constexpr std::string_view kRiskMarkedVariability = "marked variability";
inline constexpr std::string_view kRiskPersistentMinimal = "persistent minimal variability for at least 20 minutes";
inline constexpr std::string_view kRiskChangeToTachycardia = "baseline changed from normal to tachycardia";
inline constexpr std::string_view kRiskRecurrentLate = "recurrent late decelerations";
inline constexpr std::string_view kRiskRecurrentVariable = "recurrent variable decelerations";
inline constexpr std::string_view kRiskGradualWithLowVariability =
    "gradual deceleration with absent or minimal variability";
inline constexpr std::string_view kRiskSevereVariable = "severe variable deceleration";
inline constexpr std::string_view kRiskDeepNadir = "deep deceleration nadir below 80 bpm";
inline constexpr std::string_view kRiskDecelerationBurden = "concerning deceleration burden";
inline constexpr std::string_view kRiskMultipleProlonged = "more than one prolonged deceleration";
inline constexpr std::string_view kRiskMaternalCapture =
    "possible maternal heart-rate capture: fetal channel often tracks HRM within 5 bpm";
inline constexpr std::string_view kRiskTachysystoleWithCategoryII = "tachysystole with high-risk Category II features";
inline constexpr std::string_view kRiskTachysystole = "tachysystole";

// Protective features.
inline constexpr std::string_view kProtectiveModerateVariability = "moderate variability";
inline constexpr std::string_view kProtectiveAccelerations = "accelerations present";

// Alert suppression reasons (S1 to S8).
inline constexpr std::string_view kSuppressRecurrentVariableWithModerate =
    "moderate variability present: recurrent variable decelerations with limited burden retained without interruptive alert";
inline constexpr std::string_view kSuppressRecurrentVariable =
    "recurrent variable decelerations with limited burden retained without interruptive alert";
inline constexpr std::string_view kSuppressVariableWithoutContext =
    "variable deceleration findings without additional risk context retained without interruptive alert";
inline constexpr std::string_view kSuppressLimitedLate =
    "limited late deceleration context retained without interruptive alert";
inline constexpr std::string_view kSuppressDemotedToWarning =
    "moderate variability present: recurrent variable decelerations demoted from urgent_review to warning";
inline constexpr std::string_view kSuppressIsolatedMarked =
    "isolated marked variability retained without interruptive alert";
inline constexpr std::string_view kSuppressLimitedBurden =
    "deceleration findings with limited burden retained without interruptive alert";
inline constexpr std::string_view kSuppressProtectedVariable =
    "moderate variability present: isolated variable deceleration findings retained without interruptive alert";

// Limitations.
inline constexpr std::string_view kLimitUnder10Minutes =
    "less than 10 minutes: baseline and variability assessment is incomplete";
inline constexpr std::string_view kLimitUnder20Minutes =
    "less than 20 minutes: recurrent deceleration assessment is incomplete";
inline constexpr std::string_view kLimitFewContractions =
    "fewer than two detected contractions: recurrent deceleration assessment is limited";
inline constexpr std::string_view kLimitUnder30Minutes = "less than 30 minutes: tachysystole assessment is incomplete";
inline constexpr std::string_view kLimitSparseToco =
    "TOCO unavailable or sparse: late/early timing and contraction recurrence are limited";
inline constexpr std::string_view kLimitTachysystoleAverage = "tachysystole requires a 30-minute contraction average";
inline constexpr std::string_view kLimitNoBaseline =
    "baseline indeterminate: fewer than 120 usable fetal-HR seconds in the current 10-minute segment";

// Category III blockers (the first two recurrence blockers share their text
// with limitations).
inline constexpr std::string_view kBlockNearAbsent = "variability is near-absent, not absent";
inline constexpr std::string_view kBlockUnder20Minutes = kLimitUnder20Minutes;
inline constexpr std::string_view kBlockFewContractions = kLimitFewContractions;
inline constexpr std::string_view kBlockSparseToco = "TOCO unavailable or sparse: contraction-linked recurrence is limited";
inline constexpr std::string_view kBlockLateNotConfirmed = "recurrent late decelerations are not confirmed";
inline constexpr std::string_view kBlockVariableNotConfirmed = "recurrent variable decelerations are not confirmed";

}  // namespace fhr_core::analysis::phrases
