// The keys of one natively ordered column: one unsigned 64-bit number per
// row whose order is the order of the row's cell (ascending; Null aside).
//
//   Integers  the integer itself;
//   Numbers   the double;
//   Texts     with few distinct texts, their ranks (distinct_texts.hpp);
//             else the bytes after the prefix that every text of the column
//             shares: dates of one decade, ids with a common stem, names of
//             one pattern mostly differ within the next few bytes. The key is
//             the window key of the first seven bytes after the prefix
//             (value_keys.hpp), exact when every rest fits in the window; or,
//             when every rest is eight bytes long, those eight bytes, exact
//             too. Ties of inexact keys are left to a full comparison.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dictsort/column_kind.hpp"
#include "dictsort/sort_rows.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

struct ColumnKeys {
    // One per row, in row order; a Null cell's key is 0 and means nothing.
    ScratchArray<std::uint64_t> keys;
    // One per row (1 for a Null cell) when the column has a Null cell, else
    // empty.
    ScratchArray<unsigned char> null_rows;
    // The bits in which the keys of the values differ.
    std::uint64_t varying = 0;
    // Whether any cell is a value, not Null.
    bool has_value = false;
    // Equal keys only for equal cells; else equal keys say nothing.
    bool exact = true;
};

// The keys of `column`, whose kind is Integers, Numbers or Texts. Ranks the
// column's distinct texts when it stored each only once.
ColumnKeys column_keys(SortRows& rows, std::size_t column, ColumnKind kind);

}  // namespace pelm::dictsort
