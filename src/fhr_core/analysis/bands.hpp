// Heart-rate and variability bands (bpm): where the measuring stage draws its
// classes and counts, and where the judgements read them.
#pragma once

namespace fhr_core::analysis::bands {

// The normal fetal heart-rate range, both ends included: below it is
// bradycardia, above it tachycardia.
inline constexpr double kNormalRateLowBpm = 110.0;
inline constexpr double kNormalRateHighBpm = 160.0;

// Upper ends of the variability classes (each end included); above the last
// is marked variability.
inline constexpr double kAbsentVariabilityMaxBpm = 1.0;
inline constexpr double kMinimalVariabilityMaxBpm = 5.0;
inline constexpr double kModerateVariabilityMaxBpm = 25.0;

}  // namespace fhr_core::analysis::bands
