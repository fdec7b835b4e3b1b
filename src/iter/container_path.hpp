// The path of lists and tuples that collapse is opening: from the argument
// tuple at depth 0 down to the innermost container whose items are being read.
//
// Each open container has a link that remembers where its items are and how
// far they have been read, so the walk needs no recursion. A container whose
// last item is the container being entered has nothing left to read: its link
// is handed to the child instead of growing the stack, so a long chain of
// nested one-item lists is walked in constant memory.
//
// Input that contains itself has no finite flattening: the walk would enter
// one of the containers on its path again and, since nothing changes while it
// runs, repeat the same descent for ever. Each container entered is compared
// with those at depths 0 to 7 of the current path, which catches at once
// every loop that starts there, and with one checkpoint: the container at
// the highest power-of-two depth below it. Once the path repeats itself with
// period p from depth a, the checkpoint at a power of two 2^k >= max(a, p)
// matches the container p levels below it, so a loop that starts deeper is
// caught before the path is three times as deep as the loop's end. A match is
// always a real loop, since the containers compared with lie on the current
// path. Those are kept by depth: the container last entered at a depth above
// the current one is the current path's, because the walk passed through
// every shallower depth to get where it is.
//
// The containers are borrowed. That is sound only while no Python code runs,
// which holds for collapse: it calls no method of the caller's objects and
// allocates nothing that the garbage collector counts while it walks.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>

#include "frame/alloc.hpp"

namespace pelm::iter {

class ContainerPath {
public:
    struct Link {
        PyObject* const* items;
        Py_ssize_t size;
        Py_ssize_t next;    // index of the next item to read
        std::size_t depth;  // of the container, the argument tuple being 0
    };

    explicit ContainerPath(PyObject* root) {
        remember(root, 0);
        links_.push_back(open(root, 0));
    }

    bool empty() const noexcept { return links_.empty(); }
    Link& innermost() noexcept { return links_.back(); }
    void leave() noexcept { links_.pop_back(); }

    // Enters a list or a tuple (tested by the caller) that is the item just
    // read from the innermost container. False, entering nothing, when the
    // container is found to lie on its own path.
    [[nodiscard]] bool enter(PyObject* container) {
        Link& parent = links_.back();
        const std::size_t depth = parent.depth + 1;
        if (closes_loop(container, depth)) return false;
        remember(container, depth);
        if (parent.next == parent.size) {
            parent = open(container, depth);
        } else {
            links_.push_back(open(container, depth));
        }
        return true;
    }

private:
    static constexpr std::size_t scanned_depths = 8;  // a power of two, below every checkpoint

    // Its items are read from its own storage, which cannot change while no
    // Python code runs.
    static Link open(PyObject* container, std::size_t depth) noexcept {
        if (PyList_Check(container)) {
            return Link{reinterpret_cast<PyListObject*>(container)->ob_item,
                        PyList_GET_SIZE(container), 0, depth};
        }
        return Link{reinterpret_cast<PyTupleObject*>(container)->ob_item,
                    PyTuple_GET_SIZE(container), 0, depth};
    }

    bool closes_loop(PyObject* container, std::size_t depth) const noexcept {
        const std::size_t scanned = std::min(depth, scanned_depths);
        for (std::size_t d = 0; d < scanned; ++d) {
            if (shallow_[d] == container) return true;
        }
        return depth > scanned_depths &&
               checkpoints_[std::bit_width(depth - 1) - 1] == container;
    }

    void remember(PyObject* container, std::size_t depth) noexcept {
        if (depth < scanned_depths) {
            shallow_[depth] = container;
        } else if (std::has_single_bit(depth)) {
            checkpoints_[std::bit_width(depth) - 1] = container;
        }
    }

    Vector<Link> links_;
    std::array<PyObject*, scanned_depths> shallow_{};  // by depth
    std::array<PyObject*, 64> checkpoints_{};           // by log2 of the depth
};

}  // namespace pelm::iter
