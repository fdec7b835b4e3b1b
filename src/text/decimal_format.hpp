// Number reading and writing for the fraction replacement.
#pragma once

#include <cstddef>
#include <string_view>

#include "frame/text.hpp"

namespace pelm::text {

// Room for any result of format_decimal_into: 309 integer digits, the point
// and six decimals.
inline constexpr std::size_t formatted_decimal_capacity = 320;

// x rounded half away from zero to a multiple of 1e-6 (as double operations),
// written with six decimals and then without trailing zeros and a trailing
// point: 0.5 -> "0.5", 1.0 / 3.0 -> "0.333333", 7.0 -> "7". Infinity is "inf".
// The decimal point is always '.', whatever the locale. Returns the length
// written to `out`, which must hold formatted_decimal_capacity bytes.
std::size_t format_decimal_into(double x, char* out);
OwnedText format_decimal(double x);

// The value of a run of decimal digits: ASCII digits are read as a decimal
// integer rounded to the nearest double (+inf beyond the double range); a run
// holding any other digit is 0.
double decimal_run_value(std::string_view digits) noexcept;

}  // namespace pelm::text
