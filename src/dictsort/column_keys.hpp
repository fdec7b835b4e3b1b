// The keys of one natively ordered column: one unsigned 64-bit number per
// row whose order is the order of the row's cell (ascending; Null aside).
//
//   Integers  the integer itself;
//   Numbers   the double;
//   Texts     the bytes after the prefix that every text of the column
//             shares: dates of one decade, ids with a common stem, names of
//             one pattern mostly differ within the next few bytes. When every
//             rest fits in 7 bytes, the key is those bytes and the rest's
//             length, which makes it exact; otherwise the first 8 bytes of
//             the rest, and texts with equal keys are compared in full.
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
    // Equal keys only for equal cells; else ties need a full comparison.
    bool exact = true;
};

// The keys of `column`, whose kind is Integers, Numbers or Texts.
ColumnKeys column_keys(const SortRows& rows, std::size_t column, ColumnKind kind);

}  // namespace pelm::dictsort
