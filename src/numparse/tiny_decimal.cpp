// Exact conversion of tiny decimals. Every double below 2^-1021 is a whole multiple q of the
// smallest positive double 2^-1074 (q < 2^53), so the nearest double to a decimal D / 10^t is
// 2^-1074 times D * 2^1074 / 10^t rounded to a whole number, ties to even. With 10^t = 5^t * 2^t
// that quotient is (D * 2^(1074 - t)) / 5^t: two integers of a few thousand bits, divided here.
#include "numparse/tiny_decimal.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace pelm::numparse::detail {
namespace {

constexpr int smallest_double_exponent = -1074;  // 2^-1074: the smallest positive double
constexpr int quotient_bits = 53;                // q < 2^53 for a value below 2^-1021

// Digits kept from the first non-zero one on; any further non-zero digit only says "a bit
// more". The values that rounding must tell apart, the doubles below 2^-1021 and the midpoints
// between them, are multiples of 2^-1075 and so of 10^-1075. Kept digits that reach 10^-1075
// put each of them on the grid of the kept digits, so a dropped tail never crosses one of them:
// it can only turn an exact midpoint into a value just above it.
constexpr std::size_t max_kept_digits = 800;
static_assert(static_cast<std::int64_t>(max_kept_digits) >= 1076 + tiny_leading_power_max);

// Integers of up to `capacity` 32-bit limbs, least significant first.
class BigUnsigned {
public:
    // The largest numbers made below: 5^t * 2^(t - 1074) * 2^53 with t up to 1123, under 2720
    // bits; D * 2^(1074 - t), under 2700 bits; twice a remainder, under 2660 bits.
    static constexpr std::size_t capacity = 96;
    static_assert(capacity * 32 >= 2720);

    explicit BigUnsigned(std::uint32_t value) noexcept {
        limbs_[0] = value;
        size_ = value != 0 ? 1 : 0;
    }

    // this = this * factor + addend
    void multiply_add(std::uint32_t factor, std::uint32_t addend) noexcept {
        std::uint64_t carry = addend;
        for (std::size_t i = 0; i < size_; ++i) {
            const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
            limbs_[i] = static_cast<std::uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0) limbs_[size_++] = static_cast<std::uint32_t>(carry);
    }

    // this = this * 5^power
    void multiply_by_power_of_five(std::int64_t power) noexcept {
        constexpr std::uint32_t five_to_13 = 1220703125;  // the largest power of 5 below 2^32
        for (; power >= 13; power -= 13) multiply_add(five_to_13, 0);
        std::uint32_t rest = 1;
        for (; power > 0; --power) rest *= 5;
        multiply_add(rest, 0);
    }

    // this = this * 2^bits
    void shift_left(std::size_t bits) noexcept {
        if (size_ == 0) return;
        const std::size_t whole = bits / 32;
        const std::size_t part = bits % 32;
        const std::size_t grown = size_ + whole + (part != 0 ? 1 : 0);
        // From the top down, each limb reads only limbs at or below its own index.
        for (std::size_t i = grown; i-- > 0;) {
            const std::uint32_t high = i >= whole && i - whole < size_ ? limbs_[i - whole] : 0;
            if (part == 0) {
                limbs_[i] = high;
                continue;
            }
            const std::uint32_t low =
                i >= whole + 1 && i - whole - 1 < size_ ? limbs_[i - whole - 1] : 0;
            limbs_[i] = (high << part) | (low >> (32 - part));
        }
        size_ = grown;
        trim();
    }

    // this = this / 2, rounded down
    void halve() noexcept {
        for (std::size_t i = 0; i < size_; ++i) {
            const std::uint32_t next = i + 1 < size_ ? limbs_[i + 1] : 0;
            limbs_[i] = (limbs_[i] >> 1) | (next << 31);
        }
        trim();
    }

    // this = this - other, where other <= this
    void subtract(const BigUnsigned& other) noexcept {
        std::uint32_t borrow = 0;
        for (std::size_t i = 0; i < size_; ++i) {
            const std::uint32_t subtrahend = i < other.size_ ? other.limbs_[i] : 0;
            const std::uint64_t taken = std::uint64_t{subtrahend} + borrow;
            borrow = limbs_[i] < taken ? 1 : 0;
            limbs_[i] = static_cast<std::uint32_t>(std::uint64_t{limbs_[i]} - taken);
        }
        trim();
    }

    friend int compare(const BigUnsigned& a, const BigUnsigned& b) noexcept {
        if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
        for (std::size_t i = a.size_; i-- > 0;) {
            if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
        }
        return 0;
    }

private:
    void trim() noexcept {
        while (size_ > 0 && limbs_[size_ - 1] == 0) --size_;
    }

    std::array<std::uint32_t, capacity> limbs_{};
    std::size_t size_ = 0;
};

// The significant digits of a decimal: the first max_kept_digits of them as an integer.
struct KeptDigits {
    BigUnsigned value{0};
    std::size_t count = 0;
    bool nonzero_tail = false;  // a non-zero digit was left out
};

KeptDigits keep_significant_digits(std::string_view digits) noexcept {
    KeptDigits kept;
    // Digits go in by groups of up to nine, each one multiplication of the whole number.
    std::uint32_t group = 0;
    std::uint32_t group_scale = 1;
    for (const char c : digits) {
        if (c == '.') continue;
        const auto digit = static_cast<std::uint32_t>(c - '0');
        if (kept.count == 0 && digit == 0) continue;
        if (kept.count == max_kept_digits) {
            if (digit != 0) {
                kept.nonzero_tail = true;
                break;
            }
            continue;
        }
        ++kept.count;
        group = group * 10 + digit;
        group_scale *= 10;
        if (group_scale == 1000000000) {
            kept.value.multiply_add(group_scale, group);
            group = 0;
            group_scale = 1;
        }
    }
    if (group_scale != 1) kept.value.multiply_add(group_scale, group);
    return kept;
}

}  // namespace

bool tiny_decimal_to_double(std::string_view digits, std::int64_t leading_power,
                            double& out) noexcept {
    KeptDigits kept = keep_significant_digits(digits);
    // The value is D / 10^t, D the kept digits as an integer; t >= 308 for these powers.
    const std::int64_t t = static_cast<std::int64_t>(kept.count) - 1 - leading_power;
    BigUnsigned& dividend = kept.value;  // becomes D * 2^(1074 - t), then the remainder
    BigUnsigned divisor(1);              // 5^t * 2^(t - 1074)
    divisor.multiply_by_power_of_five(t);
    const std::int64_t binary_shift = -smallest_double_exponent - t;
    if (binary_shift >= 0) {
        dividend.shift_left(static_cast<std::size_t>(binary_shift));
    } else {
        divisor.shift_left(static_cast<std::size_t>(-binary_shift));
    }

    // The quotient bit by bit, from 2^52 down; a quotient of 2^53 or more is no value for here.
    divisor.shift_left(quotient_bits);
    if (compare(dividend, divisor) >= 0) return false;
    std::uint64_t quotient = 0;
    for (int bit = quotient_bits - 1; bit >= 0; --bit) {
        divisor.halve();
        if (compare(dividend, divisor) >= 0) {
            dividend.subtract(divisor);
            quotient |= std::uint64_t{1} << bit;
        }
    }

    // Round by twice the remainder against the divisor; an exact half goes to the even
    // quotient, unless left-out digits put the value above it.
    BigUnsigned& twice_remainder = dividend;
    twice_remainder.shift_left(1);
    const int against_half = compare(twice_remainder, divisor);
    const bool round_up = against_half > 0 ||
                          (against_half == 0 && (kept.nonzero_tail || (quotient & 1) != 0));
    if (round_up) ++quotient;
    // quotient <= 2^53, so both the conversion and the scaling are exact.
    out = std::ldexp(static_cast<double>(quotient), smallest_double_exponent);
    return true;
}

}  // namespace pelm::numparse::detail
