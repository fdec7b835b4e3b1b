// The cells of a multikeysort call.
//
// SortValue: one cell (one item, one column), fetched from the interpreter and
// converted exactly once, before any comparison. It is one of five kinds:
//   Null  - the cell could not be fetched, or it is None;
//   Int   - a signed 64-bit integer (ints, bools, objects with __index__);
//   Float - a double (floats, objects with __float__, ints too large for Int);
//   Str   - the UTF-8 text of a str, copied into the call's TextArena (once
//           per distinct text of a column that repeats its texts);
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

#include "dictsort/distinct_texts.hpp"
#include "dictsort/text_arena.hpp"
#include "frame/error.hpp"
#include "frame/fresh_str.hpp"
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
        return cell;
    }
    // Takes over the reference to the fetched object.
    static SortValue object(OwnedRef object) noexcept {
        SortValue cell(Kind::Other);
        cell.payload_.object = object.release();
        return cell;
    }

    SortValue(SortValue&& other) noexcept
        : payload_(other.payload_), kind_(std::exchange(other.kind_, Kind::Null)) {}
    SortValue& operator=(SortValue&& other) noexcept {
        SortValue old(std::move(*this));
        payload_ = other.payload_;
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
    // Lent to the caller: the cell keeps its reference.
    PyObject* object() const noexcept { return payload_.object; }

private:
    explicit SortValue(Kind kind) noexcept : kind_(kind) {}

    union Payload {
        std::int64_t integer;
        double number;
        char* text;
        PyObject* object;
    };
    Payload payload_{.integer = 0};
    Kind kind_ = Kind::Null;
};

static_assert(sizeof(SortValue) == 16);

struct SortColumn {
    OwnedText name;
    bool descending = false;
};

// Where the texts of one column's cells go: the call's arena, through the
// column's table of distinct texts.
class ColumnTexts {
public:
    ColumnTexts(TextArena& arena, DistinctTexts& distinct) noexcept
        : arena_(&arena), distinct_(&distinct) {}
    StoredText store(std::string_view text) const { return distinct_->store(text, *arena_); }

private:
    TextArena* arena_;
    DistinctTexts* distinct_;
};

namespace detail {

// The conversion of a value that the caller holds a reference to, by the
// five kinds' rules; it may run the value's own Python code.
SortValue convert_owned_value(OwnedRef value, ColumnTexts texts);

// The cell of an item that is not exactly a dict: its subscript may run
// Python code, and so may the conversion.
SortValue subscript_cell(PyObject* item, const FreshStr& column_key, ColumnTexts texts);

// The cell of a value that an exact dict lends. None, an exact float, an
// exact ASCII str and an exact int within the 64-bit range are read without
// running any Python code, so the value needs no reference of its own while
// it is read; any other value is held and converted by the rules.
inline SortValue lent_value_cell(PyObject* value, ColumnTexts texts) {
    if (value == Py_None) return SortValue::null();
    if (Py_IS_TYPE(value, &PyFloat_Type)) return SortValue::number(PyFloat_AS_DOUBLE(value));
    if (Py_IS_TYPE(value, &PyUnicode_Type) && PyUnicode_IS_COMPACT_ASCII(value)) {
        const auto* ascii = static_cast<const char*>(PyUnicode_DATA(value));
        return SortValue::text(
            texts.store({ascii, static_cast<std::size_t>(PyUnicode_GET_LENGTH(value))}));
    }
    if (Py_IS_TYPE(value, &PyLong_Type)) {
        int overflow = 0;
        const long long integer = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow == 0) return SortValue::integer(integer);
    }
    return convert_owned_value(OwnedRef::new_ref(value), texts);
}

}  // namespace detail

// The cell of `item` in a column: `item[name]` with a new str key made by
// `column_key` from the column's name, converted as the five kinds say. Every
// exception that the fetch and the conversions raise is discarded (a
// PanicException still resumes its fault).
//
// An exact dict is asked with the very lookup of its own subscript, which
// differs only in not building the KeyError of a missing key that would be
// discarded anyway. The key is released right after the lookup; that runs no
// Python code, so the value found is still the dict's.
inline SortValue extract_sort_value(PyObject* item, const FreshStr& column_key,
                                    ColumnTexts texts) {
    if (!PyDict_CheckExact(item)) return detail::subscript_cell(item, column_key, texts);
    PyObject* found = nullptr;
    {
        const OwnedRef key = column_key.make();
        found = PyDict_GetItemWithError(item, key.get());
    }
    if (found == nullptr) {
        discard_raised_exception();
        return SortValue::null();
    }
    return detail::lent_value_cell(found, texts);
}

}  // namespace pelm::dictsort
