// Both converters make one pass over the input and write into a buffer sized
// once for the longest possible result (case_growth_factor bytes per input
// byte), so no code point allocates. ASCII is classified and mapped by range
// tests; only other code points reach the Unicode tables.
#include "text/case_conversion.hpp"

#include <cstdint>

#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace pelm::text {
namespace {

// What uncamel needs to know of a code point: the two case properties, and
// whether it is an ASCII digit (other decimal digits do not count).
constexpr std::uint8_t ascii_digit_flag = 4;
static_assert((ascii_digit_flag & (uppercase_flag | lowercase_flag)) == 0);

struct ClassifiedCodePoint {
    char32_t code_point;
    std::uint8_t length;
    std::uint8_t flags;
};

inline bool in_range(char32_t c, char32_t first, char32_t last) noexcept {
    return c - first <= last - first;
}

inline ClassifiedCodePoint classify_at(const char* p) noexcept {
    const auto b = static_cast<unsigned char>(*p);
    if (b < 0x80) {
        std::uint8_t flags = in_range(b, 'A', 'Z')   ? uppercase_flag
                             : in_range(b, 'a', 'z') ? lowercase_flag
                             : in_range(b, '0', '9') ? ascii_digit_flag
                                                     : 0;
        return {b, 1, flags};
    }
    const utf8::Decoded d = utf8::decode(p);
    return {d.code_point, static_cast<std::uint8_t>(d.length), case_flags(d.code_point)};
}

// The start of the code point that ends just before p.
inline const char* previous_code_point(const char* p) noexcept {
    do {
        --p;
    } while ((static_cast<unsigned char>(*p) & 0xC0) == 0x80);
    return p;
}

inline char* write_mapping(const CaseMapping& mapping, char* out) noexcept {
    for (std::uint8_t i = 0; i < mapping.length; ++i) out = utf8::encode(mapping.cps[i], out);
    return out;
}

inline char* write_lowercase(char32_t c, char* out) noexcept {
    if (c < 0x80) {
        *out = static_cast<char>(in_range(c, 'A', 'Z') ? c + ('a' - 'A') : c);
        return out + 1;
    }
    return write_mapping(full_lowercase(c), out);
}

inline char* write_uppercase(char32_t c, char* out) noexcept {
    if (c < 0x80) {
        *out = static_cast<char>(in_range(c, 'a', 'z') ? c - ('a' - 'A') : c);
        return out + 1;
    }
    return write_mapping(full_uppercase(c), out);
}

// Room for the longest possible result. Short results (most identifiers) are
// written on the stack and copied into the returned text once; long ones are
// written into the returned text directly.
class ConversionOutput {
public:
    explicit ConversionOutput(std::size_t input_size) {
        const std::size_t capacity = input_size * case_growth_factor;
        if (capacity <= sizeof inline_buffer_) {
            start_ = inline_buffer_;
        } else {
            text_.resize(capacity);
            start_ = text_.data();
        }
        cursor_ = start_;
    }
    ConversionOutput(const ConversionOutput&) = delete;
    ConversionOutput& operator=(const ConversionOutput&) = delete;

    char*& cursor() noexcept { return cursor_; }
    bool empty() const noexcept { return cursor_ == start_; }

    OwnedText finish() && {
        const auto length = static_cast<std::size_t>(cursor_ - start_);
        if (start_ == inline_buffer_) return OwnedText(inline_buffer_, length);
        text_.resize(length);
        return std::move(text_);
    }

private:
    char inline_buffer_[256];
    OwnedText text_;
    char* start_;
    char* cursor_;
};

}  // namespace

OwnedText uncamel(std::string_view utf8) {
    if (utf8.empty()) return {};
    ConversionOutput output(utf8.size());
    char*& out = output.cursor();
    const char* const begin = utf8.data();
    const char* const end = begin + utf8.size();

    // Code points that are not upper case are copied as they are. Only at an
    // upper-case one are its neighbours classified, in place: the previous
    // one by stepping back over continuation bytes, the next one forwards.
    const char* position = begin;
    while (position != end) {
        const ClassifiedCodePoint current = classify_at(position);
        const char* const next_position = position + current.length;
        if ((current.flags & uppercase_flag) == 0) {
            for (; position != next_position; ++position) *out++ = *position;
            continue;
        }
        if (position != begin) {
            const std::uint8_t previous = classify_at(previous_code_point(position)).flags;
            const bool boundary = (previous & (lowercase_flag | ascii_digit_flag)) != 0 ||
                                  ((previous & uppercase_flag) != 0 && next_position != end &&
                                   (classify_at(next_position).flags & lowercase_flag) != 0);
            if (boundary) *out++ = '_';
        }
        out = write_lowercase(current.code_point, out);
        position = next_position;
    }
    return std::move(output).finish();
}

OwnedText underscore_to_camelcase(std::string_view utf8) {
    if (utf8.empty()) return {};
    ConversionOutput output(utf8.size());
    char*& out = output.cursor();
    const char* position = utf8.data();
    const char* const end = position + utf8.size();

    bool after_underscore = false;
    while (position != end) {
        char32_t c;
        const auto b = static_cast<unsigned char>(*position);
        if (b < 0x80) {
            c = b;
            ++position;
            if (c == '_') {
                after_underscore = true;
                continue;
            }
        } else {
            const utf8::Decoded d = utf8::decode(position);
            c = d.code_point;
            position += d.length;
        }
        out =
            after_underscore && !output.empty() ? write_uppercase(c, out) : write_lowercase(c, out);
        after_underscore = false;
    }
    return std::move(output).finish();
}

}  // namespace pelm::text
