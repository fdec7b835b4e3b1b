#include "dictsort/row_sort.hpp"

#include <numeric>

#include "dictsort/native_order.hpp"
#include "dictsort/order_keys.hpp"
#include "dictsort/row_order.hpp"
#include "dictsort/stable_sort.hpp"

namespace pelm::dictsort {
namespace {

Vector<std::size_t> sort_keyed(const SortRows& rows, std::span<const SortColumn> columns,
                               KeyedHandles handles) {
    stable_sort(std::span<KeyedHandle>(handles), [&](const KeyedHandle& x, const KeyedHandle& y) {
        if (x.key != y.key) return x.key < y.key;
        return row_is_less(columns, rows.cells(x.row), rows.cells(y.row));
    });
    Vector<std::size_t> order(handles.size());
    for (std::size_t i = 0; i < handles.size(); ++i) order[i] = handles[i].row;
    return order;
}

Vector<std::size_t> sort_plain(const SortRows& rows, std::span<const SortColumn> columns) {
    Vector<std::size_t> order(rows.row_count());
    std::iota(order.begin(), order.end(), std::size_t{0});
    stable_sort(std::span<std::size_t>(order), [&](std::size_t x, std::size_t y) {
        return row_is_less(columns, rows.cells(x), rows.cells(y));
    });
    return order;
}

}  // namespace

Vector<std::size_t> sorted_row_order(SortRows& rows, std::span<const SortColumn> columns) {
    // Keys only pay off when there are comparisons enough to amortise them.
    if (rows.row_count() > insertion_sort_limit && !columns.empty()) {
        if (std::optional<Vector<std::size_t>> order = native_sorted_order(rows, columns)) {
            return std::move(*order);
        }
        if (std::optional<KeyedHandles> handles = keyed_row_handles(rows, columns)) {
            return sort_keyed(rows, columns, std::move(*handles));
        }
    }
    return sort_plain(rows, columns);
}

}  // namespace pelm::dictsort
