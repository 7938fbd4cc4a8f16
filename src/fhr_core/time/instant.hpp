// Instants, and the one rule for computing with them.
//
// An instant is a signed 64-bit count of milliseconds since
// 1970-01-01T00:00:00Z; a length of time is an unsigned 64-bit count of
// milliseconds. A recording may lie anywhere in the instant range, so
// arithmetic near its ends must neither wrap nor need a wider type. All of it
// goes through the functions below, which follow one policy:
//
//  * The length between two instants is exact: any two instants lie less than
//    2^64 ms apart.
//  * An instant moved by a length saturates: it is pinned to the first or last
//    instant. Nothing lies beyond the range, so a pinned bound decides every
//    comparison with an instant exactly as the true bound would, and the
//    series second closest to it is the same. This is how window segments,
//    look-back spans, event ends and the spans that link decelerations to
//    contractions are formed.
//  * Where the result must itself be an instant, because something is placed
//    at it (the nadir of a deceleration, a time read from a date), the step is
//    checked instead: outside the range there is no instant, and none is
//    returned.
//
// Why saturation rather than unsigned offsets from a window's start: every
// consumer compares instants of the series with bounds, and a pinned bound
// keeps those comparisons plain signed ones, with no second representation to
// convert to and from; the exact lengths cover the one thing saturation
// cannot, the distance between instants far apart.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "fhr_core/time/units.hpp"

namespace fhr_core::time {

inline constexpr std::int64_t kFirstInstant = std::numeric_limits<std::int64_t>::min();
inline constexpr std::int64_t kLastInstant = std::numeric_limits<std::int64_t>::max();

// A closed span of instants, both ends included.
struct Span {
    std::int64_t from_ms = 0;
    std::int64_t to_ms = 0;
    constexpr bool contains(std::int64_t ms) const { return from_ms <= ms && ms <= to_ms; }
};

// The length from `from` to `to`; 0 when `to` precedes `from`.
constexpr std::uint64_t length_between(std::int64_t from, std::int64_t to) {
    return to > from ? static_cast<std::uint64_t>(to) - static_cast<std::uint64_t>(from) : 0;
}

// The length between two instants in either order.
constexpr std::uint64_t distance(std::int64_t a, std::int64_t b) {
    return a < b ? length_between(a, b) : length_between(b, a);
}

// `t` moved forward by `length`, pinned to the last instant.
constexpr std::int64_t later(std::int64_t t, std::uint64_t length) {
    const std::uint64_t room = length_between(t, kLastInstant);
    return length > room ? kLastInstant : static_cast<std::int64_t>(static_cast<std::uint64_t>(t) + length);
}

// `t` moved back by `length`, pinned to the first instant.
constexpr std::int64_t earlier(std::int64_t t, std::uint64_t length) {
    const std::uint64_t room = length_between(kFirstInstant, t);
    return length > room ? kFirstInstant : static_cast<std::int64_t>(static_cast<std::uint64_t>(t) - length);
}

// The instant halfway from `a` to a later `b`, rounded toward `a`.
constexpr std::int64_t midpoint(std::int64_t a, std::int64_t b) { return later(a, length_between(a, b) / 2); }

// `t` moved forward by `length` where the result must be an instant: none
// past the last one.
constexpr std::optional<std::int64_t> checked_later(std::int64_t t, std::uint64_t length) {
    if (length > length_between(t, kLastInstant)) return std::nullopt;
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(t) + length);
}

// `seconds` whole seconds plus `millis` (0 to 999) milliseconds as an
// instant; none outside the range.
constexpr std::optional<std::int64_t> instant_from_seconds(std::int64_t seconds, std::int64_t millis) {
    // Below zero the product is formed one second higher and the remainder
    // taken away, so that a product past the first instant means the instant
    // is past it too (the first instant is not a whole second).
    const bool negative = seconds < 0;
    std::int64_t whole = 0;
    std::int64_t instant = 0;
    if (__builtin_mul_overflow(negative ? seconds + 1 : seconds, kMillisPerSecond, &whole) ||
        __builtin_add_overflow(whole, negative ? millis - kMillisPerSecond : millis, &instant)) {
        return std::nullopt;
    }
    return instant;
}

}  // namespace fhr_core::time
