// The row rules of the monitor CSV export, shared by the whole-text reader
// and the streaming reader: the header's columns, blank lines, and one row
// read into a sample or the message naming the row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "fhr_core/model/input.hpp"
#include "fhr_core/time/timestamp.hpp"

namespace fhr_core::csv_input {

inline constexpr std::size_t kNoColumn = static_cast<std::size_t>(-1);

inline constexpr std::string_view kEmptyCsvMessage = "CSV is empty; expected a header row";
inline constexpr std::string_view kMissingDateMessage = "CSV is missing required Date column";

// Where the recognised columns stand; the value columns in the order of
// MonitorSample's fields (HR1, HR2, HR3, HRM, TOCO).
struct Columns {
    std::size_t date = kNoColumn;
    std::array<std::size_t, 5> values{kNoColumn, kNoColumn, kNoColumn, kNoColumn, kNoColumn};
    // The recognised columns from left to right: where each stands and what it
    // holds (kDateCell, or kFirstValueCell plus the index into `values`).
    struct Cell {
        std::size_t position = 0;
        std::uint8_t role = 0;
    };
    std::array<Cell, std::tuple_size_v<decltype(values)> + 1> cells{};
    std::size_t cell_count = 0;
};

inline constexpr std::uint8_t kDateCell = 0;
inline constexpr std::uint8_t kFirstValueCell = 1;

Columns find_columns(std::string_view header);

// Whether a data line is skipped: empty or all white space.
bool is_blank(std::string_view line);

// Reads the non-blank data line numbered `row` into `sample`; on failure
// returns the message and leaves `sample` partly written. `timestamps` is
// kept from row to row of one text. The line lies in a buffer whose bytes up
// to `readable_end` (at or after the line's end) may be read.
std::optional<std::string> read_row(std::string_view line, const char* readable_end, std::size_t row,
                                    const Columns& columns, time::TimestampSequence& timestamps,
                                    MonitorSample& sample);

}  // namespace fhr_core::csv_input
