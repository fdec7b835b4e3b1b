#include "text/vulgar_fractions.hpp"

#include <cstddef>

#include "frame/once.hpp"

namespace pelm::text {
namespace {

struct VulgarFraction {
    char32_t character;
    double numerator;
    double denominator;
};

// In insertion order. The characters form two blocks, U+00BC..U+00BE and
// U+2153..U+215E, which contains_vulgar_fraction relies on.
constexpr VulgarFraction VULGAR_FRACTION_ENTRIES[] = {
    {U'\u00BC', 1, 4}, {U'\u00BD', 1, 2}, {U'\u00BE', 3, 4}, {U'\u2153', 1, 3}, {U'\u2154', 2, 3},
    {U'\u2155', 1, 5}, {U'\u2156', 2, 5}, {U'\u2157', 3, 5}, {U'\u2158', 4, 5}, {U'\u2159', 1, 6},
    {U'\u215A', 5, 6}, {U'\u215B', 1, 8}, {U'\u215C', 3, 8}, {U'\u215D', 5, 8}, {U'\u215E', 7, 8},
};

LazyCell<VulgarFractionMap> VULGAR_FRACTIONS;

VulgarFractionMap build_vulgar_fractions() {
    VulgarFractionMap fractions(0, CharHasher{next_hash_keys()});
    for (const VulgarFraction& entry : VULGAR_FRACTION_ENTRIES) {
        fractions.emplace(entry.character, entry.numerator / entry.denominator);
    }
    return fractions;
}

}  // namespace

const VulgarFractionMap& vulgar_fractions() { return VULGAR_FRACTIONS.get(build_vulgar_fractions); }

bool vulgar_fractions_built() noexcept { return VULGAR_FRACTIONS.built(); }

bool contains_vulgar_fraction(std::string_view utf8) noexcept {
    // U+00BC..U+00BE encode as C2 BC..BE, U+2153..U+215E as E2 85 93..9E. C2
    // and E2 are lead bytes, so a match is never part of another character.
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (bytes[i] == 0xC2) {
            if (bytes[i + 1] >= 0xBC && bytes[i + 1] <= 0xBE) return true;
        } else if (bytes[i] == 0xE2) {
            if (i + 2 < size && bytes[i + 1] == 0x85 && bytes[i + 2] >= 0x93 &&
                bytes[i + 2] <= 0x9E) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace pelm::text
