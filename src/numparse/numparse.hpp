// Numeric text: white-space trimming, normalisation of accounting-style numbers
// ("(1,234.50)" -> "-1234.50", "12%" -> "12"), decimal conversion, and extraction of an int or
// a float from free text ("$(1,234.50)" -> -1234.5).
//
// Every function takes UTF-8. Texts that come from a Python str are always valid UTF-8; other
// bytes are handled safely, but white space is only recognised as whole, valid sequences.
// "No answer" is std::nullopt or Number::Kind::Nothing: nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "frame/text.hpp"
#include "numparse/scratch_text.hpp"

namespace pelm::numparse {

// `utf8` without its leading and trailing White_Space code points (U+0009..U+000D, U+0020,
// U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
std::string_view trim_white_space(std::string_view utf8) noexcept;

// The normalised numeric form of `utf8`: trimmed; one enclosing "(...)" pair turned into a
// leading '-'; every ',' removed; one trailing '%' removed. Nothing when a step leaves no text.
std::optional<OwnedText> normalize_numeric(std::string_view utf8);

// As normalize_numeric, written to `out`, which must hold at least utf8.size() + 1 bytes.
// Returns the number of bytes written.
std::optional<std::size_t> normalize_numeric_into(std::string_view utf8, char* out) noexcept;

// As normalize_numeric, without copying when it can: the view points into `utf8` when the
// result is a piece of it (no parentheses, no commas), otherwise into `scratch`. It stays valid
// while both live and `scratch` is not used again.
std::optional<std::string_view> normalize_numeric(std::string_view utf8, ScratchText& scratch);

// The double nearest to the decimal `text` (ties to even; any number of digits; too large gives
// +-inf, too small +-0.0). Accepted: optional '+'/'-', digits with an optional '.' (at least
// one digit), an optional exponent e/E [+-] digits; or inf / infinity / nan in any case.
// Nothing for anything else, white space included.
std::optional<double> decimal_to_double(std::string_view text) noexcept;

struct Number {
    enum class Kind { Nothing, Int, Float };
    Kind kind = Kind::Nothing;
    std::int64_t int_value = 0;
    double float_value = 0.0;

    static constexpr Number nothing() noexcept { return {}; }
    static constexpr Number integer(std::int64_t v) noexcept { return {Kind::Int, v, 0.0}; }
    static constexpr Number floating(double v) noexcept { return {Kind::Float, 0, v}; }
};

// An int from numeric text: normalize_numeric, then a strict integer ([+-]digits in int64
// range); failing that, the decimal conversion truncated toward zero, with +-2^63 saturating
// to INT64_MAX / INT64_MIN. Nothing for inf, nan, |x| > 2^63 or a text that is no number.
// Kind is Int or Nothing.
Number to_number(std::string_view utf8);

// A number from free text: keeps only ASCII digits and '(' ')' '-' '.'; with a '.' the kept
// text converts as a float (a "(...)" pair negates), otherwise through to_number.
Number parse_number(std::string_view utf8);

}  // namespace pelm::numparse
