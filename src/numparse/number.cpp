// Extraction of an int or a float from numeric or free text.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "numparse/numparse.hpp"
#include "numparse/parts.hpp"

namespace pelm::numparse {
namespace detail {
namespace {

// [+-] digits with the value in int64 range.
bool strict_int(const SignedText& t, std::int64_t& out) noexcept {
    std::string_view digits = t.rest;
    bool negative = t.negative;
    if (!negative && !digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return false;
    // Up to 18 digits cannot leave the range (10^18 - 1 < 2^63 - 1); the checked step is only
    // needed beyond.
    constexpr std::size_t unchecked_digits = 18;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t magnitude = 0;
    std::size_t i = 0;
    for (; i < digits.size(); ++i) {
        const auto d = static_cast<std::uint64_t>(static_cast<unsigned char>(digits[i]) - '0');
        if (d > 9) return false;
        if (i >= unchecked_digits && magnitude > (limit - d) / 10) return false;
        magnitude = magnitude * 10 + d;
    }
    // Conversion to a signed type wraps modulo 2^64, which also covers -2^63.
    out = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
}

// The decimal conversion truncated toward zero; +-2^63 saturate.
bool truncated_decimal(const SignedText& t, std::int64_t& out) noexcept {
    double x = 0.0;
    if (!decimal_to_double(t, x) || !std::isfinite(x)) return false;
    constexpr double two_63 = 9223372036854775808.0;
    if (std::fabs(x) > two_63) return false;
    if (x == two_63) {
        out = std::numeric_limits<std::int64_t>::max();
    } else if (x == -two_63) {
        out = std::numeric_limits<std::int64_t>::min();
    } else {
        out = static_cast<std::int64_t>(x);
    }
    return true;
}

// Which bytes the extraction keeps: ASCII digits and ( ) - .
constexpr std::array<unsigned char, 256> kept_bytes = [] {
    std::array<unsigned char, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = 1;
    for (const char c : {'(', ')', '-', '.'}) table[static_cast<unsigned char>(c)] = 1;
    return table;
}();

// normalize_numeric of kept text: with no white space, commas or '%' in it, only "(x)" -> "-x"
// applies. An empty x gives an empty rest, which every conversion refuses.
SignedText normalized_kept(std::string_view kept) noexcept {
    if (kept.size() >= 2 && kept.front() == '(' && kept.back() == ')') {
        return SignedText{true, kept.substr(1, kept.size() - 2)};
    }
    return SignedText{false, kept};
}

}  // namespace

bool normalized_to_int(const SignedText& t, std::int64_t& out) noexcept {
    return strict_int(t, out) || truncated_decimal(t, out);
}

}  // namespace detail

Number to_number(std::string_view utf8) {
    ScratchText scratch;
    const auto text = detail::normalized_text(utf8, scratch);
    if (!text) return Number::nothing();
    std::int64_t v = 0;
    return detail::normalized_to_int(*text, v) ? Number::integer(v) : Number::nothing();
}

Number parse_number(std::string_view utf8) {
    ScratchText scratch;
    char* const kept = scratch.buffer(utf8.size());
    std::size_t size = 0;
    bool has_point = false;
    // Branch-free filter: every byte is written, and the length only grows for kept ones.
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        kept[size] = c;
        size += detail::kept_bytes[b];
        has_point |= c == '.';
    }
    if (size == 0) return Number::nothing();
    const auto text = detail::normalized_kept(std::string_view(kept, size));
    if (has_point) {
        double x = 0.0;
        return detail::decimal_to_double(text, x) ? Number::floating(x) : Number::nothing();
    }
    std::int64_t v = 0;
    return detail::normalized_to_int(text, v) ? Number::integer(v) : Number::nothing();
}

}  // namespace pelm::numparse
