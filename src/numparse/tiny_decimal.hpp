// Decimal texts of the tiniest doubles, converted with exact integer arithmetic. Below the
// smallest normal double the spacing of doubles stops shrinking, and C++ runtimes differ there:
// some report such results as out of range instead of giving them. Converting these values here
// makes them the same whatever the runtime.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelm::numparse::detail {

// Powers of ten of the first non-zero digit of the decimals handled here: from 10^-324 (smaller
// values are nearer to zero than to the smallest positive double) to 10^-308 (the powers of
// the values below the smallest normal double, 2.2250738585072014e-308).
constexpr std::int64_t tiny_leading_power_min = -324;
constexpr std::int64_t tiny_leading_power_max = -308;

// The double nearest to a decimal below 2^-1021 (ties to even), for any number of digits.
// `digits` are its digits with at most one '.' among them and at least one non-zero digit; the
// first non-zero one stands for 10^leading_power, a power from tiny_leading_power_min to
// tiny_leading_power_max. False, with `out` untouched, when the value is 2^-1021 or more.
bool tiny_decimal_to_double(std::string_view digits, std::int64_t leading_power,
                            double& out) noexcept;

}  // namespace pelm::numparse::detail
