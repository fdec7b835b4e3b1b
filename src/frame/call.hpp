// The call frame: the road of every call from the interpreter's fast-call
// entry to the result or the raised exception.
//
// guarded_call refuses a thread whose ATTACH_COUNT is negative, raises the
// count for the call, drains the pending releases, runs the wrapper under the
// guard that catches internal faults, and raises a failure (a PyErr, or
// pyo3_runtime.PanicException for a caught fault). No C++ exception ever
// leaves an entry: one that escapes the guard aborts the process.
#pragma once

#include <Python.h>

#include "frame/result.hpp"

namespace pelm {

using Wrapper = CallOutcome (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

PyObject* guarded_call(Wrapper wrapper, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept;

// The fast-call entry of one function: guarded_call with its wrapper.
template <Wrapper W>
PyObject* fastcall_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept {
    return guarded_call(W, args, nargs, kwnames);
}

// Entering and leaving the frame, for guarded_call and the module's
// execution step: refuses a negative ATTACH_COUNT (which ends the process),
// raises the count, drains pending releases; the destructor lowers the count.
class FrameEntry {
public:
    FrameEntry() noexcept;
    ~FrameEntry() { ATTACH_COUNT -= 1; }
    FrameEntry(const FrameEntry&) = delete;
    FrameEntry& operator=(const FrameEntry&) = delete;
};

// Runs `body` under the fault guard. A caught internal fault becomes the
// PanicException error; any other C++ exception is a fault too. The result
// is the body's own Result.
template <class T, class Body>
Result<T> run_guarded(Body&& body) noexcept;

PyErr error_from_current_exception() noexcept;

template <class T, class Body>
Result<T> run_guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return error_from_current_exception();
    }
}

}  // namespace pelm
