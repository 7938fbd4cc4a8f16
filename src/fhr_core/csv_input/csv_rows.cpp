#include "fhr_core/csv_input/csv_rows.hpp"

#include <tuple>

#include "fhr_core/csv_input/number.hpp"
#include "fhr_core/model/text.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fhr_core::csv_input {
namespace {

// The value columns, in the order of MonitorSample's fields.
constexpr std::array<std::string_view, std::tuple_size_v<decltype(Columns::values)>> kValueColumns = {"HR1", "HR2", "HR3", "HRM", "TOCO"};

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// Splits `line` at commas into `cells`, keeping at most `limit` cells: the
// cells past the last recognised column are never looked at.
void split_cells(std::string_view line, std::size_t limit, std::vector<std::string_view>& cells) {
    cells.clear();
    const char* begin = line.data();
    const char* const end = line.data() + line.size();
    while (cells.size() < limit) {
        const char* p = begin;
        while (p != end && *p != ',') ++p;
        cells.emplace_back(begin, static_cast<std::size_t>(p - begin));
        if (p == end) return;
        begin = p + 1;
    }
}

}  // namespace

bool is_blank(std::string_view line) {
    if (line.empty()) return true;
    const char first = line.front();
    if (first > ' ' && first < 0x7F) return false;
    return trim_white_space(line).empty();
}

Columns find_columns(std::string_view header) {
    Columns columns;
    std::size_t index = 0;
    std::size_t begin = 0;
    while (true) {
        const std::size_t comma = header.find(',', begin);
        const std::string_view cell = trim_white_space(
            header.substr(begin, comma == std::string_view::npos ? std::string_view::npos : comma - begin));
        if (columns.date == kNoColumn && equals_ignoring_ascii_case(cell, "Date")) columns.date = index;
        for (std::size_t v = 0; v < kValueColumns.size(); ++v) {
            if (columns.values[v] == kNoColumn && equals_ignoring_ascii_case(cell, kValueColumns[v])) {
                columns.values[v] = index;
            }
        }
        if (comma == std::string_view::npos) break;
        begin = comma + 1;
        ++index;
    }
    columns.cells_needed = columns.date + 1;
    for (std::size_t position : columns.values) {
        if (position != kNoColumn && position + 1 > columns.cells_needed) columns.cells_needed = position + 1;
    }
    return columns;
}

namespace {

std::optional<double> read_value(const std::vector<std::string_view>& cells, std::size_t position) {
    if (position == kNoColumn || position >= cells.size()) return std::nullopt;
    const std::string_view cell = trim_white_space(cells[position]);
    if (cell.empty()) return std::nullopt;
    return parse_value_cell(cell);
}

}  // namespace

std::optional<std::string> read_row(std::string_view line, std::size_t row, const Columns& columns,
                                    std::vector<std::string_view>& cells, MonitorSample& sample) {
    split_cells(line, columns.cells_needed, cells);
    if (cells.size() <= columns.date) return "row " + std::to_string(row) + " is missing Date";
    const std::string_view date = trim_white_space(cells[columns.date]);
    auto instant = time::parse_monitor_timestamp(date);
    if (!instant) return "row " + std::to_string(row) + " has invalid Date: " + std::move(instant).error();
    sample.timestamp.assign(date);
    sample.timestamp_ms = *instant;
    sample.hr1 = read_value(cells, columns.values[0]);
    sample.hr2 = read_value(cells, columns.values[1]);
    sample.hr3 = read_value(cells, columns.values[2]);
    sample.hrm = read_value(cells, columns.values[3]);
    sample.toco = read_value(cells, columns.values[4]);
    return std::nullopt;
}

}  // namespace fhr_core::csv_input
