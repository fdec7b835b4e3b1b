// All matches are found first, on the argument's own byte offsets; the result
// is then built in one forward pass that copies the text between matches and
// appends the replacements, so the cost stays linear in the text and the
// number of matches.
#include "text/fraction_replace.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <span>

#include "frame/alloc.hpp"
#include "frame/fault.hpp"
#include "text/decimal_format.hpp"
#include "text/fraction_pattern.hpp"
#include "text/unicode_tables.hpp"
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

bool is_decimal_digit(char32_t c) noexcept {
    if (c < 0x80) return c >= '0' && c <= '9';
    const std::span<const CodePointRange> ranges = decimal_digit_ranges();
    const auto after = std::upper_bound(
        ranges.begin(), ranges.end(), c,
        [](char32_t value, const CodePointRange& range) { return value < range.first; });
    return after != ranges.begin() && c <= std::prev(after)->last;
}

// The digits group of a match: the run of decimal digits that begins it. The
// pattern's digits, white space and fractions are disjoint sets, so that run
// is exactly what (\d*) took.
std::string_view leading_digits(std::string_view match) noexcept {
    std::size_t length = 0;
    while (length < match.size()) {
        const utf8::Decoded next = utf8::decode(match.data() + length);
        if (!is_decimal_digit(next.code_point)) break;
        length += next.length;
    }
    return match.substr(0, length);
}

// The fraction group of a match: its last character, which the pattern takes
// from the table's keys (all two or three bytes long, beginning C2 or E2).
char32_t trailing_fraction(std::string_view match) noexcept {
    const std::size_t length = match.size() >= 3 && match[match.size() - 3] == '\xE2' ? 3 : 2;
    return utf8::decode(match.data() + match.size() - length).code_point;
}

// All matches, in text order, each search beginning where the last match
// ended. Only the whole match is asked of the engine, which lets it find the
// span without tracking groups; the groups are read off the span.
Vector<FractionMatch> find_fraction_matches(const RE2& regex, const VulgarFractionMap& fractions,
                                            std::string_view utf8) {
    Vector<FractionMatch> matches;
    const RegexPiece text = regex_piece(utf8);
    RegexPiece whole_match;
    std::size_t position = 0;
    while (position < utf8.size() &&
           regex.Match(text, position, utf8.size(), RE2::UNANCHORED, &whole_match, 1)) {
        const std::string_view whole = string_view_of(whole_match);
        const auto found = fractions.find(trailing_fraction(whole));
        if (found == fractions.end()) fault("the fraction pattern matched a non-fraction");
        const auto start = static_cast<std::size_t>(whole.data() - utf8.data());
        matches.push_back({start, start + whole.size(), leading_digits(whole), found->second});
        position = start + whole.size();
    }
    return matches;
}

}  // namespace

std::optional<OwnedText> sanitize_vulgar_string(std::string_view utf8) {
    const FractionPattern& pattern = fraction_pattern();
    if (!contains_vulgar_fraction(utf8)) return std::nullopt;

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
