// UTF-8 decoding and encoding for text that is known to be valid (it comes
// from str objects), so decoding does no checks of its own.
#pragma once

#include <cstddef>

namespace pelm::text::utf8 {

struct Decoded {
    char32_t code_point;
    std::size_t length;  // bytes taken, 1 to 4
};

// Decodes the code point that starts at p; p must not be past the end.
inline Decoded decode(const char* p) noexcept {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    if (b[0] < 0x80) return {b[0], 1};
    if (b[0] < 0xE0) return {(char32_t(b[0] & 0x1F) << 6) | (b[1] & 0x3F), 2};
    if (b[0] < 0xF0) {
        return {(char32_t(b[0] & 0x0F) << 12) | (char32_t(b[1] & 0x3F) << 6) | (b[2] & 0x3F), 3};
    }
    return {(char32_t(b[0] & 0x07) << 18) | (char32_t(b[1] & 0x3F) << 12) |
                (char32_t(b[2] & 0x3F) << 6) | (b[3] & 0x3F),
            4};
}

// Writes the encoding of c at out; returns the position after it.
inline char* encode(char32_t c, char* out) noexcept {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

}  // namespace pelm::text::utf8
