// The sort of a multikeysort call: the stable order of the rows by
// row_is_less, as row handles.
#pragma once

#include <cstddef>
#include <span>

#include "dictsort/sort_rows.hpp"
#include "dictsort/sort_value.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

// The row handles of `rows` (their item indices) in stable sorted order. The
// comparisons may run Python code; whatever it answers, every handle comes
// back exactly once.
Vector<std::size_t> sorted_row_order(SortRows& rows, std::span<const SortColumn> columns);

}  // namespace pelm::dictsort
