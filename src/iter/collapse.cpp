// collapse(*args): nested lists and tuples flattened into one new list.
//
// The walk is depth-first and pre-order, left to right: each argument is
// flattened completely before the next, and a container's items take its
// place in order. Lists, tuples and their subclasses are opened through their
// stored items, so no method of theirs is called; every other object is a
// leaf and goes into the result as the caller's own object.
//
// No Python code runs during the walk, so the items are read straight from
// the containers' storage: a fetch by index cannot fail and nothing is ever
// skipped. A container that holds itself, directly or through other
// containers, has no finite flattening; meeting one of the containers that
// is still being opened ends the call with ValueError.
#include <Python.h>

#include <cstring>
#include <utility>

#include "argument_tables.hpp"
#include "frame/args.hpp"
#include "frame/error.hpp"
#include "functions.hpp"
#include "iter/container_path.hpp"

namespace pelm {
namespace {

constexpr unsigned long container_flags = Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_TUPLE_SUBCLASS;

bool is_container(PyObject* object) noexcept {
    return (Py_TYPE(object)->tp_flags & container_flags) != 0;
}

constexpr Py_ssize_t prefetch_distance = 4;

PyErr circular_reference_error() noexcept {
    return PyErr(ErrorRecipe::fixed_text(PyExc_ValueError, "Circular reference detected"));
}

// Leaves gathered for the result, each holding a new reference. Plain
// pointers let the vector grow by copying memory; the references are handed
// to the result list, or released if the walk fails.
class LeafRefs {
public:
    LeafRefs() = default;
    LeafRefs(LeafRefs&&) noexcept = default;
    LeafRefs& operator=(LeafRefs&&) noexcept = default;
    ~LeafRefs() {
        for (PyObject* leaf : leaves_) release_owned_ref(leaf);
    }

    // Takes the reference while the leaf's header is at hand.
    void add(PyObject* leaf) { leaves_.push_back(Py_NewRef(leaf)); }

    // A new list that takes over every reference.
    OwnedRef into_list() && {
        OwnedRef list = made_object(PyList_New(static_cast<Py_ssize_t>(leaves_.size())));
        if (!leaves_.empty()) {
            std::memcpy(reinterpret_cast<PyListObject*>(list.get())->ob_item, leaves_.data(),
                        leaves_.size() * sizeof(PyObject*));
        }
        leaves_.clear();
        return list;
    }

private:
    Vector<PyObject*> leaves_;
};

// The leaves of `args` (a tuple) in walk order.
Result<LeafRefs> collect_leaves(PyObject* args) {
    LeafRefs leaves;
    iter::ContainerPath path(args);
    while (!path.empty()) {
        iter::ContainerPath::Link& link = path.innermost();
        PyObject* container = nullptr;
        Py_ssize_t next = link.next;
        // The items lie scattered in memory, and reading each one's type
        // waits on memory: ask for the header of the item a few places ahead.
        while (next < link.size) {
            if (next + prefetch_distance < link.size) {
                __builtin_prefetch(link.items[next + prefetch_distance]);
            }
            PyObject* item = link.items[next++];
            if (is_container(item)) {
                container = item;
                break;
            }
            leaves.add(item);
        }
        link.next = next;
        if (container == nullptr) {
            path.leave();
        } else if (!path.enter(container)) {  // `link` is not used past this point
            return circular_reference_error();
        }
    }
    return leaves;
}

}  // namespace

CallOutcome collapse_wrapper(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    OwnedRef arguments = made_object(PyTuple_New(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        PyTuple_SET_ITEM(arguments.get(), i, Py_NewRef(args[i]));
    }
    if (kwnames != nullptr) {
        // collapse names no parameter, so the first keyword is refused.
        if (Result<void> matched =
                match_keyword_arguments(tables::collapse, kwnames, args + nargs, {});
            !matched) {
            return matched.take_error();
        }
    }
    Result<LeafRefs> leaves = collect_leaves(arguments.get());
    if (!leaves) return leaves.take_error();
    // Made at its final size, holding the references the walk took.
    return std::move(*leaves).into_list();
}

}  // namespace pelm
