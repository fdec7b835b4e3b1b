// Decimal text to double. The grammar is checked here, in a pass that also reads the
// significand; short numbers (at most 2^53, power of ten within +-22) are converted exactly with
// one floating-point operation, values below 2^-1021 with exact integers (tiny_decimal.hpp), the
// others by std::from_chars, which rounds correctly for any number of digits and ignores the
// locale. Runtimes that build from_chars on strtod report subnormal results as out of range, so
// they never reach it. Signs and results outside the double range are handled here, since
// from_chars takes no '+' and leaves its output unset when the value overflows or underflows.
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "numparse/numparse.hpp"
#include "numparse/parts.hpp"
#include "numparse/tiny_decimal.hpp"

namespace pelm::numparse {
namespace detail {
namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

char ascii_lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c; }

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) noexcept {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ascii_lower(text[i]) != lower_word[i]) return false;
    }
    return true;
}

double with_sign(double magnitude, bool negative) noexcept {
    return std::copysign(magnitude, negative ? -1.0 : 1.0);
}

// The words inf, infinity and nan.
bool named_value(std::string_view text, bool negative, double& out) noexcept {
    if (equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity")) {
        out = with_sign(std::numeric_limits<double>::infinity(), negative);
        return true;
    }
    if (equals_ignoring_case(text, "nan")) {
        out = with_sign(std::numeric_limits<double>::quiet_NaN(), negative);
        return true;
    }
    return false;
}

// The significand as it is read: the value of its digits while they fit, and the power of
// ten of its first non-zero digit.
struct Significand {
    static constexpr std::int64_t no_nonzero_digit = std::numeric_limits<std::int64_t>::min();
    static constexpr std::size_t max_exact_digits = 19;  // 10^19 - 1 < 2^64

    std::uint64_t mantissa = 0;   // the digits without the point, while `significant` <= 19
    std::size_t significant = 0;  // digits from the first non-zero one on
    std::size_t fraction_digits = 0;
    // The value is at least 1 exactly when leading_power + exponent >= 0.
    std::int64_t leading_power = no_nonzero_digit;

    void take(char c) noexcept {
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (significant == 0 && d == 0) return;  // a leading zero changes nothing
        if (++significant <= max_exact_digits) mantissa = mantissa * 10 + d;
    }
};

// Exact powers of ten: every 10^k with k <= 22 is a double.
constexpr std::array<double, 23> exact_powers_of_ten = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// mantissa * 10^power when both factors are exact doubles: then one multiplication or division
// rounds once, to nearest with ties to even, which is the correctly rounded result. That needs
// arithmetic in plain double precision (no wider intermediate, as with x87).
bool exact_product(std::uint64_t mantissa, std::int64_t power, double& out) noexcept {
    constexpr bool plain_double_arithmetic = FLT_EVAL_METHOD == 0;
    if (!plain_double_arithmetic || mantissa > (std::uint64_t{1} << 53) || power < -22 ||
        power > 22) {
        return false;
    }
    const auto m = static_cast<double>(mantissa);
    const double scale = exact_powers_of_ten[static_cast<std::size_t>(power < 0 ? -power : power)];
    out = power < 0 ? m / scale : m * scale;
    return true;
}

// An unsigned decimal number: digits [. digits] [e [+-] digits].
bool unsigned_decimal(std::string_view text, bool negative, double& out) noexcept {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    Significand sig;

    const char* const int_begin = p;
    for (; p != end && is_digit(*p); ++p) sig.take(*p);
    const auto int_digits = static_cast<std::size_t>(p - int_begin);
    if (sig.significant != 0) {
        sig.leading_power = static_cast<std::int64_t>(sig.significant) - 1;
    }
    if (p != end && *p == '.') {
        ++p;
        const char* const frac_begin = p;
        for (; p != end && is_digit(*p); ++p) {
            if (sig.significant == 0 && *p != '0') {
                sig.leading_power = -static_cast<std::int64_t>(p - frac_begin) - 1;
            }
            sig.take(*p);
        }
        sig.fraction_digits = static_cast<std::size_t>(p - frac_begin);
    }
    if (int_digits + sig.fraction_digits == 0) return false;
    const std::string_view digits(begin, static_cast<std::size_t>(p - begin));

    // The exponent saturates far beyond any power that matters: texts are shorter than 2^62.
    constexpr std::int64_t exponent_cap = std::int64_t{1} << 62;
    std::int64_t exponent = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool exponent_negative = false;
        if (p != end && (*p == '+' || *p == '-')) {
            exponent_negative = *p == '-';
            ++p;
        }
        if (p == end || !is_digit(*p)) return false;
        for (; p != end && is_digit(*p); ++p) {
            exponent = exponent < exponent_cap / 10 ? exponent * 10 + (*p - '0') : exponent_cap;
        }
        if (exponent_negative) exponent = -exponent;
    }
    if (p != end) return false;

    double value = 0.0;
    const auto power = exponent - static_cast<std::int64_t>(sig.fraction_digits);
    if (sig.significant <= Significand::max_exact_digits &&
        exact_product(sig.mantissa, power, value)) {
        out = with_sign(value, negative);
        return true;
    }

    if (sig.significant != 0) {
        // The value lies in [10^leading, 10^(leading + 1)).
        const std::int64_t leading = sig.leading_power + exponent;
        if (leading < tiny_leading_power_min) {
            out = with_sign(0.0, negative);
            return true;
        }
        if (leading <= tiny_leading_power_max && tiny_decimal_to_double(digits, leading, value)) {
            out = with_sign(value, negative);
            return true;
        }
    }

    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec == std::errc() && ptr == end) {
        out = with_sign(value, negative);
        return true;
    }
    if (ec == std::errc::result_out_of_range) {
        // Out of range and at least 1 means it overflowed; below 1 it underflowed.
        const bool overflow = sig.significant != 0 && sig.leading_power + exponent >= 0;
        out = with_sign(overflow ? std::numeric_limits<double>::infinity() : 0.0, negative);
        return true;
    }
    return false;  // not reached for a text that passed the checks above
}

}  // namespace

bool decimal_to_double(const SignedText& t, double& out) noexcept {
    std::string_view rest = t.rest;
    bool negative = t.negative;
    // After a '-' that is not stored, the text must go on unsigned: "--5" and "-+5" are refused.
    if (!negative && !rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    if (rest.empty()) return false;
    if (is_digit(rest.front()) || rest.front() == '.') return unsigned_decimal(rest, negative, out);
    return named_value(rest, negative, out);
}

}  // namespace detail

std::optional<double> decimal_to_double(std::string_view text) noexcept {
    double value = 0.0;
    if (!detail::decimal_to_double(detail::SignedText{false, text}, value)) return std::nullopt;
    return value;
}

}  // namespace pelm::numparse
