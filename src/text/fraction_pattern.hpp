// The compiled regex that finds vulgar fractions with the digits and white
// space before them: (\d*)\s*([fractions]), with \d spelled as the Unicode
// 16.0 Nd class and \s as the White_Space class (RE2's own are ASCII-only).
#pragma once

#include <re2/re2.h>

#include <cstddef>
#include <string_view>
#include <type_traits>

#include "frame/text.hpp"
#include "text/vulgar_fractions.hpp"

namespace pelm::text {

namespace detail {
template <class Text, class Piece>
Piece submatch_type(bool (RE2::*)(Text, std::size_t, std::size_t, RE2::Anchor, Piece*, int) const);
}  // namespace detail

// The string piece type of RE2's interface: re2::StringPiece in older
// releases, absl::string_view in newer ones. Only data(), size() and
// construction from (pointer, length) are used, which both provide.
using RegexPiece = decltype(detail::submatch_type(&RE2::Match));

inline RegexPiece regex_piece(std::string_view text) noexcept { return {text.data(), text.size()}; }
inline std::string_view string_view_of(const RegexPiece& piece) noexcept {
    return {piece.data(), static_cast<std::size_t>(piece.size())};
}

// The pattern text for the given fraction table, its keys in the table's
// visiting order.
OwnedText fraction_pattern_text(const VulgarFractionMap& fractions);

class FractionPattern {
public:
    // Compiles the pattern; a pattern the engine rejects is an internal fault
    // carrying the engine's error text.
    explicit FractionPattern(std::string_view pattern_text);
    FractionPattern(const FractionPattern&) = delete;
    FractionPattern& operator=(const FractionPattern&) = delete;

    const RE2& regex() const noexcept { return regex_; }

private:
    RE2 regex_;
};

// The process-wide pattern, compiled on first use (which builds the fraction
// table first). A failed build poisons it.
const FractionPattern& fraction_pattern();

// Whether the pattern has been built (for the checks of first use).
bool fraction_pattern_built() noexcept;

}  // namespace pelm::text
