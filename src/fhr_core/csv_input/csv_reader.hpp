// The monitor CSV export reader.
#pragma once

#include <string_view>

#include "fhr_core/model/input.hpp"
#include "fhr_core/model/result.hpp"

namespace fhr_core::csv_input {

// Reads the whole export in one pass into a time-sorted recording, or fails
// with the message of the first row that cannot be read.
Result<InputData> read_monitor_csv_str(std::string_view text);

}  // namespace fhr_core::csv_input
