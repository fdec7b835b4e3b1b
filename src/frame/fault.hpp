// Internal faults: broken invariants inside pelm (a failed index or length
// check, an impossible state). A fault writes its report to standard error
// and unwinds, as the one C++ exception type InternalFault, to the guard of
// the call (guarded_call or module_exec), which raises it in Python as
// pyo3_runtime.PanicException. Destructors release everything on the way.
#pragma once

#include <source_location>
#include <string_view>

#include "frame/text.hpp"

namespace pelm {

// The one exception type of internal faults. Only the guards catch it.
class InternalFault {
public:
    explicit InternalFault(OwnedText message) noexcept : message_(std::move(message)) {}
    const OwnedText& message() const noexcept { return message_; }

private:
    OwnedText message_;
};

// Writes the fault report for `message` at `where`, then throws InternalFault.
[[noreturn]] void fault(std::string_view message,
                        std::source_location where = std::source_location::current());

// Throws InternalFault without writing a report: used when a fault that was
// already reported (a PanicException taken back from Python) resumes.
[[noreturn]] void resume_fault(OwnedText message);

// A fault where no guard can catch it: writes the report of `message`, then
// the second report "uncaught panic at ffi boundary" with a stack trace, and
// aborts the process.
[[noreturn]] void fatal_fault(std::string_view message,
                              std::source_location where = std::source_location::current()) noexcept;

// For a fault that reached an unguarded place: the second report and abort.
[[noreturn]] void uncaught_fault_at_boundary(
    std::source_location where = std::source_location::current()) noexcept;

}  // namespace pelm
