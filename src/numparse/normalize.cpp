// Normalisation of numeric text: trim, "(x)" -> "-x", commas out, one trailing '%' out.
#include <algorithm>
#include <cstring>

#include "numparse/numparse.hpp"
#include "numparse/parts.hpp"
#include "numparse/white_space.hpp"

namespace pelm::numparse {
namespace detail {

std::optional<NumericParts> split_numeric(std::string_view utf8) noexcept {
    std::string_view text = trim(utf8, false);
    if (text.empty()) return std::nullopt;

    // One enclosing pair of parentheses marks a negative number. A single "(" or ")" cannot
    // match both tests, so the text then has at least two bytes.
    bool negative = false;
    if (text.front() == '(' && text.back() == ')') {
        text = trim(text.substr(1, text.size() - 2), false);
        if (text.empty()) return std::nullopt;
        negative = true;
    }

    // After removing the commas the last byte is the last non-comma one; a text of commas
    // alone leaves nothing.
    const std::size_t last = text.find_last_not_of(',');
    if (last == std::string_view::npos) return std::nullopt;

    if (text[last] == '%') {
        // The comma-free text loses its '%' and is trimmed. Commas removed at the ends of the
        // piece and white space trimmed from them are the same bytes in either order, since
        // ',' never sits inside a multi-byte sequence.
        text = trim(text.substr(0, last), true);
        if (text.empty()) return std::nullopt;
    }
    const bool has_commas = std::memchr(text.data(), ',', text.size()) != nullptr;
    return NumericParts{negative, text, has_commas};
}

namespace {

// Writes (negative ? "-" : "") + body without its commas to `out`; returns the end.
char* write_parts(const NumericParts& parts, char* out) noexcept {
    if (parts.negative) *out++ = '-';
    if (!parts.has_commas) {
        std::memcpy(out, parts.body.data(), parts.body.size());
        return out + parts.body.size();
    }
    return std::remove_copy(parts.body.begin(), parts.body.end(), out, ',');
}

}  // namespace

std::optional<SignedText> normalized_text(std::string_view utf8, ScratchText& scratch) {
    const auto parts = split_numeric(utf8);
    if (!parts) return std::nullopt;
    if (!parts->has_commas) return SignedText{parts->negative, parts->body};
    char* out = scratch.buffer(parts->body.size());
    char* end = std::remove_copy(parts->body.begin(), parts->body.end(), out, ',');
    return SignedText{parts->negative, std::string_view(out, static_cast<std::size_t>(end - out))};
}

}  // namespace detail

std::optional<std::size_t> normalize_numeric_into(std::string_view utf8, char* out) noexcept {
    const auto parts = detail::split_numeric(utf8);
    if (!parts) return std::nullopt;
    return static_cast<std::size_t>(detail::write_parts(*parts, out) - out);
}

std::optional<std::string_view> normalize_numeric(std::string_view utf8, ScratchText& scratch) {
    const auto parts = detail::split_numeric(utf8);
    if (!parts) return std::nullopt;
    if (!parts->negative && !parts->has_commas) return parts->body;
    char* out = scratch.buffer(parts->body.size() + 1);
    char* end = detail::write_parts(*parts, out);
    return std::string_view(out, static_cast<std::size_t>(end - out));
}

std::optional<OwnedText> normalize_numeric(std::string_view utf8) {
    const auto parts = detail::split_numeric(utf8);
    if (!parts) return std::nullopt;
    OwnedText result;
    result.resize(parts->body.size() + 1);
    char* end = detail::write_parts(*parts, result.data());
    result.resize(static_cast<std::size_t>(end - result.data()));
    return result;
}

}  // namespace pelm::numparse
