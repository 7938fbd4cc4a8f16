#include "fhr_core/csv_input/csv_rows.hpp"

#include <bit>
#include <cstring>
#include <iterator>
#include <tuple>
#include <utility>

#include "fhr_core/csv_input/number.hpp"
#include "fhr_core/model/text.hpp"

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

// The first comma in [p, end), or end; the bytes up to `readable_end` (at or
// after `end`) may be read. Eight bytes at a time where the machine reads
// words little-endian: the lowest marked byte of the zero-byte test is exact
// (a false mark can only sit above a true one).
const char* find_comma(const char* p, const char* const end, const char* const readable_end) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ull;
        constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
        while (p < end && readable_end - p >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, sizeof word);
            const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(','));
            const std::uint64_t marks = (x - kOnes) & ~x & kHighBits;
            if (marks != 0) {
                const char* comma = p + std::countr_zero(marks) / 8;
                return comma < end ? comma : end;
            }
            p += sizeof word;
        }
        if (p >= end) return end;
    }
    while (p != end && *p != ',') ++p;
    return p;
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
    if (columns.date == kNoColumn) return columns;
    columns.cells[columns.cell_count++] = {columns.date, kDateCell};
    for (std::size_t v = 0; v < columns.values.size(); ++v) {
        if (columns.values[v] != kNoColumn) {
            columns.cells[columns.cell_count++] = {columns.values[v], static_cast<std::uint8_t>(kFirstValueCell + v)};
        }
    }
    // Left to right (positions are distinct: one name per cell).
    for (std::size_t i = 1; i < columns.cell_count; ++i) {
        for (std::size_t j = i; j > 0 && columns.cells[j - 1].position > columns.cells[j].position; --j) {
            std::swap(columns.cells[j - 1], columns.cells[j]);
        }
    }
    return columns;
}

namespace {

OptionalValue read_value(std::string_view cell) {
    cell = trim_white_space(cell);
    if (cell.empty()) return std::nullopt;
    return parse_value_cell(cell);
}

// The fields in the order of Columns::values.
constexpr OptionalValue MonitorSample::*kFields[] = {&MonitorSample::hr1, &MonitorSample::hr2, &MonitorSample::hr3,
                                                     &MonitorSample::hrm, &MonitorSample::toco};
static_assert(std::size(kFields) == std::tuple_size_v<decltype(Columns::values)>);

}  // namespace

std::optional<std::string> read_row(std::string_view line, const char* readable_end, std::size_t row,
                                    const Columns& columns, time::TimestampSequence& timestamps,
                                    MonitorSample& sample) {
    for (OptionalValue MonitorSample::*field : kFields) (sample.*field).reset();
    std::optional<std::string_view> date_cell;
    const char* begin = line.data();
    const char* const end = begin + line.size();
    std::size_t index = 0;  // of the cell that starts at `begin`
    for (std::size_t c = 0; c < columns.cell_count; ++c) {
        const Columns::Cell wanted = columns.cells[c];
        const char* comma = find_comma(begin, end, readable_end);
        for (; index < wanted.position && comma != end; ++index) {
            begin = comma + 1;
            comma = find_comma(begin, end, readable_end);
        }
        if (index < wanted.position) break;  // the line ends before this cell
        const std::string_view cell(begin, static_cast<std::size_t>(comma - begin));
        if (wanted.role == kDateCell) {
            date_cell = cell;
        } else {
            sample.*kFields[wanted.role - kFirstValueCell] = read_value(cell);
        }
        if (comma == end) break;
        begin = comma + 1;
        ++index;
    }
    if (!date_cell) return "row " + std::to_string(row) + " is missing Date";
    const std::string_view date = trim_white_space(*date_cell);
    auto instant = timestamps.parse(date);
    if (!instant) return "row " + std::to_string(row) + " has invalid Date: " + std::move(instant).error();
    sample.timestamp.assign(date);
    sample.timestamp_ms = *instant;
    return std::nullopt;
}

}  // namespace fhr_core::csv_input
