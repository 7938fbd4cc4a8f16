// Text helpers shared by the readers: Unicode white-space trimming.
#pragma once

#include <string_view>

namespace fhr_core {

// Removes leading and trailing Unicode White_Space characters (UTF-8 encoded).
std::string_view trim_white_space(std::string_view text);

}  // namespace fhr_core
