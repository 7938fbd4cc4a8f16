// Measurements assembled field by field for the judging tests, with event
// instants placed by offset into a window starting 2024-01-01T00:00:00Z.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "fhr_core/analysis/baseline.hpp"
#include "fhr_core/analysis/features.hpp"
#include "fhr_core/analysis/measure.hpp"
#include "fhr_core/analysis/variability.hpp"

namespace fhr_core {

// Failure messages show a set of findings as its phrases.
template <class Finding>
void PrintTo(const FindingSet<Finding>& set, std::ostream* os) {
    *os << '{';
    set.for_each([os](Finding f) { *os << " \"" << phrase(f) << '"'; });
    *os << " }";
}

}  // namespace fhr_core

namespace judging_test {

using namespace fhr_core;
using namespace fhr_core::analysis;

inline constexpr std::int64_t kStartMs = 1'704'067'200'000;
constexpr std::int64_t m(std::int64_t minutes) { return minutes * 60'000; }
constexpr std::int64_t s(std::int64_t seconds) { return seconds * 1'000; }

inline constexpr DecelerationKind kVariable = DecelerationKind::variable;
inline constexpr DecelerationKind kEarly = DecelerationKind::early;
inline constexpr DecelerationKind kLate = DecelerationKind::late;
inline constexpr DecelerationKind kProlonged = DecelerationKind::prolonged;
inline constexpr DecelerationKind kGradual = DecelerationKind::gradual_unclassified;

class Measured {
public:
    explicit Measured(std::int64_t length_ms = m(30)) {
        m_.spans = window_spans(kStartMs, kStartMs + length_ms);
        m_.window.data_quality.toco_usable_ratio = 1.0;
        m_.window.data_quality.fetal_usable_ratio = 1.0;
    }

    Measured& baseline(std::int32_t bpm) {
        m_.current.baseline_bpm = bpm;
        m_.current.baseline_class = classify_baseline(bpm);
        return *this;
    }
    Measured& variability(double bpm) {
        m_.current.variability_bpm = bpm;
        m_.current.variability_class = classify_variability(bpm);
        return *this;
    }
    Measured& sinusoidal() {
        m_.sinusoidal_pattern = true;
        return *this;
    }
    // A deceleration placed over [from_ms, to_ms] of the window.
    Measured& decel(DecelerationKind kind, std::int64_t from_ms, std::int64_t to_ms, double nadir = 100.0,
                    double depth = 20.0) {
        Deceleration& d = m_.decelerations.emplace_back();
        d.event.duration_seconds = static_cast<double>(to_ms - from_ms) / 1000.0;
        d.event.nadir_bpm = nadir;
        d.event.depth_bpm = depth;
        d.event.kind = kind;
        d.at = DecelerationInstants{kStartMs + from_ms, kStartMs + from_ms, kStartMs + to_ms};
        return *this;
    }
    // A deceleration whose duration is given directly (for the burden and
    // severity rules), placed at the window start.
    Measured& decel_lasting(DecelerationKind kind, double seconds, double nadir, double depth) {
        decel(kind, 0, 0, nadir, depth);
        m_.decelerations.back().event.duration_seconds = seconds;
        return *this;
    }
    // The last deceleration's texts name no instants.
    Measured& unplaced() {
        m_.decelerations.back().at.reset();
        return *this;
    }
    Measured& contraction(std::optional<std::int64_t> from_ms, std::optional<std::int64_t> to_ms) {
        const auto at = [](std::optional<std::int64_t> ms) {
            return ms ? std::optional(kStartMs + *ms) : std::nullopt;
        };
        m_.contractions.push_back(Contraction{{}, {at(from_ms), at(from_ms), at(to_ms)}});
        return *this;
    }
    // `count` one-minute contractions, three minutes apart.
    Measured& contractions(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t from = static_cast<std::int64_t>(i) * m(3);
            contraction(from, from + m(1));
        }
        return *this;
    }
    Measured& accelerations(std::size_t count) {
        m_.accelerations.resize(count);
        return *this;
    }
    Measured& tachysystole(std::optional<bool> value) {
        m_.tachysystole = value;
        return *this;
    }
    Measured& toco_ratio(double ratio) {
        m_.window.data_quality.toco_usable_ratio = ratio;
        return *this;
    }
    Measured& capture_ratio(double ratio) {
        m_.window.data_quality.suspected_maternal_capture_ratio = ratio;
        return *this;
    }

    // The features follow from the events, as the measuring stage has them.
    Measurements build() const {
        Measurements out = m_;
        WindowSorts sorts;
        out.features = compute_features(Series{}, sorts, out.current.baseline_bpm, out.accelerations.size(),
                                        out.decelerations, out.contractions.size(), 0.0);
        return out;
    }

private:
    Measurements m_;
};

}  // namespace judging_test
