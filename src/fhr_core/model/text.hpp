// Text helpers shared by the readers: Unicode white-space trimming.
#pragma once

#include <string_view>

namespace fhr_core {

namespace detail {

// The trimming of a text that starts or ends with a byte other than
// printable ASCII.
std::string_view trim_white_space_edges(std::string_view text);

}  // namespace detail

// Removes leading and trailing Unicode White_Space characters (UTF-8 encoded).
// Inline: nearly every cell starts and ends with printable ASCII, and then
// there is nothing to trim.
inline std::string_view trim_white_space(std::string_view text) {
    const auto plain = [](char c) { return c > ' ' && c < 0x7F; };
    if (text.empty() || (plain(text.front()) && plain(text.back()))) return text;
    return detail::trim_white_space_edges(text);
}

}  // namespace fhr_core
