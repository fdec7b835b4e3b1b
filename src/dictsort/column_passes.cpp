#include "dictsort/column_passes.hpp"

#include <algorithm>
#include <numeric>

#include "dictsort/column_keys.hpp"
#include "dictsort/radix_sort.hpp"
#include "dictsort/row_order.hpp"
#include "dictsort/stable_sort.hpp"

namespace pelm::dictsort {
namespace {

// The reusable storage of the passes.
struct PassBuffers {
    KeyedHandles handles;
    KeyedHandles scratch;
    Vector<std::size_t> null_rows;
};

// Orders each run of equal keys by the full texts of its rows; the radix
// sort left each run in the order of the previous passes, which the stable
// sort of the run keeps for equal texts.
void order_tied_texts(const SortRows& rows, std::size_t column, bool descending,
                      std::span<KeyedHandle> handles) {
    auto less = [&](const KeyedHandle& x, const KeyedHandle& y) {
        const Ordering order =
            detail::compare_texts(rows.cells(x.row)[column], rows.cells(y.row)[column]);
        return (descending ? reversed(order) : order) == Ordering::Less;
    };
    for (std::size_t start = 0; start < handles.size();) {
        std::size_t end = start + 1;
        while (end < handles.size() && handles[end].key == handles[start].key) ++end;
        const std::span<KeyedHandle> run = handles.subspan(start, end - start);
        for (std::size_t i = 1; i < run.size(); ++i) {
            if (less(run[i], run[i - 1])) {
                stable_sort(run, less);
                break;
            }
        }
        start = end;
    }
}

// Sorts `order` stably by one column.
void sort_by_column(const SortRows& rows, std::size_t column, bool descending, ColumnKind kind,
                    std::span<std::size_t> order, PassBuffers& buffers) {
    const ColumnKeys keys = column_keys(rows, column, kind);
    // A descending column sorts the complements of its keys ascending, which
    // keeps equal keys in their order.
    const std::uint64_t direction = descending ? ~std::uint64_t{0} : 0;
    buffers.handles.clear();
    buffers.null_rows.clear();
    for (const std::size_t row : order) {
        if (!keys.null_rows.empty() && keys.null_rows[row] != 0) {
            buffers.null_rows.push_back(row);
        } else {
            buffers.handles.push_back({keys.keys[row] ^ direction, row});
        }
    }
    const std::span<KeyedHandle> handles(buffers.handles);
    radix_sort(handles, buffers.scratch);
    if (!keys.exact) order_tied_texts(rows, column, descending, handles);

    // Null sorts before every value, so after every value when descending.
    auto out = order.begin();
    if (!descending) out = std::copy(buffers.null_rows.begin(), buffers.null_rows.end(), out);
    for (const KeyedHandle& handle : handles) *out++ = handle.row;
    if (descending) std::copy(buffers.null_rows.begin(), buffers.null_rows.end(), out);
}

}  // namespace

std::optional<Vector<ColumnKind>> native_column_kinds(const SortRows& rows,
                                                      std::span<const SortColumn> columns) {
    Vector<ColumnKind> kinds;
    kinds.reserve(columns.size());
    for (std::size_t column = 0; column < columns.size(); ++column) {
        const ColumnKind kind = column_kind(rows, column);
        if (kind == ColumnKind::WideNumbers || kind == ColumnKind::Unkeyable) return std::nullopt;
        kinds.push_back(kind);
    }
    return kinds;
}

Vector<std::size_t> sort_column_by_column(const SortRows& rows,
                                          std::span<const SortColumn> columns,
                                          std::span<const ColumnKind> kinds) {
    Vector<std::size_t> order(rows.row_count());
    std::iota(order.begin(), order.end(), std::size_t{0});
    PassBuffers buffers;
    buffers.handles.reserve(order.size());
    buffers.scratch.resize(order.size());
    for (std::size_t column = columns.size(); column-- > 0;) {
        sort_by_column(rows, column, columns[column].descending, kinds[column], order, buffers);
    }
    return order;
}

}  // namespace pelm::dictsort
