// Test support: per-second series built from short profiles, the monitor rows that name their seconds, measurements
// for the judging tests, and the case tables of tests/data/cpp.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fhr_core/analysis/baseline.hpp"
#include "fhr_core/analysis/features.hpp"
#include "fhr_core/analysis/measure.hpp"
#include "fhr_core/analysis/series.hpp"
#include "fhr_core/analysis/variability.hpp"

namespace fhr_core::analysis::testing_support {

// 2024-03-10 10:00:00 UTC in milliseconds since the epoch.
inline constexpr std::int64_t kBaseMs = 1'710'064'800'000;

// Monitor text of the second `offset` seconds after 2024-03-10 10:00:00.
inline std::string clock_text(std::int64_t offset) {
    const std::int64_t t = 10 * 3600 + offset;
    char text[32];
    std::snprintf(text, sizeof text, "2024-03-10 %02d:%02d:%02d", int(t / 3600), int(t / 60 % 60), int(t % 60));
    return text;
}

inline double num(std::string_view text) {
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size()) throw std::invalid_argument(std::string(text));
    return v;
}
inline std::int64_t integer(std::string_view text) {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size()) throw std::invalid_argument(std::string(text));
    return v;
}
// "-" is absent.
inline std::optional<double> opt(std::string_view text) {
    return text == "-" ? std::nullopt : std::optional(num(text));
}

// The words of `text` split at `sep` (blanks around each word dropped).
inline std::vector<std::string> words(const std::string& text, char sep = ' ') {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; std::getline(in, w, sep);) {
        const auto b = w.find_first_not_of(" \t"), e = w.find_last_not_of(" \t");
        if (b != std::string::npos) out.push_back(w.substr(b, e - b + 1));
        else if (sep != ' ') out.emplace_back();
    }
    return out;
}

// Undoes the escapes \\, \t and \xHH of a table field.
inline std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) out += text[i];
        else if (text[++i] == 't') out += '\t';
        else if (text[i] == 'x') out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)), i += 2;
        else out += text[i];
    }
    return out;
}

// Rows of tests/data/cpp/<name>: '|'-separated fields; '#' lines and blank lines are comments.
inline std::vector<std::vector<std::string>> table(const std::string& name) {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/tests/data/cpp/" + name);
    if (!in) throw std::runtime_error("cannot open " + name);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        rows.push_back(words(line + ' ', '|'));  // a last empty field counts
        if (rows.back().size() != rows.front().size()) throw std::runtime_error(name + ": fields differ: " + line);
    }
    if (rows.empty()) throw std::runtime_error(name + " holds no rows");
    return rows;
}

// A profile of seconds: "160*10 -*3 140/143*60" is ten seconds at 160, three absent, then sixty alternating 140 and
// 143.
inline std::vector<std::optional<double>> profile(const std::string& text) {
    std::vector<std::optional<double>> out;
    for (const std::string& w : words(text)) {
        const auto star = w.find('*'), slash = w.find('/');
        const auto count = static_cast<int>(num(w.substr(star + 1)));
        const auto low = opt(w.substr(0, std::min(star, slash)));
        const auto high = slash < star ? opt(w.substr(slash + 1, star - slash - 1)) : low;
        for (int i = 0; i < count; ++i) out.push_back(i % 2 == 0 ? low : high);
    }
    return out;
}

// Seconds from `start_ms` with the given fetal values, named by no rows.
inline Series seconds(const std::vector<std::optional<double>>& fetal, std::int64_t start_ms = 0) {
    Series series(fetal.size());
    for (std::size_t i = 0; i < fetal.size(); ++i) {
        series[i].timestamp_ms = start_ms + static_cast<std::int64_t>(i) * 1000;
        series[i].fetal_bpm = fetal[i];
    }
    return series;
}

// The series and the rows that name its seconds (a deque keeps their places), one a second from kBaseMs on.
struct NamedSeries {
    std::deque<MonitorSample> rows;
    Series series;

    NamedSeries() = default;
    // A fetal profile, or a TOCO profile under a steady fetal 140.
    explicit NamedSeries(const std::string& text, bool toco = false) {
        for (const auto& v : profile(text)) toco ? add(140.0, v) : add(v);
    }
    void add(std::optional<double> fetal, std::optional<double> toco = std::nullopt) {
        const auto offset = static_cast<std::int64_t>(series.size());
        MonitorSample& row = rows.emplace_back();
        row.timestamp = clock_text(offset);
        row.timestamp_ms = kBaseMs + offset * 1000;
        series.push_back(SecondSample{fetal, std::nullopt, toco, &row, row.timestamp_ms});
    }
    Span whole() const { return Span{series.front().timestamp_ms, series.back().timestamp_ms}; }
};

// The names of the findings and report values, as the tables write them.
template <class E>
std::string_view name_in(std::initializer_list<std::string_view> names, E value) {
    return static_cast<std::size_t>(value) < names.size() ? names.begin()[static_cast<std::size_t>(value)] : "";
}
inline std::string_view name_of(Reason f) {
    return name_in({"sinusoidal", "no_baseline", "no_variability", "absent_variability_with_bradycardia_or_recurrence",
                    "reassuring_trace", "bradycardia", "tachycardia", "absent_variability", "minimal_variability",
                    "marked_variability", "variable_deceleration", "late_deceleration", "prolonged_deceleration",
                    "gradual_deceleration", "tachysystole"}, f);
}
inline std::string_view name_of(HighRisk f) {
    return name_in({"sinusoidal", "absent_variability", "marked_variability", "persistent_minimal_variability",
                    "change_to_tachycardia", "recurrent_late", "recurrent_variable", "gradual_with_low_variability",
                    "severe_variable", "deep_nadir", "deceleration_burden", "multiple_prolonged", "maternal_capture",
                    "tachysystole_with_category_ii", "tachysystole"}, f);
}
inline std::string_view name_of(Protective f) {
    return name_in({"moderate_variability", "accelerations"}, f);
}
inline std::string_view name_of(Limitation f) {
    return name_in({"under_10_minutes", "under_20_minutes", "few_contractions", "under_30_minutes", "sparse_toco",
                    "tachysystole_needs_30_minutes", "no_baseline"}, f);
}
inline std::string_view name_of(Cat3Blocker f) {
    return name_in({"near_absent_variability", "under_20_minutes", "few_contractions", "sparse_toco", "late_not_confirmed",
                    "variable_not_confirmed"}, f);
}
inline std::string_view name_of(Suppression f) {
    return name_in({"recurrent_variable_with_moderate", "recurrent_variable", "variable_without_context", "limited_late",
                    "demoted_to_warning", "isolated_marked", "limited_burden", "protected_variable"}, f);
}
template <class E>
std::string_view name_of(E value) requires requires { to_text(value); } { return to_text(value); }

template <class E>
E from_name(std::string_view name) {
    for (int i = 0; i < 16; ++i) {
        if (name_of(static_cast<E>(i)) == name) return static_cast<E>(i);
    }
    throw std::invalid_argument("unknown name " + std::string(name));
}
template <class E>
FindingSet<E> set_of(const std::string& names) {
    FindingSet<E> set;
    for (const std::string& name : words(names, ',')) {
        if (!name.empty()) set.add(from_name<E>(name));
    }
    return set;
}

}  // namespace fhr_core::analysis::testing_support


namespace judging_test {

using namespace fhr_core;
using namespace fhr_core::analysis;

inline constexpr std::int64_t kStartMs = 1'704'067'200'000;
constexpr std::int64_t m(std::int64_t minutes) { return minutes * 60'000; }
constexpr std::int64_t s(std::int64_t seconds) { return seconds * 1'000; }

inline DecelerationKind kind_of(std::string_view name) {
    return name == "gradual" ? DecelerationKind::gradual_unclassified : testing_support::from_name<DecelerationKind>(name);
}

// Measurements described by words, times in seconds from the window start (at kStartMs): "len=<seconds>" (first; 30
// minutes if absent), "bl=<bpm>", "var=<bpm>", "sin", "acc=<count>", "ts=1" or "ts=0", "toco=<ratio>" and
// "cap=<ratio>" (usable TOCO and maternal capture ratios; fetal and TOCO 1 otherwise), "cs=<count>" (one-minute
// contractions three minutes apart from the start), "c=<from>-<to>" (a contraction; '?' an unknown instant),
// "<kind>=<from>-<to>[:<nadir>:<depth>][~]" (a deceleration, nadir 100 and depth 20 unless given; '~': its texts name
// no instants), "<kind>@<seconds>:<nadir>:<depth>" (one of that duration at the start), and "four" (contractions at
// minutes 2, 8, 14, 20), "three" (2, 8, 20), "rec=<kind>" (four, two of them under a <kind> deceleration),
// "rec3=<kind>" (three, two under 25-second ones, baseline 140, variability 10). The features follow from the events,
// as the measuring stage has them.
inline Measurements measured_window(std::string text) {
    using testing_support::num;
    const auto ms_of = [](std::string_view seconds) { return std::llround(num(seconds) * 1000); };
    Measurements w;
    const bool sized = text.rfind("len=", 0) == 0;
    w.spans = window_spans(kStartMs, kStartMs + (sized ? ms_of(text.substr(4, text.find(' ') - 4)) : m(30)));
    w.window.data_quality.toco_usable_ratio = w.window.data_quality.fetal_usable_ratio = 1.0;
    const auto contraction = [&w](std::optional<std::int64_t> from, std::optional<std::int64_t> to) {
        const auto at = [](std::optional<std::int64_t> ms) { return ms ? std::optional(kStartMs + *ms) : std::nullopt; };
        w.contractions.push_back(Contraction{{}, {at(from), at(from), at(to)}});
    };
    const auto decel = [&w](DecelerationKind kind, std::int64_t from, std::int64_t to, double nadir = 100.0, double depth = 20.0) {
        w.decelerations.push_back({{"", "", static_cast<double>(to - from) / 1000.0, nadir, depth, 0.0, kind},
                                   DecelerationInstants{kStartMs + from, kStartMs + from, kStartMs + to}});
    };
    const auto baseline = [&w](std::int32_t bpm) { w.current.baseline_bpm = bpm, w.current.baseline_class = classify_baseline(bpm); };
    const auto variability = [&w](double bpm) { w.current.variability_bpm = bpm, w.current.variability_class = classify_variability(bpm); };
    for (const std::string& t : testing_support::words(text)) {
        const auto eq = t.find_first_of("=@");
        const std::string key = t.substr(0, eq), value = eq == std::string::npos ? "" : t.substr(eq + 1);
        const auto minutes = [&](std::initializer_list<int> at) { for (const int a : at) contraction(m(a), m(a + 1)); };
        if (key == "bl") baseline(static_cast<std::int32_t>(num(value)));
        else if (key == "var") variability(num(value));
        else if (key == "sin") w.sinusoidal_pattern = true;
        else if (key == "acc") w.accelerations.resize(static_cast<std::size_t>(num(value)));
        else if (key == "ts") w.tachysystole = value == "1";
        else if (key == "toco") w.window.data_quality.toco_usable_ratio = num(value);
        else if (key == "cap") w.window.data_quality.suspected_maternal_capture_ratio = num(value);
        else if (key == "cs") for (std::int64_t i = 0; i < num(value); ++i) contraction(i * m(3), i * m(3) + m(1));
        else if (key == "four" || key == "rec") minutes({2, 8, 14, 20});
        else if (key == "three" || key == "rec3") minutes({2, 8, 20});
        else if (key == "c") {
            const auto at = [&](const std::string& v) { return v == "?" ? std::nullopt : std::optional(ms_of(v)); };
            contraction(at(value.substr(0, value.find('-', 1))), at(value.substr(value.find('-', 1) + 1)));
        } else if (t[eq] == '@') {
            const auto f = testing_support::words(value, ':');
            decel(kind_of(key), 0, 0, num(f[1]), num(f[2]));
            w.decelerations.back().event.duration_seconds = num(f[0]);
        } else if (key != "len") {
            const bool unplaced = value.back() == '~';
            const auto f = testing_support::words(value.substr(0, value.size() - (unplaced ? 1 : 0)), ':');
            const auto dash = f[0].find('-', 1);
            decel(kind_of(key), ms_of(f[0].substr(0, dash)), ms_of(f[0].substr(dash + 1)),
                  f.size() > 1 ? num(f[1]) : 100.0, f.size() > 2 ? num(f[2]) : 20.0);
            if (unplaced) w.decelerations.back().at.reset();
        }
        if (key == "rec") decel(kind_of(value), s(140), s(210)), decel(kind_of(value), s(500), s(570));
        if (key == "rec3") {
            decel(kind_of(value), s(140), s(165)), decel(kind_of(value), s(500), s(525));
            baseline(140), variability(10);
        }
    }
    WindowSorts sorts;
    w.features = compute_features(Series{}, sorts, w.current.baseline_bpm, w.accelerations.size(), w.decelerations,
                                  w.contractions.size(), 0.0);
    return w;
}

}  // namespace judging_test
