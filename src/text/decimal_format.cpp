#include "text/decimal_format.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "frame/fault.hpp"

namespace pelm::text {

std::size_t format_decimal_into(double x, char* out) {
    const double y = std::round(x * 1000000.0) / 1000000.0;
    // to_chars is exact (the value of y rounded to six decimals, ties to
    // even) and ignores the locale. Infinity comes out as "inf".
    const std::to_chars_result written =
        std::to_chars(out, out + formatted_decimal_capacity, y, std::chars_format::fixed, 6);
    if (written.ec != std::errc{}) fault("decimal formatting overflowed its buffer");
    std::size_t length = static_cast<std::size_t>(written.ptr - out);
    while (length > 0 && out[length - 1] == '0') --length;
    if (length > 0 && out[length - 1] == '.') --length;
    return length;
}

OwnedText format_decimal(double x) {
    char buffer[formatted_decimal_capacity];
    return OwnedText(buffer, format_decimal_into(x, buffer));
}

double decimal_run_value(std::string_view digits) noexcept {
    for (const char c : digits) {
        if (c < '0' || c > '9') return 0.0;
    }
    double value = 0.0;
    const std::from_chars_result read =
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
    // Digits alone cannot fall below the double range, only beyond it.
    if (read.ec == std::errc::result_out_of_range) return std::numeric_limits<double>::infinity();
    return value;
}

}  // namespace pelm::text
