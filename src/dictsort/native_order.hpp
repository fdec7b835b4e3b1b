// The sort of rows whose every column C++ orders by itself.
//
// When no column holds an Other cell, a Str beside a number, a NaN, or an
// Int too wide for a double beside a Float, every column has an order of its
// own and the row order is their lexicographic order, a strict weak order.
// Its stable order is then one and the same whichever algorithm finds it, and
// no comparison can run Python code.
//
// Each column's keys (column_keys.hpp) lose the bits that are the same in
// every key (bit_compaction.hpp) and become a field of an order record
// (order_records.hpp), first column highest, with a bit that puts Null first
// when the column has both Null and values, complemented for a descending
// column. The fields fill one word with the row number when they fit, else
// two. A radix sort of the records then gives the stable order, except among
// rows whose keys tie while their cells may still differ: a text key that is
// only a window of its texts, or columns past the room of two words. Such
// runs are sorted again by the full row comparison.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "dictsort/sort_rows.hpp"
#include "dictsort/sort_value.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

// The row handles (item indices) in stable sorted order, when every column is
// ordered by C++ itself (Integers, Numbers or Texts); nothing otherwise.
std::optional<Vector<std::size_t>> native_sorted_order(SortRows& rows,
                                                       std::span<const SortColumn> columns);

}  // namespace pelm::dictsort
