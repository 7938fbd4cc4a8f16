// Checks shared by the fuzz targets: what a reader may answer, beyond "no crash". A violated invariant traps, which
// libFuzzer records as a crash together with the input that caused it.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/model/input.hpp"
#include "fhr_core/model/text.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fuzz {

inline void require(bool condition) { if (!condition) __builtin_trap(); }
inline bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

inline constexpr std::string_view kMillisDigitMessage = "invalid millisecond digit: ";

// The heads of the timestamp parser's messages that quote the whole text handed to it.
inline std::vector<std::string> timestamp_message_heads() {
    std::vector<std::string> heads = {
        "timestamp is missing date/time separator: ", "invalid timezone offset in timestamp: ",
        "invalid timezone offset hour in timestamp: ", "invalid timezone offset minute in timestamp: ",
        "timezone offset out of range in timestamp: ", "timestamp is missing seconds: ",
        "invalid seconds in timestamp: ", "timestamp component out of range: "};
    for (const char* name : {"year", "month", "day", "hour", "minute"}) {
        heads.push_back("timestamp is missing " + std::string(name) + ": ");
        heads.push_back("invalid " + std::string(name) + " in timestamp: ");
    }
    return heads;
}

// The text as the parser reads it (and as the JSON reader stores it): trimmed, trailing "Z"s dropped, every "T" read
// as a blank.
inline std::string normalised_timestamp(std::string_view text) {
    std::string_view trimmed = fhr_core::trim_white_space(text);
    while (!trimmed.empty() && trimmed.back() == 'Z') trimmed.remove_suffix(1);
    std::string out(trimmed);
    std::replace(out.begin(), out.end(), 'T', ' ');
    return out;
}

// True when `message` is one of the parser's failure texts for `text`, or, without a text (a caller that no longer
// knows the exact text it handed over), when it starts like one.
inline bool is_timestamp_message(std::string_view message, std::optional<std::string_view> text = std::nullopt) {
    for (const std::string& head : timestamp_message_heads()) {
        if (starts_with(message, head)) return !text || message.substr(head.size()) == *text;
    }
    if (!starts_with(message, kMillisDigitMessage)) return false;
    // The placeholder is the fraction: a non-empty piece of the normalised text holding a non-digit among its first
    // three characters.
    const std::string_view fraction = message.substr(kMillisDigitMessage.size());
    if (!text) return true;
    return !fraction.empty() && normalised_timestamp(*text).find(fraction) != std::string::npos &&
           std::any_of(fraction.begin(), fraction.begin() + std::min<std::ptrdiff_t>(std::ssize(fraction), 3),
                       [](char c) { return c < '0' || c > '9'; });
}

// True for well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
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
    if (!a || !b) return !a && !b;
    if (std::isnan(*a) || std::isnan(*b)) return std::isnan(*a) && std::isnan(*b);
    return std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(*b);
}

inline bool same_input(const fhr_core::InputData& a, const fhr_core::InputData& b) {
    return a.out_of_order_rows == b.out_of_order_rows && a.duplicate_timestamps == b.duplicate_timestamps &&
           std::equal(a.samples.begin(), a.samples.end(), b.samples.begin(), b.samples.end(),
                      [](const fhr_core::MonitorSample& x, const fhr_core::MonitorSample& y) {
                          return x.timestamp == y.timestamp && x.timestamp_ms == y.timestamp_ms &&
                                 same_value(x.hr1, y.hr1) && same_value(x.hr2, y.hr2) && same_value(x.hr3, y.hr3) &&
                                 same_value(x.hrm, y.hrm) && same_value(x.toco, y.toco);
                      });
}

// A reference reading's samples sorted stably by time, with the counts of its `arrival` order (the instants as the
// rows came): rows earlier than their predecessor, and neighbours sharing an instant.
inline void sort_and_count(fhr_core::InputData& input, const std::vector<std::int64_t>& arrival) {
    for (std::size_t i = 1; i < arrival.size(); ++i) input.out_of_order_rows += arrival[i] < arrival[i - 1] ? 1 : 0;
    auto& samples = input.samples;
    std::stable_sort(samples.begin(), samples.end(), [](const auto& a, const auto& b) { return a.timestamp_ms < b.timestamp_ms; });
    for (std::size_t i = 1; i < samples.size(); ++i) input.duplicate_timestamps += samples[i].timestamp_ms == samples[i - 1].timestamp_ms ? 1 : 0;
}

// What every reader promises of a recording it returns: samples sorted by time, each timestamp text parsing back to
// its instant, and duplicates counted over neighbours. `arrival` holds the instants in input order, from which the
// out-of-order count is recounted.
inline void check_recording(const fhr_core::InputData& input, const std::vector<std::int64_t>& arrival) {
    const auto& samples = input.samples;
    require(samples.size() == arrival.size());
    std::size_t out_of_order = 0, duplicates = 0;
    for (std::size_t i = 1; i < arrival.size(); ++i) out_of_order += arrival[i] < arrival[i - 1] ? 1 : 0;
    require(out_of_order == input.out_of_order_rows);
    // Sorting keeps every instant: the sorted instants are the arrival ones.
    std::vector<std::int64_t> sorted = arrival;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto reparsed = fhr_core::time::parse_monitor_timestamp(samples[i].timestamp);
        require(reparsed.ok() && *reparsed == samples[i].timestamp_ms && sorted[i] == samples[i].timestamp_ms);
        if (i > 0) {
            require(samples[i - 1].timestamp_ms <= samples[i].timestamp_ms);
            duplicates += samples[i - 1].timestamp_ms == samples[i].timestamp_ms ? 1 : 0;
        }
    }
    require(duplicates == input.duplicate_timestamps);
}

// The row or sample number N of a message "<head>N<tail>", when present.
inline std::optional<std::size_t> number_after(std::string_view message, std::string_view head, std::string_view tail) {
    if (!starts_with(message, head)) return std::nullopt;
    std::size_t i = head.size(), value = 0;
    while (i < message.size() && message[i] >= '0' && message[i] <= '9' && i - head.size() < 19) {
        value = value * 10 + static_cast<std::size_t>(message[i++] - '0');
    }
    if (i == head.size() || !starts_with(message.substr(i), tail)) return std::nullopt;
    return value;
}

}  // namespace fuzz
