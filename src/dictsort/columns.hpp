// Which columns a multikeysort call sorts by.
//
// parse_sort_columns reads the `columns` argument tolerantly: a str is one
// column, a list gives one column per str element (other elements are
// skipped), any other sequence gives one column per item only when every item
// is a str, and anything else gives no columns. A name with a leading '-' is
// a descending column named by the rest.
//
// keep_columns_found_in_dicts then drops every column whose name is no str
// key of any dict item, so a column counts as soon as one dict has it.
#pragma once

#include <Python.h>

#include "dictsort/sort_value.hpp"
#include "frame/alloc.hpp"

namespace pelm::dictsort {

using SortColumns = Vector<SortColumn>;

// The columns named by `columns`, which is not None. Every exception raised
// while reading it is discarded.
SortColumns parse_sort_columns(PyObject* columns);

// The columns, in their order and with duplicates, whose name is the UTF-8
// text of a str key of at least one dict (or dict subclass) item of the list
// `items`. Runs no Python code.
SortColumns keep_columns_found_in_dicts(PyObject* items, SortColumns columns);

}  // namespace pelm::dictsort
