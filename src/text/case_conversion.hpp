// Identifier case conversion between camelCase and snake_case, on UTF-8 text
// that is known to be valid.
#pragma once

#include <string_view>

#include "frame/text.hpp"

namespace pelm::text {

// camelCase to snake_case. Each upper-case code point is replaced by its full
// lowercase mapping, preceded by '_' when it follows a lower-case code point or
// an ASCII digit, or when it ends a run of upper-case code points and a
// lower-case one follows it ("getHTTPResponse" -> "get_http_response").
// Every other code point is copied. The neighbours looked at are always the
// input's code points.
OwnedText uncamel(std::string_view utf8);

// snake_case to camelCase. Underscores are dropped; the code point after one
// or more underscores is replaced by its full uppercase mapping when something
// has been written already, every other code point by its full lowercase
// mapping.
OwnedText underscore_to_camelcase(std::string_view utf8);

}  // namespace pelm::text
