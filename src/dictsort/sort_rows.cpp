#include "dictsort/sort_rows.hpp"

#include <limits>

#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"

namespace pelm::dictsort {

SortRows::SortRows(std::size_t column_count, std::size_t row_capacity)
    : column_count_(column_count) {
    if (column_count != 0 &&
        row_capacity > std::numeric_limits<std::size_t>::max() / column_count) {
        allocation_failed(std::numeric_limits<std::size_t>::max());
    }
    cells_.reserve(row_capacity * column_count);
}

void SortRows::add_row(PyObject* item, std::span<const FreshStr> column_keys) {
    for (const FreshStr& column_key : column_keys) {
        cells_.push_back(extract_sort_value(item, column_key, texts_));
    }
    ++row_count_;
}

Result<void> build_sort_rows(PyObject* items, Py_ssize_t count, std::span<const SortColumn> columns,
                             SortRows& rows) {
    Vector<FreshStr> column_keys;
    column_keys.reserve(columns.size());
    for (const SortColumn& column : columns) column_keys.emplace_back(view(column.name));
    for (Py_ssize_t position = 0; position < count; ++position) {
        Result<OwnedRef> item = list_item_at(items, position);
        if (!item) return item.take_error();
        rows.add_row(item->get(), column_keys);
    }
    return {};
}

}  // namespace pelm::dictsort
