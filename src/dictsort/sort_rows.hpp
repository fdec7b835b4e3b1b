// The rows of one multikeysort call.
//
// All cells live in one flat array, row after row, one cell per column in
// column order; row r holds cells [r*k, (r+1)*k). Each column keeps a summary
// of the kinds of its cells and a table of its distinct texts, both filled as
// the cells are made. Rows are built in list
// order, so r is also the row's item index: the position of its item in
// `items` when the row was built. The rows hold no item references (only
// Other cells hold references to cell values), so the items are fetched again
// by position once the sort is over.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <span>

#include "dictsort/column_kind.hpp"
#include "dictsort/distinct_texts.hpp"
#include "dictsort/sort_value.hpp"
#include "dictsort/text_arena.hpp"
#include "frame/alloc.hpp"
#include "frame/result.hpp"

namespace pelm::dictsort {

class SortRows {
public:
    // Reserves room for `row_capacity` rows of `column_count` cells.
    SortRows(std::size_t column_count, std::size_t row_capacity);
    SortRows(const SortRows&) = delete;
    SortRows& operator=(const SortRows&) = delete;
    ~SortRows();

    std::size_t column_count() const noexcept { return column_count_; }
    std::size_t row_count() const noexcept { return row_count_; }

    std::span<const SortValue> cells(std::size_t row) const noexcept {
        return {cells_.get() + row * column_count_, column_count_};
    }
    const SortValue& cell(std::size_t row, std::size_t column) const noexcept {
        return cells_.get()[row * column_count_ + column];
    }
    const ColumnSummary& summary(std::size_t column) const noexcept { return summaries_[column]; }
    DistinctTexts& distinct_texts(std::size_t column) noexcept { return distinct_[column]; }

    // Adds the row of one item: one cell per column, fetched in column order
    // with a new key from each column's key maker.
    void add_row(PyObject* item, std::span<const FreshStr> column_keys);

private:
    struct FreeCells {
        void operator()(SortValue* cells) const noexcept { std::free(cells); }
    };

    std::size_t column_count_;
    std::size_t row_count_ = 0;
    // Declared before the cells, so that they outlive them.
    TextArena texts_;
    Vector<DistinctTexts> distinct_;
    Vector<ColumnSummary> summaries_;
    // Room for every cell, allocated once; the cells made so far are the
    // first cell_count_.
    std::unique_ptr<SortValue, FreeCells> cells_;
    std::size_t cell_count_ = 0;
};

// Builds the rows of the first `count` items of the list `items`, item after
// item by position. The subscripts may run Python code that shortens the
// list; fetching a position that is gone fails with the interpreter's
// IndexError.
Result<void> build_sort_rows(PyObject* items, Py_ssize_t count, std::span<const SortColumn> columns,
                             SortRows& rows);

}  // namespace pelm::dictsort
