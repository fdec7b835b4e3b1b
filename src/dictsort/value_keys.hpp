// Unsigned 64-bit keys of cell values whose unsigned order is the order of
// the values.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

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

// Up to the first eight bytes of `bytes`, big-endian, zero-padded on the
// right: keys that differ are in the byte order of the texts, and a text
// that is a prefix of another has the smaller or the same key.
inline std::uint64_t leading_bytes_key(std::string_view bytes) noexcept {
    unsigned char buffer[8] = {};
    std::memcpy(buffer, bytes.data(), bytes.size() < 8 ? bytes.size() : 8);
    std::uint64_t word;
    std::memcpy(&word, buffer, 8);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}

}  // namespace pelm::dictsort
