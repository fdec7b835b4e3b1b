// The keys of one natively ordered column: one unsigned 64-bit number per
// row whose order is the order of the row's cell (ascending; Null aside).
//
//   Integers  the integer itself;
//   Numbers   the double;
//   Texts     with few distinct texts, their ranks (text_ranks.hpp); else
//             the bytes after the prefix that every text of the column
//             shares: dates of one decade, ids with a common stem, names of
//             one pattern mostly differ within the next few bytes. The key is
//             the window key of the first seven bytes after the prefix
//             (value_keys.hpp), exact when every rest fits in the window; or,
//             when every rest is eight bytes long, those eight bytes, exact
//             too. Ties of inexact keys are decided by the windows after.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dictsort/column_kind.hpp"
#include "dictsort/sort_rows.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

struct ColumnKeys {
    // One per row, in row order; a Null cell's key means nothing.
    Vector<std::uint64_t> keys;
    // One per row when the column has a Null cell, else empty.
    Vector<unsigned char> null_rows;
    // Equal keys only for equal cells. Else (a text column) the keys are
    // those of the text windows at `first_window`, and equal keys whose
    // texts go on past the window are decided by the windows that follow.
    bool exact = true;
    std::size_t first_window = 0;
};

// The keys of `column`, whose kind is Integers, Numbers or Texts.
ColumnKeys column_keys(const SortRows& rows, std::size_t column, ColumnKind kind);

}  // namespace pelm::dictsort
