// same_order(ref_list, comp): whether every item of ref_list occurs in comp
// and the places of their first occurrences never move backwards.
//
// Each item of ref_list is searched from the start of comp with `item ==
// comp[j]`, the ref_list item on the left, and the truth of the result; no
// identity shortcut, so a NaN is never found. The order is tested only once
// every item has been found. A comparison may run Python code that changes
// either list, so every item is held by a new reference while it is compared
// and comp is read afresh by index, up to the size it had at the start.
// Pairs of exact str, int or float are decided without the rich comparison,
// but with the recursion check that it would have made.
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <optional>

#include "argument_tables.hpp"
#include "frame/args.hpp"
#include "frame/compat.hpp"
#include "frame/error.hpp"
#include "functions.hpp"
#include "iter/quick_equality.hpp"

namespace pelm {
namespace {

// item == candidate, by the interpreter's rich comparison and truth test.
Result<bool> python_equal(PyObject* item, PyObject* candidate) {
    OwnedRef outcome = OwnedRef::steal(PyObject_RichCompare(item, candidate, Py_EQ));
    if (!outcome) return taken_error();
    const int truth = PyObject_IsTrue(outcome.get());
    if (truth < 0) return taken_error();
    return truth != 0;
}

// The rich comparison checks the recursion depth before it compares
// (RecursionError "maximum recursion depth exceeded in comparison"); a quick
// verdict must fail the same way. Only Python code changes the depth or the
// limit, and it runs in slow comparisons alone, so one check holds for every
// quick verdict until the next slow comparison.
class QuickVerdictDepthCheck {
public:
    // False when the depth is past the limit: the interpreter then holds the RecursionError.
    bool check() noexcept {
        if (passed_) return true;
        if (Py_EnterRecursiveCall(" in comparison") != 0) return false;
        Py_LeaveRecursiveCall();
        passed_ = true;
        return true;
    }
    void after_slow_comparison() noexcept { passed_ = false; }

private:
    bool passed_ = false;
};

// The index of the first of comp[0 .. searched - 1] equal to `item`.
Result<std::optional<Py_ssize_t>> first_match(PyObject* item, PyObject* comp, Py_ssize_t searched,
                                              QuickVerdictDepthCheck& depth_check) {
    const iter::QuickComparand quick(item);
    for (Py_ssize_t j = 0; j < searched; ++j) {
        // A comparison may have shrunk comp: past its end the fetch fails with
        // the interpreter's IndexError.
        if (j >= PyList_GET_SIZE(comp)) {
            Result<OwnedRef> missing = list_item_at(comp, j);
            if (!missing) return missing.take_error();
        }
        // Nothing runs between this read and a quick verdict.
        PyObject* candidate = PyList_GET_ITEM(comp, j);
        switch (quick.compare(candidate)) {
            case iter::QuickEquality::equal:
                if (!depth_check.check()) return taken_error();
                return std::optional<Py_ssize_t>(j);
            case iter::QuickEquality::unequal:
                if (!depth_check.check()) return taken_error();
                continue;
            case iter::QuickEquality::undecided:
                break;
        }
        const OwnedRef held = OwnedRef::new_ref(candidate);
        Result<bool> equal = python_equal(item, held.get());
        depth_check.after_slow_comparison();
        if (!equal) return equal.take_error();
        if (*equal) return std::optional<Py_ssize_t>(j);
    }
    return std::optional<Py_ssize_t>();
}

Result<bool> items_in_same_order(PyObject* ref_list, PyObject* comp) {
    const Py_ssize_t n = PyList_GET_SIZE(ref_list);
    const Py_ssize_t m = PyList_GET_SIZE(comp);
    // Every item needs its own place, duplicates included.
    if (m < n) return false;
    Vector<std::size_t> positions;
    positions.reserve(static_cast<std::size_t>(n));
    QuickVerdictDepthCheck depth_check;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Result<OwnedRef> item = list_item_at(ref_list, i);
        if (!item) return item.take_error();
        Result<std::optional<Py_ssize_t>> found = first_match(item->get(), comp, m, depth_check);
        if (!found) return found.take_error();
        if (!found->has_value()) return false;
        positions.push_back(static_cast<std::size_t>(**found));
    }
    // Equal positions pass: two items may match the same item of comp.
    return std::is_sorted(positions.begin(), positions.end());
}

}  // namespace

CallOutcome same_order_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[2] = {nullptr, nullptr};
    if (Result<void> bound =
            bind_fastcall_arguments(tables::same_order, args, nargs, kwnames, slots);
        !bound) {
        return bound.take_error();
    }
    PyObject* ref_list = slots[0];
    PyObject* comp = slots[1];
    if (!is_list(ref_list)) {
        return annotate_argument_error("ref_list",
                                       type_mismatch_error(BorrowedRef(ref_list), &PyList_Type));
    }
    if (!is_list(comp)) {
        return annotate_argument_error("comp",
                                       type_mismatch_error(BorrowedRef(comp), &PyList_Type));
    }
    Result<bool> same = items_in_same_order(ref_list, comp);
    if (!same) return same.take_error();
    return OwnedRef::new_ref(*same ? Py_True : Py_False);
}

}  // namespace pelm
