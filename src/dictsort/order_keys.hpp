// Order keys: the leading columns of every row packed into one unsigned
// 64-bit number that the sort keeps next to the row's handle.
//
// Reading cells through the row table costs a cache miss per comparison on
// large lists, and in the late merges most neighbours tie in the first
// column. A key holds one field per leading column, first column in the
// highest bits, and agrees with the row order (directions included):
//   key(x) < key(y)  only when row x sorts before row y, so the rows need not
//                    be read;
//   key(x) == key(y) decides nothing: the rows are compared in full.
// So a keyed comparison gives the very answer of row_is_less, and the sort
// makes the same comparisons in the same order.
//
// A column can be keyed only when its comparisons never reach the
// interpreter and form an order: its cells are Null and numbers without NaN,
// or Null and Str. A column of Null and Int cells whose values span a small
// range gets an exact field (its rank), so the next column can follow in the
// remaining bits. Any other keyable column takes the remaining bits with the
// top of its own 64-bit key (an Int or a Float as an ordered double, a Str by
// its first bytes) and ends the key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "dictsort/column_kind.hpp"
#include "dictsort/sort_rows.hpp"
#include "dictsort/sort_value.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

// A row handle with the order key of the row's leading cells beside it.
struct KeyedHandle {
    std::uint64_t key;
    std::size_t row;
};

using KeyedHandles = Vector<KeyedHandle>;

// One keyed handle per row, in row order; nothing when the first column
// cannot be keyed.
std::optional<KeyedHandles> keyed_row_handles(const SortRows& rows,
                                              std::span<const SortColumn> columns);

}  // namespace pelm::dictsort
