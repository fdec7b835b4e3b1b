#include "dictsort/sort_rows.hpp"

#include <algorithm>
#include <limits>

#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"

namespace pelm::dictsort {

namespace {

// A column holds few distinct texts when it has at most one for every this
// many rows (or this many in all): then they are stored once each and ranked.
constexpr std::size_t rows_per_distinct_text = 16;

}  // namespace

SortRows::SortRows(std::size_t column_count, std::size_t row_capacity)
    : column_count_(column_count), summaries_(column_count) {
    if (column_count != 0 &&
        row_capacity > std::numeric_limits<std::size_t>::max() / column_count / sizeof(SortValue)) {
        allocation_failed(std::numeric_limits<std::size_t>::max());
    }
    const std::size_t max_distinct =
        std::max(rows_per_distinct_text, row_capacity / rows_per_distinct_text);
    distinct_.reserve(column_count);
    for (std::size_t c = 0; c < column_count; ++c) distinct_.emplace_back(max_distinct, row_capacity);
    cells_.reset(static_cast<SortValue*>(checked_malloc(row_capacity * column_count * sizeof(SortValue))));
}

SortRows::~SortRows() {
    // Only Other cells own something: their values, released in row order.
    const bool owns_values = std::any_of(summaries_.begin(), summaries_.end(), [](const ColumnSummary& summary) {
        return summary.has(SortValue::Kind::Other);
    });
    if (!owns_values) return;
    for (std::size_t i = 0; i < cell_count_; ++i) std::destroy_at(cells_.get() + i);
}

void SortRows::add_row(PyObject* item, std::span<const FreshStr> column_keys) {
    for (std::size_t c = 0; c < column_keys.size(); ++c) {
        const SortValue* cell = std::construct_at(
            cells_.get() + cell_count_,
            extract_sort_value(item, column_keys[c], ColumnTexts(texts_, distinct_[c])));
        ++cell_count_;
        summaries_[c].note(*cell);
    }
    ++row_count_;
}

Result<void> build_sort_rows(PyObject* items, Py_ssize_t count, std::span<const SortColumn> columns,
                             SortRows& rows) {
    Vector<FreshStr> column_keys;
    column_keys.reserve(columns.size());
    for (const SortColumn& column : columns) column_keys.emplace_back(view(column.name));
    for (Py_ssize_t position = 0; position < count; ++position) {
        // What list_item_at does, without its result wrapper on the way of
        // every row: a position past the end gets its IndexError from it.
        if (position >= PyList_GET_SIZE(items)) return list_item_at(items, position).take_error();
        const OwnedRef item = OwnedRef::new_ref(PyList_GET_ITEM(items, position));
        rows.add_row(item.get(), column_keys);
    }
    return {};
}

}  // namespace pelm::dictsort
