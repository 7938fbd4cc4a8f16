// The findings of the judging stage: each kind an enumeration, each value one
// fixed English phrase. The judgement works on the values; the report prints
// their phrases (phrase() below holds the one table of texts).
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <type_traits>

namespace fhr_core {

// Why a window got its category.
enum class Reason : std::uint8_t {
    sinusoidal,
    no_baseline,
    no_variability,
    absent_variability_with_bradycardia_or_recurrence,
    reassuring_trace,  // normal baseline, moderate variability, no late or variable decelerations
    bradycardia,
    tachycardia,
    absent_variability,
    minimal_variability,
    marked_variability,
    variable_deceleration,
    late_deceleration,
    prolonged_deceleration,
    gradual_deceleration,
    tachysystole,
};

// Findings that raise concern.
enum class HighRisk : std::uint8_t {
    sinusoidal,
    absent_variability,
    marked_variability,
    persistent_minimal_variability,
    change_to_tachycardia,
    recurrent_late,
    recurrent_variable,
    gradual_with_low_variability,
    severe_variable,
    deep_nadir,
    deceleration_burden,
    multiple_prolonged,
    maternal_capture,
    tachysystole_with_category_ii,
    tachysystole,
};

// Reassuring findings.
enum class Protective : std::uint8_t { moderate_variability, accelerations };

// Limits of the assessment of a window, declared in the order the report
// lists them.
enum class Limitation : std::uint8_t {
    under_10_minutes,
    under_20_minutes,
    few_contractions,
    under_30_minutes,
    sparse_toco,
    tachysystole_needs_30_minutes,
    no_baseline,
};

// Why a Category III pattern is not confirmed.
enum class Cat3Blocker : std::uint8_t {
    near_absent_variability,
    under_20_minutes,
    few_contractions,
    sparse_toco,
    late_not_confirmed,
    variable_not_confirmed,
};

// Why an alert was withheld or lowered.
enum class Suppression : std::uint8_t {
    recurrent_variable_with_moderate,
    recurrent_variable,
    variable_without_context,
    limited_late,
    demoted_to_warning,
    isolated_marked,
    limited_burden,
    protected_variable,
};

std::string_view phrase(Reason finding);
std::string_view phrase(HighRisk finding);
std::string_view phrase(Protective finding);
std::string_view phrase(Limitation finding);
std::string_view phrase(Cat3Blocker finding);
std::string_view phrase(Suppression finding);

// A set of findings of one kind: each finding at most once, whatever the
// order in which they were found.
template <class Finding>
class FindingSet {
public:
    constexpr FindingSet() = default;
    constexpr FindingSet(std::initializer_list<Finding> findings) {
        for (const Finding f : findings) add(f);
    }

    constexpr void add(Finding f) { bits_ |= bit(f); }
    constexpr bool contains(Finding f) const { return (bits_ & bit(f)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    // Every member is one of `allowed` (true for an empty set).
    constexpr bool within(FindingSet allowed) const { return (bits_ & ~allowed.bits_) == 0; }
    constexpr bool intersects(FindingSet other) const { return (bits_ & other.bits_) != 0; }

    // Calls `visit` with each member, in declaration order.
    template <class Visit>
    constexpr void for_each(Visit visit) const {
        for (Bits rest = bits_; rest != 0; rest &= rest - 1) {
            visit(static_cast<Finding>(std::countr_zero(rest)));
        }
    }

    friend constexpr bool operator==(FindingSet, FindingSet) = default;

private:
    using Bits = std::uint32_t;
    static constexpr Bits bit(Finding f) { return Bits{1} << static_cast<std::underlying_type_t<Finding>>(f); }

    Bits bits_ = 0;
};

}  // namespace fhr_core
