#include "fhr_core/csv_input/csv_reader.hpp"

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "fhr_core/csv_input/number.hpp"
#include "fhr_core/model/text.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fhr_core::csv_input {
namespace {

constexpr std::size_t kNoColumn = static_cast<std::size_t>(-1);

// Walks the text line by line: a line ends at a line feed, and a carriage
// return right before it belongs to the ending. A final line feed starts no
// further line.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const void* hit = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
        const std::size_t end =
            hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : text_.size();
        line = text_.substr(pos_, end - pos_);
        if (hit && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = hit ? end + 1 : text_.size();
        ++number_;
        return true;
    }

    std::size_t number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

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

bool is_blank(std::string_view line) {
    if (line.empty()) return true;
    const char first = line.front();
    if (first > ' ' && first < 0x7F) return false;
    return trim_white_space(line).empty();
}

// The number of non-blank lines after the header: the samples are reserved
// once, so the vector never grows by copying.
std::size_t count_data_lines(std::string_view text) {
    LineCursor lines(text);
    std::string_view line;
    lines.next(line);
    std::size_t count = 0;
    while (lines.next(line)) count += is_blank(line) ? 0 : 1;
    return count;
}

// The value columns, in the order of MonitorSample's fields.
constexpr std::array<std::string_view, 5> kValueColumns = {"HR1", "HR2", "HR3", "HRM", "TOCO"};

struct Columns {
    std::size_t date = kNoColumn;
    std::array<std::size_t, kValueColumns.size()> values{kNoColumn, kNoColumn, kNoColumn, kNoColumn,
                                                         kNoColumn};
    std::size_t cells_needed = 0;  // one past the rightmost recognised column
};

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

std::optional<double> read_value(const std::vector<std::string_view>& cells, std::size_t position) {
    if (position == kNoColumn || position >= cells.size()) return std::nullopt;
    const std::string_view cell = trim_white_space(cells[position]);
    if (cell.empty()) return std::nullopt;
    return parse_value_cell(cell);
}

}  // namespace

Result<InputData> read_monitor_csv_str(std::string_view text) {
    LineCursor lines(text);
    std::string_view line;
    if (!lines.next(line)) return Failure{"CSV is empty; expected a header row"};

    const Columns columns = find_columns(line);
    if (columns.date == kNoColumn) return Failure{"CSV is missing required Date column"};

    InputData input;
    input.samples.reserve(count_data_lines(text));
    std::vector<std::string_view> cells;
    cells.reserve(columns.cells_needed);
    while (lines.next(line)) {
        if (is_blank(line)) continue;
        split_cells(line, columns.cells_needed, cells);
        const std::size_t row = lines.number();
        if (cells.size() <= columns.date) {
            return Failure{"row " + std::to_string(row) + " is missing Date"};
        }
        const std::string_view date = trim_white_space(cells[columns.date]);
        auto instant = time::parse_monitor_timestamp(date);
        if (!instant) {
            return Failure{"row " + std::to_string(row) + " has invalid Date: " + std::move(instant).error()};
        }
        MonitorSample& sample = input.samples.emplace_back();
        sample.timestamp.assign(date);
        sample.timestamp_ms = *instant;
        sample.hr1 = read_value(cells, columns.values[0]);
        sample.hr2 = read_value(cells, columns.values[1]);
        sample.hr3 = read_value(cells, columns.values[2]);
        sample.hrm = read_value(cells, columns.values[3]);
        sample.toco = read_value(cells, columns.values[4]);
    }
    finish_input(input);
    return input;
}

}  // namespace fhr_core::csv_input
