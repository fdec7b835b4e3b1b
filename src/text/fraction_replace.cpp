// All matches are found first, on the argument's own byte offsets; the result
// is then built in one forward pass that copies the text between matches and
// appends the replacements, so the cost stays linear in the text and the
// number of matches.
#include "text/fraction_replace.hpp"

#include <cstddef>

#include "frame/alloc.hpp"
#include "frame/fault.hpp"
#include "text/decimal_format.hpp"
#include "text/fraction_pattern.hpp"
#include "text/utf8.hpp"
#include "text/vulgar_fractions.hpp"

namespace pelm::text {
namespace {

struct FractionMatch {
    std::size_t start;
    std::size_t end;
    std::string_view digits;
    double fraction;
};

// A replacement is at most 7 bytes longer than its match: with digits, the
// number may gain one integer digit (rounding up to a power of ten) and the
// point and six decimals, while the fraction itself takes at least 2 bytes;
// without digits, " 0.333333" stands for a 3-byte fraction.
constexpr std::size_t replacement_growth_limit = 7;

Vector<FractionMatch> find_fraction_matches(const RE2& regex, const VulgarFractionMap& fractions,
                                            std::string_view utf8) {
    Vector<FractionMatch> matches;
    const RegexPiece text = regex_piece(utf8);
    RegexPiece groups[3];
    std::size_t position = 0;
    while (position < utf8.size() &&
           regex.Match(text, position, utf8.size(), RE2::UNANCHORED, groups, 3)) {
        const std::string_view whole = string_view_of(groups[0]);
        const std::string_view fraction = string_view_of(groups[2]);
        const auto found = fractions.find(utf8::decode(fraction.data()).code_point);
        if (found == fractions.end()) fault("the fraction pattern matched a non-fraction");
        const auto start = static_cast<std::size_t>(whole.data() - utf8.data());
        matches.push_back({start, start + whole.size(), string_view_of(groups[1]), found->second});
        position = start + whole.size();
    }
    return matches;
}

}  // namespace

OwnedText sanitize_vulgar_string(std::string_view utf8) {
    const FractionPattern& pattern = fraction_pattern();
    if (!contains_vulgar_fraction(utf8)) return OwnedText(utf8.data(), utf8.size());

    const Vector<FractionMatch> matches =
        find_fraction_matches(pattern.regex(), vulgar_fractions(), utf8);
    OwnedText result;
    result.reserve(utf8.size() + replacement_growth_limit * matches.size());
    char number[formatted_decimal_capacity];
    std::size_t copied = 0;
    for (const FractionMatch& match : matches) {
        result.append(utf8.data() + copied, match.start - copied);
        double value = match.fraction;
        if (!match.digits.empty()) {
            value += decimal_run_value(match.digits);
        } else if (match.start != 0) {
            result += ' ';
        }
        result.append(number, format_decimal_into(value, number));
        copied = match.end;
    }
    result.append(utf8.data() + copied, utf8.size() - copied);
    return result;
}

}  // namespace pelm::text
