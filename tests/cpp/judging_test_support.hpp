// Builders shared by the judging-stage tests: windows assembled field by field
// and monitor timestamp texts at millisecond offsets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fhr_core/model/report.hpp"

namespace judging_test {

// 2024-01-01T00:00:00Z in milliseconds since the epoch.
inline constexpr std::int64_t kDayStartMs = 1'704'067'200'000;
inline constexpr std::int64_t kSecondMs = 1'000;
inline constexpr std::int64_t kMinuteMs = 60'000;

inline std::string two_digits(std::int64_t value) {
    return std::string(1, static_cast<char>('0' + value / 10)) +
           static_cast<char>('0' + value % 10);
}

// "2024-01-01 hh:mm:ss.mmm" for an offset of less than a day after kDayStartMs.
inline std::string stamp(std::int64_t offset_ms) {
    const std::int64_t ms = offset_ms % 1000;
    const std::int64_t total_seconds = offset_ms / 1000;
    std::string text = "2024-01-01 " + two_digits(total_seconds / 3600) + ":" +
                       two_digits(total_seconds / 60 % 60) + ":" + two_digits(total_seconds % 60) +
                       ".";
    text += static_cast<char>('0' + ms / 100);
    text += two_digits(ms % 100);
    return text;
}

// A window of `length_ms` starting at kDayStartMs, filled field by field.
// build() derives the feature counts from the events, as the measuring stage
// does, so a test states each event once.
class WindowBuilder {
public:
    explicit WindowBuilder(std::int64_t length_ms = 30 * kMinuteMs) : length_ms_(length_ms) {
        w_.duration_seconds = static_cast<double>(std::max<std::int64_t>(length_ms, 0)) / 1000.0;
        w_.data_quality.toco_usable_ratio = 1.0;
        w_.data_quality.fetal_usable_ratio = 1.0;
    }

    std::int64_t start() const { return kDayStartMs; }
    std::int64_t end() const { return kDayStartMs + length_ms_; }

    WindowBuilder& baseline(std::int32_t bpm) {
        w_.baseline_bpm = bpm;
        w_.baseline_class = bpm < 110   ? fhr_core::BaselineClass::bradycardia
                            : bpm > 160 ? fhr_core::BaselineClass::tachycardia
                                        : fhr_core::BaselineClass::normal;
        return *this;
    }
    WindowBuilder& variability(double bpm) {
        w_.variability_bpm = bpm;
        w_.variability_class = bpm <= 1.0    ? fhr_core::VariabilityClass::absent
                               : bpm <= 5.0  ? fhr_core::VariabilityClass::minimal
                               : bpm <= 25.0 ? fhr_core::VariabilityClass::moderate
                                             : fhr_core::VariabilityClass::marked;
        return *this;
    }
    WindowBuilder& sinusoidal() {
        w_.sinusoidal_pattern = true;
        return *this;
    }
    // A deceleration over [from_ms, to_ms] (offsets into the window).
    WindowBuilder& decel(fhr_core::DecelerationKind kind, std::int64_t from_ms, std::int64_t to_ms,
                         double nadir = 100.0, double depth = 20.0) {
        fhr_core::DecelerationEvent d;
        d.start = stamp(from_ms);
        d.end = stamp(to_ms);
        d.duration_seconds = static_cast<double>(to_ms - from_ms) / 1000.0;
        d.nadir_bpm = nadir;
        d.depth_bpm = depth;
        d.kind = kind;
        w_.deceleration_events.push_back(d);
        return *this;
    }
    // A deceleration whose duration is given directly and whose texts sit
    // at the start of the window (for the burden and severity rules).
    WindowBuilder& decel_lasting(fhr_core::DecelerationKind kind, double seconds, double nadir,
                                 double depth) {
        decel(kind, 0, 0, nadir, depth);
        w_.deceleration_events.back().duration_seconds = seconds;
        return *this;
    }
    WindowBuilder& decel_with_texts(fhr_core::DecelerationKind kind, std::string start,
                                    std::string end) {
        decel(kind, 0, 0);
        w_.deceleration_events.back().start = std::move(start);
        w_.deceleration_events.back().end = std::move(end);
        return *this;
    }
    WindowBuilder& contraction(std::int64_t from_ms, std::int64_t to_ms) {
        return contraction_with_texts(stamp(from_ms), stamp(to_ms));
    }
    WindowBuilder& contraction_with_texts(std::string start, std::string end) {
        fhr_core::ContractionEvent c;
        c.start = std::move(start);
        c.peak = c.start;
        c.end = std::move(end);
        w_.toco_summary.contraction_events.push_back(c);
        return *this;
    }
    WindowBuilder& contractions(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto from = static_cast<std::int64_t>(i) * 3 * kMinuteMs;
            contraction(from, from + kMinuteMs);
        }
        return *this;
    }
    WindowBuilder& accelerations(std::size_t count) {
        w_.acceleration_events.resize(count);
        return *this;
    }
    WindowBuilder& tachysystole(std::optional<bool> value) {
        w_.toco_summary.tachysystole = value;
        return *this;
    }
    WindowBuilder& toco_ratio(double ratio) {
        w_.data_quality.toco_usable_ratio = ratio;
        return *this;
    }
    WindowBuilder& capture_ratio(double ratio) {
        w_.data_quality.suspected_maternal_capture_ratio = ratio;
        return *this;
    }
    WindowBuilder& classification(fhr_core::Classification value) {
        w_.classification = value;
        return *this;
    }

    fhr_core::WindowAnalysis build() const {
        fhr_core::WindowAnalysis w = w_;
        auto& f = w.features;
        f.acceleration_count = w.acceleration_events.size();
        f.deceleration_count = w.deceleration_events.size();
        f.contraction_count = w.toco_summary.contraction_events.size();
        for (const auto& d : w.deceleration_events) {
            if (d.kind == fhr_core::DecelerationKind::prolonged) ++f.prolonged_deceleration_count;
            f.total_deceleration_seconds += d.duration_seconds;
            f.deepest_deceleration_nadir_bpm =
                std::min(f.deepest_deceleration_nadir_bpm.value_or(d.nadir_bpm), d.nadir_bpm);
            f.max_deceleration_depth_bpm =
                std::max(f.max_deceleration_depth_bpm.value_or(d.depth_bpm), d.depth_bpm);
        }
        return w;
    }

private:
    std::int64_t length_ms_;
    fhr_core::WindowAnalysis w_;
};

}  // namespace judging_test
