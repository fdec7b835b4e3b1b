#include "dictsort/column_passes.hpp"

#include <algorithm>
#include <numeric>

#include "dictsort/column_keys.hpp"
#include "dictsort/radix_sort.hpp"
#include "dictsort/stable_sort.hpp"
#include "dictsort/value_keys.hpp"

namespace pelm::dictsort {
namespace {

// The reusable storage of the passes.
struct PassBuffers {
    KeyedHandles handles;
    KeyedHandles scratch;
    Vector<std::size_t> null_rows;
};

// Runs of at most this many handles are sorted by comparisons rather than
// by counting passes, whose tables would cost more than the run.
constexpr std::size_t small_run = 64;

// Sorts handles stably by key.
void sort_by_key(std::span<KeyedHandle> handles, std::span<KeyedHandle> scratch) {
    if (handles.size() <= small_run) {
        stable_sort(handles,
                    [](const KeyedHandle& x, const KeyedHandle& y) { return x.key < y.key; });
    } else {
        radix_sort(handles, scratch.first(handles.size()));
    }
}

// Decides the ties of text window keys whose texts go on, window after
// window, the handles holding the keys of the windows at `first_window`: each
// run of equal keys that goes on gets the keys of its texts' next window and
// is sorted stably by them, which keeps the order of the previous passes among
// equal texts. The runs to do wait on a stack, so texts of any length need no
// deep recursion.
void order_tied_texts(const SortRows& rows, std::size_t column, std::uint64_t direction,
                      std::size_t first_window, std::span<KeyedHandle> handles,
                      std::span<KeyedHandle> scratch) {
    struct Run {
        std::size_t start;
        std::size_t end;
        std::size_t window;
    };
    Vector<Run> pending;
    // Equal keys (which the sort may have compacted) mean texts equal up to
    // the window's end; those that go on past it are tied so far.
    auto text_of = [&](const KeyedHandle& handle) {
        return rows.cells(handle.row)[column].text().view();
    };
    auto queue_ties = [&](std::size_t start, std::size_t end, std::size_t window) {
        for (std::size_t i = start; i < end;) {
            std::size_t j = i + 1;
            while (j < end && handles[j].key == handles[i].key) ++j;
            if (j - i > 1 && text_of(handles[i]).size() > window + text_window) {
                pending.push_back({i, j, window});
            }
            i = j;
        }
    };
    queue_ties(0, handles.size(), first_window);
    while (!pending.empty()) {
        const Run run = pending.back();
        pending.pop_back();
        const std::span<KeyedHandle> tied = handles.subspan(run.start, run.end - run.start);
        const std::size_t window = run.window + text_window;
        for (KeyedHandle& handle : tied) {
            handle.key = text_window_key(text_of(handle), window) ^ direction;
        }
        sort_by_key(tied, scratch);
        queue_ties(run.start, run.end, window);
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
    if (!keys.exact) {
        order_tied_texts(rows, column, direction, keys.first_window, handles, buffers.scratch);
    }

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
