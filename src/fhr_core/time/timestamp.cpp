#include "fhr_core/time/timestamp.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <string>

#include "fhr_core/model/text.hpp"
#include "fhr_core/time/instant.hpp"
#include "fhr_core/time/units.hpp"

namespace fhr_core::time {
namespace {

constexpr std::int64_t kMaxOffsetHour = 23;
constexpr std::int64_t kMaxOffsetMinute = 59;
constexpr std::uint32_t kMaxHour = 23;
constexpr std::uint32_t kMaxMinute = 59;
constexpr std::uint32_t kMaxSecond = 59;
constexpr std::uint32_t kMaxMonth = 12;
constexpr std::uint32_t kMaxDay = 31;

std::string message(std::string_view what, std::string_view text) {
    std::string out;
    out.reserve(what.size() + text.size());
    out.append(what).append(text);
    return out;
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// An optional sign ("+", or "-" where allowed) followed by one or more ASCII
// digits, converted into T; nothing when the value does not fit.
template <class T>
std::optional<T> parse_integer(std::string_view s, bool allow_minus) {
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || (allow_minus && s.front() == '-'))) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (!all_digits(s)) return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    using Limits = std::numeric_limits<T>;
    if (negative) {
        // |min| of a signed type is max + 1.
        if (magnitude > static_cast<std::uint64_t>(Limits::max()) + 1) return std::nullopt;
        return magnitude == 0 ? T{0} : static_cast<T>(-static_cast<T>(magnitude - 1) - 1);
    }
    if (magnitude > static_cast<std::uint64_t>(Limits::max())) return std::nullopt;
    return static_cast<T>(magnitude);
}

// Byte length of the UTF-8 character that starts with `lead`.
std::size_t utf8_width(unsigned char lead) {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

// The piece `index` of `s` split at every `sep`, or nothing when there are fewer pieces.
std::optional<std::string_view> piece(std::string_view s, char sep, std::size_t index) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t next = s.find(sep, begin);
        if (next == std::string_view::npos) return std::nullopt;
        begin = next + 1;
    }
    const std::size_t end = s.find(sep, begin);
    return s.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

constexpr std::size_t kLayoutLength = TimestampSequence::kWholeLength;

// The character at s[i] as its unsigned distance from '0': a non-digit is above 9.
unsigned digit_at(const char* s, std::size_t i) {
    return static_cast<unsigned>(static_cast<unsigned char>(s[i])) - unsigned{'0'};
}

// The layout nearly every monitor writes: "YYYY-MM-DD hh:mm:ss" with an
// optional "T" for the blank, an optional fraction and an optional final "Z".
// Read directly, it gives exactly what the general parser gives for such a
// text; anything else (or a component out of range, which needs the general
// parser's message) returns nothing and takes the general path. The layout is
// read in two halves: the whole seconds of the first 19 characters, and the
// milliseconds of what follows them ("" or "." and digits).
std::optional<std::int64_t> common_layout_whole_ms(const char* s) {
    const auto digit = [&](std::size_t i) { return digit_at(s, i); };
    const unsigned c0 = digit(0), c1 = digit(1), c2 = digit(2), c3 = digit(3);
    const unsigned m0 = digit(5), m1 = digit(6), d0 = digit(8), d1 = digit(9);
    const unsigned h0 = digit(11), h1 = digit(12), n0 = digit(14), n1 = digit(15);
    const unsigned s0 = digit(17), s1 = digit(18);
    const bool digits = (c0 < 10) & (c1 < 10) & (c2 < 10) & (c3 < 10) & (m0 < 10) & (m1 < 10) & (d0 < 10) &
                        (d1 < 10) & (h0 < 10) & (h1 < 10) & (n0 < 10) & (n1 < 10) & (s0 < 10) & (s1 < 10);
    const bool separators = (s[4] == '-') & (s[7] == '-') & ((s[10] == ' ') | (s[10] == 'T')) &
                            (s[13] == ':') & (s[16] == ':');
    if (!(digits & separators)) return std::nullopt;
    const unsigned month = m0 * 10 + m1;
    const unsigned day = d0 * 10 + d1;
    const unsigned hour = h0 * 10 + h1;
    const unsigned minute = n0 * 10 + n1;
    const unsigned second = s0 * 10 + s1;
    if ((month - 1 >= 12) | (day - 1 >= 31) | (hour > 23) | (minute > 59) | (second > 59)) return std::nullopt;
    const auto year = static_cast<std::int32_t>(((c0 * 10 + c1) * 10 + c2) * 10 + c3);
    const std::int64_t days = detail::days_from_civil(year, month, day);
    return (days * kSecondsPerDay + std::int64_t{hour} * kSecondsPerHour + std::int64_t{minute} * kSecondsPerMinute +
            second) *
           kMillisPerSecond;
}

std::optional<std::int64_t> common_layout_millis(std::string_view fraction) {
    if (fraction.empty()) return 0;
    if (fraction.front() != '.') return std::nullopt;
    constexpr std::size_t kMillisLength = 4;  // ".fff", the fraction nearly every monitor writes
    if (fraction.size() == kMillisLength) {
        const unsigned a = digit_at(fraction.data(), 1), b = digit_at(fraction.data(), 2), c = digit_at(fraction.data(), 3);
        if ((a < 10) & (b < 10) & (c < 10)) return std::int64_t{(a * 10 + b) * 10 + c};
        return std::nullopt;
    }
    static constexpr int kScale[] = {100, 10, 1};
    std::int64_t millis = 0;
    unsigned bad = 0;
    for (std::size_t i = 1; i < fraction.size(); ++i) {
        const unsigned d = static_cast<unsigned>(static_cast<unsigned char>(fraction[i])) - unsigned{'0'};
        bad |= d >= 10 ? 1u : 0u;
        if (i <= 3) millis += static_cast<std::int64_t>(d) * kScale[i - 1];
    }
    if (bad != 0) return std::nullopt;
    return millis;
}

// The text without one final "Z", when what remains is at least as long as the layout.
std::optional<std::string_view> common_layout_body(std::string_view s) {
    if (!s.empty() && s.back() == 'Z') s.remove_suffix(1);
    if (s.size() < kLayoutLength) return std::nullopt;
    return s;
}

std::optional<std::int64_t> parse_common_layout(std::string_view text) {
    const auto s = common_layout_body(text);
    if (!s) return std::nullopt;
    const auto whole = common_layout_whole_ms(s->data());
    if (!whole) return std::nullopt;
    const auto millis = common_layout_millis(s->substr(kLayoutLength));
    if (!millis) return std::nullopt;
    return *whole + *millis;
}

}  // namespace

namespace detail {

std::int64_t days_from_civil(std::int32_t year, std::uint32_t month, std::uint32_t day) {
    std::int64_t y = year;
    const std::int64_t m = month;
    const std::int64_t d = day;
    if (m <= 2) y -= 1;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = m > 2 ? m - 3 : m + 9;
    const std::int64_t doy = (153 * mp + 2) / 5 + d;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719469;
}

Result<std::uint32_t> parse_part(std::optional<std::string_view> piece_text, std::string_view name,
                                 std::string_view text) {
    if (!piece_text) {
        std::string out = "timestamp is missing ";
        out.append(name).append(": ").append(text);
        return Failure{std::move(out)};
    }
    if (auto value = parse_integer<std::uint32_t>(*piece_text, /*allow_minus=*/false)) return *value;
    std::string out = "invalid ";
    out.append(name).append(" in timestamp: ").append(text);
    return Failure{std::move(out)};
}

Result<std::uint32_t> parse_millis(std::string_view fraction) {
    constexpr std::size_t kDigitsRead = 3;
    static constexpr std::uint32_t kScale[] = {0, 100, 10, 1};
    const std::size_t count = fraction.size() < kDigitsRead ? fraction.size() : kDigitsRead;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = fraction[i];
        if (c < '0' || c > '9') return Failure{message("invalid millisecond digit: ", fraction)};
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value * kScale[count];
}

}  // namespace detail

using detail::days_from_civil;
using detail::parse_millis;
using detail::parse_part;

Result<std::int64_t> parse_monitor_timestamp(std::string_view text) {
    if (auto instant = parse_common_layout(text)) return *instant;

    // 1. Normalise: trim, drop trailing "Z"s, read every "T" as a blank.
    std::string_view normal = trim_white_space(text);
    while (!normal.empty() && normal.back() == 'Z') normal.remove_suffix(1);
    std::string replaced;
    if (normal.find('T') != std::string_view::npos) {
        replaced.assign(normal);
        for (char& c : replaced) {
            if (c == 'T') c = ' ';
        }
        normal = replaced;
    }

    // 2. Date and time.
    const std::size_t blank = normal.find(' ');
    if (blank == std::string_view::npos) {
        return Failure{message("timestamp is missing date/time separator: ", text)};
    }
    const std::string_view date = normal.substr(0, blank);
    std::string_view time_part = normal.substr(blank + 1);

    // 3. Offset: the first sign after the first character of the time part.
    std::int64_t offset_hour = 0;
    std::int64_t offset_minute = 0;
    bool offset_negative = false;
    if (!time_part.empty()) {
        std::size_t first = utf8_width(static_cast<unsigned char>(time_part.front()));
        if (first > time_part.size()) first = time_part.size();
        const std::size_t sign = time_part.find_first_of("+-", first);
        if (sign != std::string_view::npos) {
            const std::string_view offset = time_part.substr(sign);
            time_part = time_part.substr(0, sign);
            offset_negative = offset.front() == '-';
            const std::string_view rest = offset.substr(1);
            const std::size_t colon = rest.find(':');
            if (colon == std::string_view::npos) {
                return Failure{message("invalid timezone offset in timestamp: ", text)};
            }
            const auto hour = parse_integer<std::int64_t>(rest.substr(0, colon), true);
            if (!hour) return Failure{message("invalid timezone offset hour in timestamp: ", text)};
            const auto minute = parse_integer<std::int64_t>(rest.substr(colon + 1), true);
            if (!minute) return Failure{message("invalid timezone offset minute in timestamp: ", text)};
            if (*hour > kMaxOffsetHour || *minute > kMaxOffsetMinute) {
                return Failure{message("timezone offset out of range in timestamp: ", text)};
            }
            offset_hour = *hour;
            offset_minute = *minute;
        }
    }

    // 4. Date: year-month-day; further pieces are ignored.
    const std::optional<std::string_view> year_piece = piece(date, '-', 0);
    if (!year_piece) return Failure{message("timestamp is missing year: ", text)};
    const auto year = parse_integer<std::int32_t>(*year_piece, true);
    if (!year) return Failure{message("invalid year in timestamp: ", text)};
    auto month = parse_part(piece(date, '-', 1), "month", text);
    if (!month) return Failure{std::move(month).error()};
    auto day = parse_part(piece(date, '-', 2), "day", text);
    if (!day) return Failure{std::move(day).error()};

    // 5. Time of day.
    auto hour = parse_part(piece(time_part, ':', 0), "hour", text);
    if (!hour) return Failure{std::move(hour).error()};
    auto minute = parse_part(piece(time_part, ':', 1), "minute", text);
    if (!minute) return Failure{std::move(minute).error()};
    const std::optional<std::string_view> seconds_text = piece(time_part, ':', 2);
    if (!seconds_text) return Failure{message("timestamp is missing seconds: ", text)};

    // 6. Seconds and their fraction.
    const std::size_t point = seconds_text->find('.');
    const std::string_view whole = seconds_text->substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view("0") : seconds_text->substr(point + 1);
    const auto second = parse_integer<std::uint32_t>(whole, false);
    if (!second) return Failure{message("invalid seconds in timestamp: ", text)};
    auto millis = parse_millis(fraction);
    if (!millis) return Failure{std::move(millis).error()};

    // 7. Ranges. The day is not compared with the month's length.
    if (*month < 1 || *month > kMaxMonth || *day < 1 || *day > kMaxDay || *hour > kMaxHour ||
        *minute > kMaxMinute || *second > kMaxSecond) {
        return Failure{message("timestamp component out of range: ", text)};
    }

    // 8. The instant. The offset's hour and minute may be any 64-bit value,
    // so each step is checked: a step that leaves the 64-bit range puts the
    // instant far outside it too, as does a final value beyond its ends.
    const std::int64_t local_seconds = days_from_civil(*year, *month, *day) * kSecondsPerDay +
                                       std::int64_t{*hour} * kSecondsPerHour +
                                       std::int64_t{*minute} * kSecondsPerMinute + *second;
    std::int64_t offset_minutes = 0;
    std::int64_t offset_seconds = 0;
    std::int64_t utc_seconds = 0;
    const bool overflow =
        __builtin_mul_overflow(offset_hour, kMinutesPerHour, &offset_minutes) ||
        __builtin_add_overflow(offset_minutes, offset_minute, &offset_minutes) ||
        (offset_negative && __builtin_sub_overflow(std::int64_t{0}, offset_minutes, &offset_minutes)) ||
        __builtin_mul_overflow(offset_minutes, kSecondsPerMinute, &offset_seconds) ||
        __builtin_sub_overflow(local_seconds, offset_seconds, &utc_seconds);
    const std::optional<std::int64_t> instant =
        overflow ? std::nullopt : instant_from_seconds(utc_seconds, *millis);
    if (!instant) return Failure{message("timestamp component out of range: ", text)};
    return *instant;
}

Result<std::int64_t> TimestampSequence::parse(std::string_view text) {
    if (const auto s = common_layout_body(text)) {
        const auto millis = common_layout_millis(s->substr(kLayoutLength));
        if (millis) {
            if (known_ && std::memcmp(s->data(), minute_text_, kMinuteLength) == 0) {
                // The minute's characters were read before; its seconds alone are new.
                const unsigned s0 = digit_at(s->data(), kMinuteLength), s1 = digit_at(s->data(), kMinuteLength + 1);
                const unsigned second = s0 * 10 + s1;
                if ((s0 < 10) & (s1 < 10) & (second <= kMaxSecond)) {
                    return minute_ms_ + std::int64_t{second} * kMillisPerSecond + *millis;
                }
            }
            if (const auto whole = common_layout_whole_ms(s->data())) {
                std::memcpy(minute_text_, s->data(), kMinuteLength);
                const unsigned second = digit_at(s->data(), kMinuteLength) * 10 + digit_at(s->data(), kMinuteLength + 1);
                minute_ms_ = *whole - std::int64_t{second} * kMillisPerSecond;
                known_ = true;
                return *whole + *millis;
            }
        }
    }
    return parse_monitor_timestamp(text);
}

}  // namespace fhr_core::time
