// The monitor CSV export read as it arrives, in pieces split anywhere: the
// same rows, row numbers and messages as the whole-text reader.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fhr_core/csv_input/csv_rows.hpp"
#include "fhr_core/model/input.hpp"
#include "fhr_core/model/result.hpp"

namespace fhr_core::csv_input {

class CsvStream {
public:
    // Appends the next piece of the export.
    void append(std::string_view piece);

    // The next complete line that yields a row: its sample, or the message of
    // a header without Date or of a row that cannot be read (that line is
    // dropped and reading goes on after it; a dropped header makes the next
    // line the header). Nothing while no further complete line has arrived.
    std::optional<Result<MonitorSample>> next();

private:
    std::string text_;      // received, not yet read
    std::size_t read_ = 0;  // bytes of text_ already read
    std::size_t line_number_ = 0;
    std::optional<Columns> columns_;
    time::TimestampSequence timestamps_;
};

}  // namespace fhr_core::csv_input
