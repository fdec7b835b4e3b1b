// The order of cells and of rows.
//
// compare_sort_values orders Null, Int, Float and Str cells among themselves
// in C++, without the interpreter and without allocating:
//   Null   before every other kind, equal to Null;
//   Int/Float as doubles when the kinds differ (an Int becomes the nearest
//          double), so a NaN is equal to every number;
//   Str    by UTF-8 bytes, that is by code point.
// Only a pair with an Other side and no Null side, or a Str against a number,
// goes to the interpreter (compare_in_interpreter): the stored int, float and
// str values are rebuilt as plain objects for that one comparison.
//
// row_is_less compares two rows column by column, a descending column
// reversing its result; the first column that is not Equal decides. With
// NaNs or inconsistent Python comparisons it is no strict weak order, so the
// sort that uses it must not rely on one (stable_sort.hpp).
#pragma once

#include <Python.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "dictsort/sort_value.hpp"
#include "frame/fault.hpp"

namespace pelm::dictsort {

// A three-way result in ascending sense: Less means the left operand sorts
// first.
enum class Ordering : signed char { Less = -1, Equal = 0, Greater = 1 };

inline Ordering reversed(Ordering order) noexcept {
    return static_cast<Ordering>(-static_cast<signed char>(order));
}

// left < right, else left > right, by the interpreter's rich comparison and
// truth test; an exception at any step is discarded and gives Equal.
Ordering py_compare(PyObject* left, PyObject* right);

// The pairs that compare_sort_values leaves to the interpreter.
Ordering compare_in_interpreter(const SortValue& a, const SortValue& b);

namespace detail {

inline std::uint64_t big_endian(std::uint64_t word) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        return __builtin_bswap64(word);
    } else {
        return word;
    }
}

template <class T>
inline Ordering three_way(T a, T b) noexcept {
    if (a < b) return Ordering::Less;
    if (b < a) return Ordering::Greater;
    return Ordering::Equal;
}

// Byte order of two equally long byte ranges, eight bytes at a time: a
// big-endian load makes integer order the order of unsigned bytes.
inline Ordering compare_bytes(const char* a, const char* b, std::size_t size) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t a_word;
        std::uint64_t b_word;
        std::memcpy(&a_word, a + i, 8);
        std::memcpy(&b_word, b + i, 8);
        if (a_word != b_word) return three_way(big_endian(a_word), big_endian(b_word));
    }
    for (; i < size; ++i) {
        const auto a_byte = static_cast<unsigned char>(a[i]);
        const auto b_byte = static_cast<unsigned char>(b[i]);
        if (a_byte != b_byte) return three_way(a_byte, b_byte);
    }
    return Ordering::Equal;
}

// Unsigned byte order over the shorter length, then the shorter text first:
// for UTF-8 this is code-point order.
inline Ordering compare_texts(const SortValue& a, const SortValue& b) noexcept {
    const StoredText a_text = a.text();
    const StoredText b_text = b.text();
    const std::size_t a_size = a_text.size();
    const std::size_t b_size = b_text.size();
    if (const Ordering bytes =
            compare_bytes(a_text.data(), b_text.data(), std::min(a_size, b_size));
        bytes != Ordering::Equal) {
        return bytes;
    }
    return three_way(a_size, b_size);
}

inline bool is_number(SortValue::Kind kind) noexcept {
    return kind == SortValue::Kind::Int || kind == SortValue::Kind::Float;
}

inline double as_double(const SortValue& cell) noexcept {
    return cell.kind() == SortValue::Kind::Int ? static_cast<double>(cell.integer())
                                               : cell.number();
}

}  // namespace detail

inline Ordering compare_sort_values(const SortValue& a, const SortValue& b) {
    using Kind = SortValue::Kind;
    const Kind a_kind = a.kind();
    const Kind b_kind = b.kind();
    if (a_kind == b_kind) {
        switch (a_kind) {
            case Kind::Null:
                return Ordering::Equal;
            case Kind::Int:
                return detail::three_way(a.integer(), b.integer());
            case Kind::Float:
                return detail::three_way(a.number(), b.number());
            case Kind::Str:
                return detail::compare_texts(a, b);
            case Kind::Other:
                return py_compare(a.object(), b.object());
        }
    }
    if (a_kind == Kind::Null) return Ordering::Less;
    if (b_kind == Kind::Null) return Ordering::Greater;
    if (detail::is_number(a_kind) && detail::is_number(b_kind)) {
        return detail::three_way(detail::as_double(a), detail::as_double(b));
    }
    return compare_in_interpreter(a, b);
}

// Whether row x sorts strictly before row y. Each row holds one cell per
// column; a shorter row is a broken invariant.
inline bool row_is_less(std::span<const SortColumn> columns, std::span<const SortValue> x,
                        std::span<const SortValue> y) {
    if (x.size() < columns.size() || y.size() < columns.size()) {
        fault("index out of bounds: a row has fewer cells than there are columns");
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const Ordering order = compare_sort_values(x[c], y[c]);
        if (order != Ordering::Equal) {
            return (columns[c].descending ? reversed(order) : order) == Ordering::Less;
        }
    }
    return false;
}

}  // namespace pelm::dictsort
