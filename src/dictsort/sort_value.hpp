// The cells of a multikeysort call.
//
// SortValue: one cell (one item, one column), fetched from the interpreter and
// converted exactly once, before any comparison. It is one of five kinds:
//   Null  - the cell could not be fetched, or it is None;
//   Int   - a signed 64-bit integer (ints, bools, objects with __index__);
//   Float - a double (floats, objects with __float__, ints too large for Int);
//   Str   - the UTF-8 text of a str, copied into the call's TextArena;
//   Other - anything else, holding one reference to the fetched object.
// A value is never changed after it is made; 16 bytes, so a row of cells is
// compact and rows are sorted by moving handles, never cells.
//
// SortColumn: one column name (without its leading '-') and its direction.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string_view>
#include <utility>

#include "dictsort/text_arena.hpp"
#include "frame/refs.hpp"
#include "frame/text.hpp"

namespace pelm::dictsort {

class SortValue {
public:
    enum class Kind : unsigned char { Null, Int, Float, Str, Other };

    SortValue() noexcept = default;
    static SortValue null() noexcept { return SortValue(); }
    static SortValue integer(std::int64_t value) noexcept {
        SortValue cell(Kind::Int);
        cell.payload_.integer = value;
        return cell;
    }
    static SortValue number(double value) noexcept {
        SortValue cell(Kind::Float);
        cell.payload_.number = value;
        return cell;
    }
    static SortValue text(StoredText text) noexcept {
        SortValue cell(Kind::Str);
        cell.payload_.text = text.entry();
        cell.text_prefix_ = text_prefix_of(text.view());
        return cell;
    }
    // Takes over the reference to the fetched object.
    static SortValue object(OwnedRef object) noexcept {
        SortValue cell(Kind::Other);
        cell.payload_.object = object.release();
        return cell;
    }

    SortValue(SortValue&& other) noexcept
        : payload_(other.payload_),
          text_prefix_(other.text_prefix_),
          kind_(std::exchange(other.kind_, Kind::Null)) {}
    SortValue& operator=(SortValue&& other) noexcept {
        SortValue old(std::move(*this));
        payload_ = other.payload_;
        text_prefix_ = other.text_prefix_;
        kind_ = std::exchange(other.kind_, Kind::Null);
        return *this;
    }
    SortValue(const SortValue&) = delete;
    SortValue& operator=(const SortValue&) = delete;
    ~SortValue() {
        if (kind_ == Kind::Other) {
            OwnedRef released = OwnedRef::steal(payload_.object);
        }
    }

    Kind kind() const noexcept { return kind_; }
    std::int64_t integer() const noexcept { return payload_.integer; }
    double number() const noexcept { return payload_.number; }
    StoredText text() const noexcept { return StoredText(payload_.text); }
    // The first four bytes of a Str's text, big-endian and zero-padded: two
    // texts whose prefixes differ are ordered by their prefixes, without
    // reading the arena.
    std::uint32_t text_prefix() const noexcept { return text_prefix_; }
    // Lent to the caller: the cell keeps its reference.
    PyObject* object() const noexcept { return payload_.object; }

private:
    explicit SortValue(Kind kind) noexcept : kind_(kind) {}

    static std::uint32_t text_prefix_of(std::string_view text) noexcept {
        std::uint32_t prefix = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            prefix <<= 8;
            if (i < text.size()) prefix |= static_cast<unsigned char>(text[i]);
        }
        return prefix;
    }

    union Payload {
        std::int64_t integer;
        double number;
        const char* text;
        PyObject* object;
    };
    Payload payload_{.integer = 0};
    std::uint32_t text_prefix_ = 0;
    Kind kind_ = Kind::Null;
};

static_assert(sizeof(SortValue) == 16);

struct SortColumn {
    OwnedText name;
    bool descending = false;
};

// The cell of `item` in `column`: `item[column.name]` with a new str key,
// converted as the five kinds say. Every exception that the fetch and the
// conversions raise is discarded (a PanicException still resumes its fault).
SortValue extract_sort_value(PyObject* item, const SortColumn& column, TextArena& texts);

}  // namespace pelm::dictsort
