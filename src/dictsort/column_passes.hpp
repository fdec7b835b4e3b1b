// The sort of rows whose every column C++ orders by itself: one stable pass
// per column, least significant column first.
//
// When no column holds an Other cell, a Str beside a number, a NaN, or an
// Int too wide for a double beside a Float, every column has an order of its
// own and the row order is their lexicographic order, a strict weak order.
// Its stable order is then one and the same whichever algorithm finds it, no
// comparison can run Python code, and sorting stably by each column in turn,
// from the last to the first, finds it: each pass is a radix sort of the
// column's keys (column_keys.hpp), Null put first or, in a descending column,
// last, and ties of inexact text keys ordered by their full texts.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "dictsort/column_kind.hpp"
#include "dictsort/sort_rows.hpp"
#include "dictsort/sort_value.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

// The kind of every column, when each is Integers, Numbers or Texts.
std::optional<Vector<ColumnKind>> native_column_kinds(const SortRows& rows,
                                                      std::span<const SortColumn> columns);

// The row handles in stable sorted order, for columns of the given kinds.
Vector<std::size_t> sort_column_by_column(const SortRows& rows,
                                          std::span<const SortColumn> columns,
                                          std::span<const ColumnKind> kinds);

}  // namespace pelm::dictsort
