// The vulgar fraction characters that sanitize_vulgar_string replaces, and
// their values.
#pragma once

#include <functional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "frame/alloc.hpp"
#include "frame/hash.hpp"

namespace pelm::text {

using VulgarFractionMap = std::unordered_map<char32_t, double, CharHasher, std::equal_to<char32_t>,
                                             FatalAllocator<std::pair<const char32_t, double>>>;

// The fifteen fractions U+00BC..U+00BE and U+2153..U+215E, each mapped to the
// double nearest to its quotient. Built on first use, once per process; a
// failed build poisons the table for good.
const VulgarFractionMap& vulgar_fractions();

// Whether the table has been built (for the checks of first use).
bool vulgar_fractions_built() noexcept;

// Whether the valid UTF-8 text holds one of the fifteen characters. Looks at
// bytes only: a cheap test that lets callers skip the regex search.
bool contains_vulgar_fraction(std::string_view utf8) noexcept;

}  // namespace pelm::text
