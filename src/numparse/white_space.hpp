// Byte-level recognition of White_Space code points at the ends of a UTF-8 text. Kept inline:
// trimming runs on every call of the numeric functions.
#pragma once

#include <cstddef>
#include <string_view>

namespace pelm::numparse::detail {

inline bool is_ascii_white_space(unsigned char b) noexcept {
    return b == 0x20 || (b >= 0x09 && b <= 0x0D);
}

// Whether the bytes encode one of the non-ASCII white-space code points.
inline bool is_wide_white_space2(unsigned char b0, unsigned char b1) noexcept {
    return b0 == 0xC2 && (b1 == 0x85 || b1 == 0xA0);  // U+0085, U+00A0
}

inline bool is_wide_white_space3(unsigned char b0, unsigned char b1, unsigned char b2) noexcept {
    switch (b0) {
        case 0xE1:
            return b1 == 0x9A && b2 == 0x80;  // U+1680
        case 0xE2:
            if (b1 == 0x80) {
                // U+2000..U+200A, U+2028, U+2029, U+202F
                return (b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF;
            }
            return b1 == 0x81 && b2 == 0x9F;  // U+205F
        case 0xE3:
            return b1 == 0x80 && b2 == 0x80;  // U+3000
        default:
            return false;
    }
}

// Length in bytes of the white-space code point that `s` starts with, or 0.
inline std::size_t white_space_prefix(std::string_view s) noexcept {
    if (s.empty()) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    if (p[0] < 0x80) return is_ascii_white_space(p[0]) ? 1 : 0;
    if (s.size() >= 2 && is_wide_white_space2(p[0], p[1])) return 2;
    if (s.size() >= 3 && is_wide_white_space3(p[0], p[1], p[2])) return 3;
    return 0;
}

// Length in bytes of the white-space code point that `s` ends with, or 0.
inline std::size_t white_space_suffix(std::string_view s) noexcept {
    const std::size_t n = s.size();
    if (n == 0) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    if (p[n - 1] < 0x80) return is_ascii_white_space(p[n - 1]) ? 1 : 0;
    if (n >= 2 && is_wide_white_space2(p[n - 2], p[n - 1])) return 2;
    if (n >= 3 && is_wide_white_space3(p[n - 3], p[n - 2], p[n - 1])) return 3;
    return 0;
}

// `s` without leading and trailing white space and, when `commas` is set, ',' as well.
inline std::string_view trim(std::string_view s, bool commas) noexcept {
    for (;;) {
        if (commas && !s.empty() && s.front() == ',') {
            s.remove_prefix(1);
        } else if (std::size_t k = white_space_prefix(s); k != 0) {
            s.remove_prefix(k);
        } else {
            break;
        }
    }
    for (;;) {
        if (commas && !s.empty() && s.back() == ',') {
            s.remove_suffix(1);
        } else if (std::size_t k = white_space_suffix(s); k != 0) {
            s.remove_suffix(k);
        } else {
            break;
        }
    }
    return s;
}

}  // namespace pelm::numparse::detail
