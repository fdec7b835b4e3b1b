// What the cells of one column allow the sort to do without the interpreter.
//
// A column whose cells C++ compares by itself in a consistent way has an
// order of its own (a total preorder: Null first, then the values), so the
// column can be keyed, and a sort may use any algorithm on it. The kinds:
//   Integers     - Null and Int cells: Int against Int is exact;
//   Numbers      - Null, Int and Float cells without NaN, every Int exact as
//                  a double: all compare as doubles;
//   WideNumbers  - the same with an Int beyond 2^53: Int against Int is exact
//                  but against Float rounded, which is no consistent order;
//                  only the doubles' order can be told (a smaller double
//                  means a smaller cell);
//   Texts        - Null and Str cells: by UTF-8 bytes;
//   Unkeyable    - an Other cell, a Str beside a number (both compared by the
//                  interpreter), or a NaN (equal to every number).
#pragma once

#include <cstddef>

#include "dictsort/sort_rows.hpp"

namespace pelm::dictsort {

enum class ColumnKind { Integers, Numbers, WideNumbers, Texts, Unkeyable };

ColumnKind column_kind(const SortRows& rows, std::size_t column);

}  // namespace pelm::dictsort
