// Unsigned 64-bit keys of cell values whose unsigned order is the order of
// the values.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "dictsort/text_arena.hpp"

namespace pelm::dictsort {

inline constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;

// Int cells: two's complement with the sign bit flipped.
inline std::uint64_t integer_key(std::int64_t value) noexcept {
    return static_cast<std::uint64_t>(value) ^ sign_bit;
}

// The IEEE 754 bits made to order as unsigned integers: negative numbers
// flipped, positive ones above them. -0.0 and 0.0 are equal and share a key.
// Not for NaN.
inline std::uint64_t number_key(double value) noexcept {
    if (value == 0.0) value = 0.0;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return (bits & sign_bit) != 0 ? ~bits : bits | sign_bit;
}

// Texts have at most this many bytes in one window key.
inline constexpr std::size_t text_window = 7;
// The length byte of a window key whose text goes on after the window.
inline constexpr std::uint64_t text_goes_on = text_window + 1;

// The key of the window of `text` that starts at `offset` (which is at most
// its length): the window's bytes, zero-padded, in the highest seven bytes,
// and in the lowest byte the number of bytes from `offset` to the end, or
// text_goes_on when more than seven. For texts equal before `offset`, keys
// that differ are in the order of the texts (a text that ends first sorts
// first), equal keys below text_goes_on mean equal texts, and equal keys of
// text_goes_on say nothing.
inline std::uint64_t text_window_key(StoredText text, std::size_t offset) noexcept {
    const std::size_t rest = text.size() - offset;
    const std::uint64_t word = text.word_at(offset);
    if (rest <= text_window) return word | rest;
    return (word & ~std::uint64_t{0xff}) | text_goes_on;
}
}  // namespace pelm::dictsort
