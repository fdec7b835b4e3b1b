// Gathering the bits of a word under a mask into its lowest bits with one
// instruction, where the processor has a fast one.
//
// x86's BMI2 extension has it (pext). Intel's processors run it in a cycle
// or three; AMD's before Zen 3 in microcode, a few cycles for every bit of
// the mask, which is slower than shifting the bits by hand. The instruction
// is written in assembly so that it needs no compiler flag: it only runs
// after fast_bit_extract() said yes.
#pragma once

#include <cstdint>

namespace pelm::dictsort {

// Whether extract_bits() may run, and runs fast, on this processor.
bool fast_bit_extract() noexcept;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
inline constexpr bool bit_extract_compiled = true;

inline std::uint64_t extract_bits(std::uint64_t word, std::uint64_t mask) noexcept {
    std::uint64_t gathered;
    asm("pextq %2, %1, %0" : "=r"(gathered) : "r"(word), "r"(mask));
    return gathered;
}
#else
inline constexpr bool bit_extract_compiled = false;

inline std::uint64_t extract_bits(std::uint64_t, std::uint64_t) noexcept { return 0; }
#endif

}  // namespace pelm::dictsort
