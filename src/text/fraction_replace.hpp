// Replacement of vulgar fraction characters by decimal numbers.
#pragma once

#include <optional>
#include <string_view>

#include "frame/text.hpp"

namespace pelm::text {

// Replaces every match of the fraction pattern, (\d*)\s*(fraction), found
// left to right on the original text:
//   digits before it: the digits' value plus the fraction's, formatted by
//     format_decimal ("4¾" -> "4.75", "1 ⅛" -> "1.125");
//   no digits: the fraction's value, after one space unless the match starts
//     the text ("ab½" -> "ab 0.5", "½" -> "0.5").
// White space between digits and fraction, or before a fraction without
// digits, is part of the match and goes with it.
// Nothing when the text holds no fraction, so that the caller can use the
// text as it stands.
std::optional<OwnedText> sanitize_vulgar_string(std::string_view utf8);

}  // namespace pelm::text
