// The number grammar of CSV value cells.
#pragma once

#include <string_view>

#include "fhr_core/model/compact.hpp"

namespace fhr_core::csv_input {

// A decimal number ("5", "5.", ".5", "-1.5e3") or inf/infinity/nan in any
// letter case, with an optional sign; correctly rounded. The cell is already
// trimmed. Anything else (hexadecimal, blanks, a lone point) is not a number
// (absent). The eight-byte result comes back in a register.
OptionalValue parse_value_cell(std::string_view cell);

}  // namespace fhr_core::csv_input
