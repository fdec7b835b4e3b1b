// Copies and comparisons of byte ranges that are mostly short (names, keys,
// texts of a few bytes), done inline: a call to the library's memcpy or
// memcmp costs more than the work for a dozen bytes. Fixed-size memcpy calls
// compile to plain loads and stores; no byte outside the ranges is read or
// written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pelm {

namespace detail {

// Two loads or stores of N bytes that overlap, covering N to 2N bytes.
template <std::size_t N>
inline void copy_overlapping(char* to, const char* from, std::size_t size) noexcept {
    char head[N];
    char tail[N];
    std::memcpy(head, from, N);
    std::memcpy(tail, from + size - N, N);
    std::memcpy(to, head, N);
    std::memcpy(to + size - N, tail, N);
}

template <std::size_t N>
inline bool equal_overlapping(const char* a, const char* b, std::size_t size) noexcept {
    return std::memcmp(a, b, N) == 0 && std::memcmp(a + size - N, b + size - N, N) == 0;
}

}  // namespace detail

inline void copy_bytes(void* to, const void* from, std::size_t size) noexcept {
    auto* out = static_cast<char*>(to);
    const auto* in = static_cast<const char*>(from);
    if (size >= 8) {
        if (size <= 16) return detail::copy_overlapping<8>(out, in, size);
        std::memcpy(out, in, size);
    } else if (size >= 4) {
        detail::copy_overlapping<4>(out, in, size);
    } else if (size != 0) {
        // 1 to 3 bytes: the first, the middle and the last.
        out[0] = in[0];
        out[size / 2] = in[size / 2];
        out[size - 1] = in[size - 1];
    }
}

inline bool equal_bytes(const void* a, const void* b, std::size_t size) noexcept {
    const auto* x = static_cast<const char*>(a);
    const auto* y = static_cast<const char*>(b);
    if (size >= 8) {
        if (size <= 16) return detail::equal_overlapping<8>(x, y, size);
        return std::memcmp(x, y, size) == 0;
    }
    if (size >= 4) return detail::equal_overlapping<4>(x, y, size);
    for (std::size_t i = 0; i < size; ++i) {
        if (x[i] != y[i]) return false;
    }
    return true;
}

}  // namespace pelm
