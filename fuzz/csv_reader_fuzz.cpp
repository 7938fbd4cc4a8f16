// Fuzzes the monitor CSV reader against a plain, slow re-reading of the same text written here from the format's
// rules (split everything, trim, look up), so that the reader's fast paths (direct line scanning, cells cut at the
// last recognised column, the common timestamp layout, short decimals) must agree with the obvious reading on every
// input.
//
// Invariants beyond "no crash":
//  * the reader is deterministic;
//  * a failure is one of its documented message shapes: the empty text, the missing Date column, "row N is missing
//    Date" or "row N has invalid Date: " followed by one of the timestamp parser's messages;
//  * a recording comes back sorted by time, with out_of_order_rows and duplicate_timestamps matching a recount and
//    every timestamp text parsing back to its instant;
//  * the answer (message, or every sample and count) equals the re-reading.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/csv_input/csv_reader.hpp"
#include "invariants.hpp"

namespace {

using fhr_core::InputData;
using fhr_core::MonitorSample;
using fhr_core::trim_white_space;
using fuzz::require;

constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t begin = 0, at = 0; at != std::string_view::npos; begin = at + 1) {
        at = text.find(separator, begin);
        pieces.push_back(text.substr(begin, at == std::string_view::npos ? at : at - begin));
    }
    return pieces;
}

bool same_ignoring_ascii_case(std::string_view a, std::string_view b) {
    const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return up(x) == up(y); });
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value-cell grammar, then the C library's correctly rounded conversion (this process never changes its locale,
// so strtod reads a decimal point).
std::optional<double> reference_number(std::string_view cell) {
    const std::string_view body = cell.substr(!cell.empty() && (cell[0] == '+' || cell[0] == '-') ? 1 : 0);
    std::size_t j = 0, digits = 0;
    const auto run_of_digits = [&] {
        const std::size_t from = j;
        while (j < body.size() && is_digit(body[j])) ++j;
        return j - from;
    };
    digits = run_of_digits();
    if (j < body.size() && body[j] == '.') ++j, digits += run_of_digits();
    if (digits > 0 && j < body.size() && (body[j] == 'e' || body[j] == 'E')) {
        if (++j < body.size() && (body[j] == '+' || body[j] == '-')) ++j;
        if (run_of_digits() == 0) return std::nullopt;
    }
    const bool word = same_ignoring_ascii_case(body, "inf") || same_ignoring_ascii_case(body, "infinity") ||
                      same_ignoring_ascii_case(body, "nan");
    if (!word && (digits == 0 || j != body.size())) return std::nullopt;
    return std::strtod(std::string(cell).c_str(), nullptr);
}

struct Reference {
    std::optional<std::string> error;
    InputData input;
    std::vector<std::int64_t> arrival;
};

Reference reference_read(std::string_view text) {
    Reference out;
    const auto fail = [&out](std::string message) { return out.error = std::move(message), out; };
    if (text.empty()) return fail("CSV is empty; expected a header row");
    std::vector<std::string_view> lines = split(text, '\n');
    // A final line feed starts no further line; a CR before a LF belongs to the line ending, while one at the very
    // end of the text is kept.
    if (text.back() == '\n') lines.pop_back();
    for (std::size_t i = 0; i + (text.back() == '\n' ? 0 : 1) < lines.size(); ++i) {
        if (!lines[i].empty() && lines[i].back() == '\r') lines[i].remove_suffix(1);
    }
    const std::vector<std::string_view> header = split(lines[0], ',');
    const auto position = [&](std::string_view name) {
        const auto it = std::find_if(header.begin(), header.end(),
                                     [&](std::string_view cell) { return same_ignoring_ascii_case(trim_white_space(cell), name); });
        return it == header.end() ? kAbsent : static_cast<std::size_t>(it - header.begin());
    };
    const std::size_t date = position("Date");
    if (date == kAbsent) return fail("CSV is missing required Date column");
    const std::size_t columns[5] = {position("HR1"), position("HR2"), position("HR3"), position("HRM"), position("TOCO")};
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (trim_white_space(lines[i]).empty()) continue;
        const std::string row = "row " + std::to_string(i + 1);
        const std::vector<std::string_view> cells = split(lines[i], ',');
        if (cells.size() <= date) return fail(row + " is missing Date");
        const std::string_view stamp = trim_white_space(cells[date]);
        const auto instant = fhr_core::time::parse_monitor_timestamp(stamp);
        if (!instant) return fail(row + " has invalid Date: " + instant.error());
        MonitorSample& sample = out.input.samples.emplace_back();
        sample.timestamp = std::string(stamp);
        sample.timestamp_ms = *instant;
        fhr_core::OptionalValue* fields[5] = {&sample.hr1, &sample.hr2, &sample.hr3, &sample.hrm, &sample.toco};
        for (std::size_t c = 0; c < 5; ++c) {
            const std::string_view cell = columns[c] < cells.size() ? trim_white_space(cells[columns[c]]) : "";
            if (!cell.empty()) *fields[c] = reference_number(cell);
        }
        out.arrival.push_back(sample.timestamp_ms);
    }
    fuzz::sort_and_count(out.input, out.arrival);
    return out;
}

void check_message_shape(std::string_view message, std::string_view text) {
    if (message == "CSV is empty; expected a header row" || message == "CSV is missing required Date column") {
        require(text.empty() == (message == "CSV is empty; expected a header row"));
        return;
    }
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (const auto row = fuzz::number_after(message, "row ", " is missing Date")) {
        require(*row >= 2 && *row <= lines && message == "row " + std::to_string(*row) + " is missing Date");
        return;
    }
    const auto row = fuzz::number_after(message, "row ", " has invalid Date: ");
    require(row.has_value() && *row >= 2 && *row <= lines);
    const std::string head = "row " + std::to_string(*row) + " has invalid Date: ";
    // The parser quotes the trimmed Date cell (or a piece of it), which lies within the text; the comparison with the
    // re-reading checks it exactly.
    require(fuzz::starts_with(message, head) && fuzz::is_timestamp_message(message.substr(head.size())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto result = fhr_core::csv_input::read_monitor_csv_str(text);
    const auto again = fhr_core::csv_input::read_monitor_csv_str(text);
    const Reference reference = reference_read(text);

    require(result.ok() == again.ok() && result.ok() == !reference.error.has_value());
    if (!result.ok()) {
        check_message_shape(result.error(), text);
        require(again.error() == result.error() && result.error() == *reference.error);
        return 0;
    }
    fuzz::check_recording(*result, reference.arrival);
    require(fuzz::same_input(*result, *again) && fuzz::same_input(*result, reference.input));
    return 0;
}
