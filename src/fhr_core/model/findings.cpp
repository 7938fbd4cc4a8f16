// The phrase of every finding. A text shared by two kinds of finding is
// written once and used by both.
#include "fhr_core/model/findings.hpp"

#include <array>

namespace fhr_core {
namespace {

constexpr std::string_view kMarkedVariability = "marked variability";
constexpr std::string_view kTachysystole = "tachysystole";
constexpr std::string_view kUnder20Minutes = "less than 20 minutes: recurrent deceleration assessment is incomplete";
constexpr std::string_view kFewContractions =
    "fewer than two detected contractions: recurrent deceleration assessment is limited";

constexpr std::array<std::string_view, 15> kReasons = {
    "sinusoidal pattern for at least 20 minutes",
    "cannot classify without a determinate baseline",
    "cannot classify without determinate variability",
    "absent variability with bradycardia or recurrent late/variable decelerations",
    "normal baseline, moderate variability, and no detected late or variable decelerations",
    "bradycardia not accompanied by category-III criteria",
    "tachycardia",
    "absent variability without recurrent decelerations",
    "minimal variability",
    kMarkedVariability,
    "variable deceleration",
    "late deceleration",
    "prolonged deceleration",
    "gradual deceleration not classifiable without clearer TOCO association",
    kTachysystole,
};

constexpr std::array<std::string_view, 15> kHighRisk = {
    "sinusoidal pattern",
    "absent variability",
    kMarkedVariability,
    "persistent minimal variability for at least 20 minutes",
    "baseline changed from normal to tachycardia",
    "recurrent late decelerations",
    "recurrent variable decelerations",
    "gradual deceleration with absent or minimal variability",
    "severe variable deceleration",
    "deep deceleration nadir below 80 bpm",
    "concerning deceleration burden",
    "more than one prolonged deceleration",
    "possible maternal heart-rate capture: fetal channel often tracks HRM within 5 bpm",
    "tachysystole with high-risk Category II features",
    kTachysystole,
};

constexpr std::array<std::string_view, 2> kProtective = {
    "moderate variability",
    "accelerations present",
};

constexpr std::array<std::string_view, 7> kLimitations = {
    "less than 10 minutes: baseline and variability assessment is incomplete",
    kUnder20Minutes,
    kFewContractions,
    "less than 30 minutes: tachysystole assessment is incomplete",
    "TOCO unavailable or sparse: late/early timing and contraction recurrence are limited",
    "tachysystole requires a 30-minute contraction average",
    "baseline indeterminate: fewer than 120 usable fetal-HR seconds in the current 10-minute segment",
};

constexpr std::array<std::string_view, 6> kBlockers = {
    "variability is near-absent, not absent",
    kUnder20Minutes,
    kFewContractions,
    "TOCO unavailable or sparse: contraction-linked recurrence is limited",
    "recurrent late decelerations are not confirmed",
    "recurrent variable decelerations are not confirmed",
};

constexpr std::array<std::string_view, 8> kSuppressions = {
    "moderate variability present: recurrent variable decelerations with limited burden retained without "
    "interruptive alert",
    "recurrent variable decelerations with limited burden retained without interruptive alert",
    "variable deceleration findings without additional risk context retained without interruptive alert",
    "limited late deceleration context retained without interruptive alert",
    "moderate variability present: recurrent variable decelerations demoted from urgent_review to warning",
    "isolated marked variability retained without interruptive alert",
    "deceleration findings with limited burden retained without interruptive alert",
    "moderate variability present: isolated variable deceleration findings retained without interruptive alert",
};

static_assert(kReasons.size() == static_cast<std::size_t>(Reason::tachysystole) + 1);
static_assert(kHighRisk.size() == static_cast<std::size_t>(HighRisk::tachysystole) + 1);
static_assert(kProtective.size() == static_cast<std::size_t>(Protective::accelerations) + 1);
static_assert(kLimitations.size() == static_cast<std::size_t>(Limitation::no_baseline) + 1);
static_assert(kBlockers.size() == static_cast<std::size_t>(Cat3Blocker::variable_not_confirmed) + 1);
static_assert(kSuppressions.size() == static_cast<std::size_t>(Suppression::protected_variable) + 1);

template <std::size_t N, class Finding>
std::string_view lookup(const std::array<std::string_view, N>& table, Finding finding) {
    return table.at(static_cast<std::size_t>(finding));
}

}  // namespace

std::string_view phrase(Reason finding) { return lookup(kReasons, finding); }
std::string_view phrase(HighRisk finding) { return lookup(kHighRisk, finding); }
std::string_view phrase(Protective finding) { return lookup(kProtective, finding); }
std::string_view phrase(Limitation finding) { return lookup(kLimitations, finding); }
std::string_view phrase(Cat3Blocker finding) { return lookup(kBlockers, finding); }
std::string_view phrase(Suppression finding) { return lookup(kSuppressions, finding); }

}  // namespace fhr_core
