#include "fhr_core/model/text.hpp"

#include <cstddef>
#include <cstdint>

namespace fhr_core {
namespace {

// Unicode White_Space code points.
bool is_white_space(std::uint32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

// Length in bytes of the white-space character starting at `pos`, or 0.
std::size_t white_space_at(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) return is_white_space(b0) ? 1 : 0;
    const std::size_t left = text.size() - pos;
    if ((b0 & 0xE0) == 0xC0 && left >= 2) {
        const std::uint32_t cp = ((b0 & 0x1Fu) << 6) | (byte(pos + 1) & 0x3Fu);
        return (byte(pos + 1) & 0xC0) == 0x80 && is_white_space(cp) ? 2 : 0;
    }
    if ((b0 & 0xF0) == 0xE0 && left >= 3) {
        if ((byte(pos + 1) & 0xC0) != 0x80 || (byte(pos + 2) & 0xC0) != 0x80) return 0;
        const std::uint32_t cp =
            ((b0 & 0x0Fu) << 12) | ((byte(pos + 1) & 0x3Fu) << 6) | (byte(pos + 2) & 0x3Fu);
        return is_white_space(cp) ? 3 : 0;
    }
    return 0;
}

// Length in bytes of the white-space character ending just before `end`, or 0.
std::size_t white_space_before(std::string_view text, std::size_t end) {
    for (std::size_t len = 1; len <= 3 && len <= end; ++len) {
        const std::size_t start = end - len;
        const auto b = static_cast<unsigned char>(text[start]);
        if ((b & 0xC0) == 0x80) continue;  // continuation byte: look further back
        return white_space_at(text, start) == len ? len : 0;
    }
    return 0;
}

}  // namespace

namespace detail {

std::string_view trim_white_space_edges(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t len = white_space_at(text, begin);
        if (len == 0) break;
        begin += len;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t len = white_space_before(text, end);
        if (len == 0 || end - len < begin) break;
        end -= len;
    }
    return text.substr(begin, end - begin);
}

}  // namespace detail

}  // namespace fhr_core
