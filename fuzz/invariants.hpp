// Checks shared by the fuzz targets: what a reader may answer, beyond "no
// crash". A violated invariant traps, which libFuzzer records as a crash
// together with the input that caused it.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/model/input.hpp"
#include "fhr_core/model/text.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fuzz {

inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

inline bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The timestamp parser's messages that quote the whole text handed to it.
inline constexpr std::array<std::string_view, 8> kWholeTextMessages = {
    "timestamp is missing date/time separator: ",
    "invalid timezone offset in timestamp: ",
    "invalid timezone offset hour in timestamp: ",
    "invalid timezone offset minute in timestamp: ",
    "timezone offset out of range in timestamp: ",
    "timestamp is missing seconds: ",
    "invalid seconds in timestamp: ",
    "timestamp component out of range: ",
};
inline constexpr std::array<std::string_view, 5> kComponentNames = {"year", "month", "day", "hour", "minute"};
inline constexpr std::string_view kMillisDigitMessage = "invalid millisecond digit: ";

// The text as the parser reads it (and as the JSON reader stores it): trimmed,
// trailing "Z"s dropped, every "T" read as a blank.
inline std::string normalised_timestamp(std::string_view text) {
    std::string_view trimmed = fhr_core::trim_white_space(text);
    while (!trimmed.empty() && trimmed.back() == 'Z') trimmed.remove_suffix(1);
    std::string out(trimmed);
    for (char& c : out) {
        if (c == 'T') c = ' ';
    }
    return out;
}

// True when `message` is one of the parser's failure texts for `text`.
inline bool is_timestamp_message(std::string_view message, std::string_view text) {
    for (std::string_view prefix : kWholeTextMessages) {
        if (starts_with(message, prefix) && message.substr(prefix.size()) == text) return true;
    }
    for (std::string_view name : kComponentNames) {
        const std::string missing = "timestamp is missing " + std::string(name) + ": ";
        const std::string invalid = "invalid " + std::string(name) + " in timestamp: ";
        if (starts_with(message, missing) && message.substr(missing.size()) == text) return true;
        if (starts_with(message, invalid) && message.substr(invalid.size()) == text) return true;
    }
    if (starts_with(message, kMillisDigitMessage)) {
        // The placeholder is the fraction: a non-empty piece of the normalised
        // text holding a non-digit among its first three characters.
        const std::string_view fraction = message.substr(kMillisDigitMessage.size());
        if (fraction.empty() || normalised_timestamp(text).find(fraction) == std::string::npos) return false;
        const std::size_t head = std::min<std::size_t>(fraction.size(), 3);
        return std::any_of(fraction.begin(), fraction.begin() + static_cast<std::ptrdiff_t>(head),
                           [](char c) { return c < '0' || c > '9'; });
    }
    return false;
}

// True when `message` starts like one of the parser's failure texts (for a
// caller that no longer knows the exact text it handed over).
inline bool has_timestamp_message_shape(std::string_view message) {
    for (std::string_view prefix : kWholeTextMessages) {
        if (starts_with(message, prefix)) return true;
    }
    for (std::string_view name : kComponentNames) {
        if (starts_with(message, "timestamp is missing " + std::string(name) + ": ") ||
            starts_with(message, "invalid " + std::string(name) + " in timestamp: ")) {
            return true;
        }
    }
    return starts_with(message, kMillisDigitMessage);
}

// True for well-formed UTF-8 (no overlong forms, surrogates or code points
// past U+10FFFF).
inline bool is_utf8(std::string_view text) {
    constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
        if (length == 0 || text.size() - i < length) return false;
        std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3Fu);
        }
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// Equal optional doubles: both absent, both NaN, or the same bits.
inline bool same_value(const std::optional<double>& a, const std::optional<double>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    if (std::isnan(*a) || std::isnan(*b)) return std::isnan(*a) && std::isnan(*b);
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, &*a, sizeof x);
    std::memcpy(&y, &*b, sizeof y);
    return x == y;
}

inline bool same_sample(const fhr_core::MonitorSample& a, const fhr_core::MonitorSample& b) {
    return a.timestamp == b.timestamp && a.timestamp_ms == b.timestamp_ms && same_value(a.hr1, b.hr1) &&
           same_value(a.hr2, b.hr2) && same_value(a.hr3, b.hr3) && same_value(a.hrm, b.hrm) &&
           same_value(a.toco, b.toco);
}

inline bool same_input(const fhr_core::InputData& a, const fhr_core::InputData& b) {
    if (a.samples.size() != b.samples.size() || a.out_of_order_rows != b.out_of_order_rows ||
        a.duplicate_timestamps != b.duplicate_timestamps) {
        return false;
    }
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
        if (!same_sample(a.samples[i], b.samples[i])) return false;
    }
    return true;
}

// What every reader promises of a recording it returns: samples sorted by
// time, each timestamp text parsing back to its instant, and duplicates
// counted over neighbours. `arrival` holds the instants in input order, from
// which the out-of-order count is recounted.
inline void check_recording(const fhr_core::InputData& input, const std::vector<std::int64_t>& arrival) {
    const auto& samples = input.samples;
    require(samples.size() == arrival.size());
    std::size_t out_of_order = 0;
    for (std::size_t i = 1; i < arrival.size(); ++i) out_of_order += arrival[i] < arrival[i - 1] ? 1 : 0;
    require(out_of_order == input.out_of_order_rows);

    std::size_t duplicates = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto reparsed = fhr_core::time::parse_monitor_timestamp(samples[i].timestamp);
        require(reparsed.ok() && *reparsed == samples[i].timestamp_ms);
        if (i > 0) {
            require(samples[i - 1].timestamp_ms <= samples[i].timestamp_ms);
            duplicates += samples[i - 1].timestamp_ms == samples[i].timestamp_ms ? 1 : 0;
        }
    }
    require(duplicates == input.duplicate_timestamps);

    // Sorting keeps every instant: the sorted instants are the arrival ones.
    std::vector<std::int64_t> sorted = arrival;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < samples.size(); ++i) require(sorted[i] == samples[i].timestamp_ms);
}

// The row or sample number N of a message "<head>N<tail>", when present.
inline std::optional<std::size_t> number_after(std::string_view message, std::string_view head,
                                               std::string_view tail) {
    if (!starts_with(message, head)) return std::nullopt;
    std::size_t i = head.size();
    std::size_t value = 0;
    const std::size_t digits_start = i;
    while (i < message.size() && message[i] >= '0' && message[i] <= '9' && i - digits_start < 19) {
        value = value * 10 + static_cast<std::size_t>(message[i] - '0');
        ++i;
    }
    if (i == digits_start || !starts_with(message.substr(i), tail)) return std::nullopt;
    return value;
}

}  // namespace fuzz
