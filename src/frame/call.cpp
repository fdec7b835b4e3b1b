#include "frame/call.hpp"

#include <exception>
#include <new>

#include <unistd.h>

#include "frame/fault.hpp"

namespace pelm {

FrameEntry::FrameEntry() noexcept {
    if (ATTACH_COUNT < 0) {
        fatal_fault(ATTACH_COUNT == -1
                        ? "Attaching a thread to the interpreter is prohibited while a __traverse__ "
                          "implementation is running."
                        : "Attaching a thread to the interpreter is currently prohibited.");
    }
    ATTACH_COUNT += 1;
    try {
        drain_pending_releases_if_any();
    } catch (...) {
        uncaught_fault_at_boundary();
    }
}

// Called inside a catch block: turns the exception in flight into the error
// that the guard raises.
PyErr error_from_current_exception() noexcept {
    try {
        throw;
    } catch (InternalFault& caught) {
        return panic_error(OwnedText(caught.message()));
    } catch (const std::bad_alloc&) {
        // Allocations of pelm's own containers abort with their size before
        // any exception; this one came from a library.
        static constexpr char text[] = "memory allocation failed\n";
        ssize_t ignored = write(2, text, sizeof text - 1);
        (void)ignored;
        std::abort();
    } catch (const std::exception& other) {
        try {
            fault(other.what());
        } catch (InternalFault& caught) {
            return panic_error(OwnedText(caught.message()));
        }
    } catch (...) {
        try {
            fault("native code raised an unknown exception");
        } catch (InternalFault& caught) {
            return panic_error(OwnedText(caught.message()));
        }
    }
}

PyObject* guarded_call(Wrapper wrapper, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    FrameEntry entry;
    CallOutcome outcome = run_guarded<OwnedRef>([&] { return wrapper(args, nargs, kwnames); });
    try {
        if (outcome.ok()) return std::move(outcome).value().release();
        raise_in_interpreter(outcome.take_error());
        return nullptr;
    } catch (...) {
        uncaught_fault_at_boundary();
    }
}

}  // namespace pelm
