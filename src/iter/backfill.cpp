// backfill(values): every None item of a list replaced by the nearest item
// before it that is not None; leading None items take the first such item.
//
// The body runs no Python code: the items are read from the list's own
// storage and None is recognised by identity, so the methods that a list
// subclass may define are never called and the list cannot change while it is
// read. The only allocation is the result list itself.
#include <Python.h>

#include <algorithm>

#include "argument_tables.hpp"
#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"
#include "frame/fault.hpp"
#include "functions.hpp"

namespace pelm {
namespace {

CallOutcome backfill_list(PyObject* values) {
    const Py_ssize_t n = PyList_GET_SIZE(values);
    if (n == 0) return made_object(PyList_New(0));

    Py_ssize_t first_index = 0;
    while (first_index < n && PyList_GET_ITEM(values, first_index) == Py_None) ++first_index;
    // Nothing to fill with: the caller's list is the answer, unchanged.
    if (first_index == n) return OwnedRef::new_ref(values);

    // Held across the allocation below: a collection it triggers may run a
    // finaliser that changes the caller's list.
    OwnedRef first = OwnedRef::new_ref(PyList_GET_ITEM(values, first_index));
    OwnedRef result = made_object(PyList_New(n));

    // The items are read afresh from index 0. Should the list have shrunk
    // meanwhile, the first index past its end fails as a fetch by index would.
    const Py_ssize_t readable = std::min(n, PyList_GET_SIZE(values));
    PyObject* last = first.get();
    for (Py_ssize_t j = 0; j < readable; ++j) {
        PyObject* item = PyList_GET_ITEM(values, j);
        if (item != Py_None) last = item;
        PyList_SET_ITEM(result.get(), j, Py_NewRef(last));
    }
    if (readable < n) {
        Result<OwnedRef> missing = list_item_at(values, readable);
        if (!missing) return missing.take_error();
        fault("list item past the end was fetched");
    }
    return result;
}

}  // namespace

CallOutcome backfill_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[1] = {nullptr};
    if (Result<void> bound = bind_fastcall_arguments(tables::backfill, args, nargs, kwnames, slots);
        !bound) {
        return bound.take_error();
    }
    PyObject* values = slots[0];
    if (!is_list(values)) {
        return annotate_argument_error("values",
                                       type_mismatch_error(BorrowedRef(values), &PyList_Type));
    }
    return backfill_list(values);
}

}  // namespace pelm
