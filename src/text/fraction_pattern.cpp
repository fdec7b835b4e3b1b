#include "text/fraction_pattern.hpp"

#include <span>

#include "frame/fault.hpp"
#include "frame/once.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace pelm::text {
namespace {

LazyCell<FractionPattern> FRACTION_PATTERN;

void append_code_point_escape(OwnedText& out, char32_t c) {
    constexpr char hex_digits[] = "0123456789ABCDEF";
    char digits[8];
    int count = 0;
    do {
        digits[count++] = hex_digits[c & 0xF];
        c >>= 4;
    } while (c != 0);
    out += "\\x{";
    while (count > 0) out += digits[--count];
    out += '}';
}

// A bracketed class of the ranges, each bound written as \x{HEX}.
void append_class(OwnedText& out, std::span<const CodePointRange> ranges) {
    out += '[';
    for (const CodePointRange& range : ranges) {
        append_code_point_escape(out, range.first);
        if (range.last != range.first) {
            out += '-';
            append_code_point_escape(out, range.last);
        }
    }
    out += ']';
}

// The UTF-8 of c, behind a backslash when c is an ASCII character with a
// meaning in patterns.
void append_literal(OwnedText& out, char32_t c) {
    constexpr std::string_view needs_escape = "#$&()*+-.?[\\]^{|}~";
    if (c < 0x80 && needs_escape.find(static_cast<char>(c)) != std::string_view::npos) {
        out += '\\';
    }
    char encoded[4];
    out.append(encoded, static_cast<std::size_t>(utf8::encode(c, encoded) - encoded));
}

RE2::Options pattern_options() {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingUTF8);
    options.set_log_errors(false);
    return options;
}

}  // namespace

OwnedText fraction_pattern_text(const VulgarFractionMap& fractions) {
    OwnedText text = "(";
    append_class(text, decimal_digit_ranges());
    text += "*)";
    append_class(text, white_space_ranges());
    text += "*([";
    for (const auto& entry : fractions) append_literal(text, entry.first);
    text += "])";
    return text;
}

FractionPattern::FractionPattern(std::string_view pattern_text)
    : regex_(regex_piece(pattern_text), pattern_options()) {
    if (!regex_.ok()) fault(regex_.error());
}

const FractionPattern& fraction_pattern() {
    return FRACTION_PATTERN.get(
        [] { return FractionPattern(view(fraction_pattern_text(vulgar_fractions()))); });
}

bool fraction_pattern_built() noexcept { return FRACTION_PATTERN.built(); }

}  // namespace pelm::text
