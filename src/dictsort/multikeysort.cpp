// multikeysort(items, columns, inplace=False): sorts a list of dicts by
// several columns, each ascending or, named with a leading '-', descending.
//
// The call runs these stages, each at most once:
//   1. columns: None ends the call with the items in their given order;
//   2. the columns that no dict item has are dropped; none left ends the call
//      the same way;
//   3. rows: every cell is fetched and converted exactly once, item after
//      item, column after column (n * k subscripts, whatever the sort does);
//   4. the stable sort of row handles, calling back into Python only for
//      cells that C++ cannot compare itself;
//   5. the length check: a list whose length changed while Python code ran
//      in stages 3 and 4 fails with ValueError "list modified during sort";
//   6. the items are read again by position (the rows hold no item
//      references, so an item replaced meanwhile takes the place of the row
//      built from its position) and returned in sorted order as a new list,
//      or written back into `items`;
//   7. the rows are released, and with them the cell values they held.
#include <source_location>
#include <span>

#include "argument_tables.hpp"
#include "dictsort/columns.hpp"
#include "dictsort/inplace_flag.hpp"
#include "dictsort/row_sort.hpp"
#include "dictsort/sort_rows.hpp"
#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "functions.hpp"

namespace pelm {
namespace dictsort {
namespace {

constexpr std::string_view list_modified_text = "list modified during sort";

// New references to the first `count` items, in list order. No Python code
// runs from here until the references are used, so the slots are read
// directly. Taking them in list order visits the items in the order of their
// slots instead of at random; they are put in sorted order by moving the
// references.
OwnedRefVec items_by_position(PyObject* items, std::size_t count) {
    OwnedRefVec by_position;
    by_position.reserve(count);
    for (std::size_t position = 0; position < count; ++position) {
        by_position.push_back(OwnedRef::new_ref(PyList_GET_ITEM(items, position)));
    }
    return by_position;
}

// What a call that sorts nothing returns: with `inplace` nothing (the list is
// not touched), else a new list of the items in their given order. An empty
// reference stands for None.
OwnedRef unsorted_result(PyObject* items, bool inplace,
                         std::source_location where = std::source_location::current()) {
    if (inplace) return {};
    const auto count = static_cast<std::size_t>(PyList_GET_SIZE(items));
    return list_from_owned_refs(items_by_position(items, count), where);
}

// The reference of the item at `row`, taken from `by_position`. Each row
// handle occurs once in the sorted order, so no reference is taken twice.
OwnedRef take_row_item(OwnedRefVec& by_position, std::size_t row) {
    if (row >= by_position.size() || !by_position[row]) {
        fault("index out of bounds: a row handle that is not one of the rows");
    }
    return std::move(by_position[row]);
}

// A new list of the items in sorted order. The references are all held
// before the list is made, so Python code that making it may run (a garbage
// collection) cannot change what the result holds; each is moved straight
// from its position to its sorted slot.
OwnedRef new_sorted_list(OwnedRefVec& by_position, std::span<const std::size_t> order,
                         std::source_location where = std::source_location::current()) {
    OwnedRef list = made_object(PyList_New(static_cast<Py_ssize_t>(order.size())), where);
    for (std::size_t i = 0; i < order.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                        take_row_item(by_position, order[i]).release());
    }
    return list;
}

// Writes the items in sorted order to positions 0 to n - 1. Each write hands
// its reference to the list, which releases the item that the slot held; that
// release may run Python code that shortens the list, so a write can fail.
// The references not yet written are released with `by_position`.
Result<void> write_sorted(PyObject* items, OwnedRefVec& by_position,
                          std::span<const std::size_t> order) {
    for (std::size_t i = 0; i < order.size(); ++i) {
        OwnedRef item = take_row_item(by_position, order[i]);
        if (PyList_SetItem(items, static_cast<Py_ssize_t>(i), item.release()) < 0) {
            return taken_error();
        }
    }
    return {};
}

// The body: a new list, an empty reference for None (in place), or the error.
Result<OwnedRef> multikeysort(PyObject* items, PyObject* columns, bool inplace) {
    if (columns == Py_None) return unsorted_result(items, inplace);
    const SortColumns kept = keep_columns_found_in_dicts(items, parse_sort_columns(columns));
    if (kept.empty()) return unsorted_result(items, inplace);

    // The rows live until the call returns, after the result is made: the
    // values that only their Other cells hold are released last, so a
    // finaliser that changes the list cannot affect the length check or the
    // items that the result takes.
    const Py_ssize_t count = PyList_GET_SIZE(items);
    SortRows rows(kept.size(), static_cast<std::size_t>(count));
    if (Result<void> built = build_sort_rows(items, count, kept, rows); !built) {
        return built.take_error();
    }
    const Vector<std::size_t> order = sorted_row_order(rows, kept);

    if (PyList_GET_SIZE(items) != count) {
        return PyErr(ErrorRecipe::fixed_text(PyExc_ValueError, list_modified_text));
    }
    OwnedRefVec by_position = items_by_position(items, order.size());
    if (!inplace) return new_sorted_list(by_position, order);
    if (Result<void> written = write_sorted(items, by_position, order); !written) {
        return written.take_error();
    }
    return OwnedRef();
}

}  // namespace
}  // namespace dictsort

CallOutcome multikeysort_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const ArgumentTable& table = tables::multikeysort;
    PyObject* slots[3] = {nullptr, nullptr, nullptr};
    if (Result<void> bound = bind_fastcall_arguments(table, args, nargs, kwnames, slots); !bound) {
        return bound.take_error();
    }
    PyObject* items = slots[0];
    if (!is_list(items)) {
        return annotate_argument_error(table.positional_names[0],
                                       type_mismatch_error(BorrowedRef(items), &PyList_Type));
    }
    bool inplace = false;
    if (slots[2] != nullptr) {
        Result<bool> flag = dictsort::extract_bool(slots[2]);
        if (!flag) return annotate_argument_error(table.positional_names[2], flag.take_error());
        inplace = *flag;
    }
    Result<OwnedRef> result = dictsort::multikeysort(items, slots[1], inplace);
    if (!result) return result.take_error();
    if (!*result) return none_object();
    return std::move(*result);
}

}  // namespace pelm
