// Internal forms shared by normalisation and conversion. A normalised text is "-" + body with
// the commas of body removed; keeping it as a flag and a view lets the conversions run on the
// input bytes without building the text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "numparse/scratch_text.hpp"

namespace pelm::numparse::detail {

// The text (negative ? "-" : "") + rest.
struct SignedText {
    bool negative = false;
    std::string_view rest;
};

// The normalised form of a text before its commas are removed.
struct NumericParts {
    bool negative = false;
    std::string_view body;  // a piece of the input, never empty after removing its commas
    bool has_commas = false;
};

// Trim, parentheses and percent; nothing when a step leaves no text.
std::optional<NumericParts> split_numeric(std::string_view utf8) noexcept;

// The normalised text as a SignedText whose rest has no commas: a view into `utf8` when the body
// has none, else into `scratch`.
std::optional<SignedText> normalized_text(std::string_view utf8, ScratchText& scratch);

// The conversions below return whether there is an answer and store it in `out`. They take
// the text by reference and give the answer through a parameter: a SignedText passed by value,
// or an optional<double> returned, is assembled in memory field by field and read back as a
// whole, a store-forwarding stall on every call.

// decimal_to_double of the text that `t` stands for.
bool decimal_to_double(const SignedText& t, double& out) noexcept;

// to_number of an already normalised text.
bool normalized_to_int(const SignedText& t, std::int64_t& out) noexcept;

}  // namespace pelm::numparse::detail
