// Variability chunk amplitudes of a recording's seconds, kept from one
// window to the next.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

namespace fhr_core::analysis {

// The amplitude of a one-minute chunk depends only on its seconds and the
// baseline it is measured against: when its seconds are whole in every
// window reading it (none is a window's first or last second, or that second
// holds all its rows), windows that meet the same chunk with the same
// baseline share the amplitude. Only with
// `recording_seconds` (see SortedSeconds); without, every chunk is measured
// afresh.
class ChunkAmplitudes {
public:
    explicit ChunkAmplitudes(bool recording_seconds = false) : recording_seconds_(recording_seconds) {}

    bool shared() const { return recording_seconds_; }
    // Chunks starting before `from_ms` are not asked for again.
    void drop_before(std::int64_t from_ms) { chunks_.erase(chunks_.begin(), chunks_.lower_bound(from_ms)); }
    // The amplitude of the chunk [from_ms, to_ms) against `baseline`: the
    // one measured before, or `measure()`.
    template <class Measure>
    std::optional<double> amplitude(std::int64_t from_ms, std::int64_t to_ms, double baseline, Measure measure) {
        const auto found = chunks_.find(from_ms);
        if (found != chunks_.end() && found->second.to_ms == to_ms && found->second.baseline == baseline) {
            return found->second.amplitude;
        }
        const std::optional<double> amplitude = measure();
        chunks_.insert_or_assign(from_ms, Chunk{to_ms, baseline, amplitude});
        return amplitude;
    }

private:
    struct Chunk {
        std::int64_t to_ms;
        double baseline;
        std::optional<double> amplitude;
    };
    bool recording_seconds_ = false;
    std::map<std::int64_t, Chunk> chunks_;  // by start
};

}  // namespace fhr_core::analysis
