// Failures as values.
//
// A body never raises: it returns a PyErr, which holds either an ErrorRecipe
// (a deferred description of an exception, run only when the error is raised
// or needs its object) or an exception object taken from the interpreter.
// Only the frame turns a PyErr into the interpreter's current exception
// (raise_in_interpreter). An error that is built and dropped never creates an
// interpreter object.
#pragma once

#include <Python.h>

#include <optional>
#include <source_location>
#include <string_view>
#include <utility>

#include "frame/refs.hpp"
#include "frame/text.hpp"

namespace pelm {

class ErrorRecipe {
public:
    enum class Kind : unsigned char {
        TypeMismatch,      // TypeError naming the object's type and the expected type
        FixedText,         // TypeError or ValueError with a text that lives forever
        BuiltText,         // TypeError with a text built when the error was made
        MissingException,  // SystemError: a failed call set no exception
        FaultFixedText,    // pyo3_runtime.PanicException((text,))
        FaultBuiltText,    // pyo3_runtime.PanicException((text,))
    };

    static ErrorRecipe type_mismatch(OwnedRef object, OwnedRef expected_type) noexcept;
    static ErrorRecipe fixed_text(PyObject* exception_type, std::string_view text) noexcept;
    static ErrorRecipe built_text(OwnedText text) noexcept;
    static ErrorRecipe missing_exception() noexcept;
    static ErrorRecipe fault_fixed_text(std::string_view text) noexcept;
    static ErrorRecipe fault_built_text(OwnedText text) noexcept;

    ErrorRecipe(ErrorRecipe&&) noexcept = default;
    ErrorRecipe& operator=(ErrorRecipe&&) noexcept = default;

    Kind kind() const noexcept { return kind_; }

    // Produces the exception type and its constructor argument, both new
    // references. Consumes the recipe.
    std::pair<OwnedRef, OwnedRef> run() &&;

private:
    explicit ErrorRecipe(Kind kind) noexcept : kind_(kind) {}

    Kind kind_;
    PyObject* exception_type_ = nullptr;  // a built-in type, for FixedText
    std::string_view fixed_;
    OwnedText built_;
    OwnedRef object_;
    OwnedRef expected_type_;
};

class PyErr {
public:
    // Keeps the recipe in memory of its own, so that a PyErr stays two words
    // wide on the success paths of the Results that carry it.
    explicit PyErr(ErrorRecipe recipe);
    // Takes over an exception object (a BaseException instance).
    static PyErr from_exception(OwnedRef exception) noexcept { return PyErr(std::move(exception)); }

    PyErr(PyErr&& other) noexcept
        : exception_(std::move(other.exception_)), recipe_(std::exchange(other.recipe_, nullptr)) {}
    PyErr& operator=(PyErr&& other) noexcept {
        PyErr old(std::move(*this));
        exception_ = std::move(other.exception_);
        recipe_ = std::exchange(other.recipe_, nullptr);
        return *this;
    }
    ~PyErr() { destroy_recipe(); }

    bool is_recipe() const noexcept { return recipe_ != nullptr; }
    // The exception object when the error already holds one, else null.
    PyObject* exception() const noexcept { return exception_.get(); }

private:
    explicit PyErr(OwnedRef exception) noexcept : exception_(std::move(exception)) {}
    void destroy_recipe() noexcept;
    ErrorRecipe take_recipe() noexcept;

    friend void raise_in_interpreter(PyErr error);
    friend PyObject* normalize_error(PyErr& error);

    OwnedRef exception_;
    // Owned; null once the recipe has been run or when the error holds an
    // exception object.
    ErrorRecipe* recipe_ = nullptr;
};

// Sets the error as the interpreter's current exception. Consumes it.
void raise_in_interpreter(PyErr error);

// Consumes the error without raising it; what it holds is released.
inline void drop_error(PyErr error) { (void)error; }

// The exception object of the error (borrowed from it), turning its recipe
// into the object first when needed.
PyObject* normalize_error(PyErr& error);

// Takes the interpreter's current exception: nothing when none is set. A
// pyo3_runtime.PanicException is never returned: taking one resumes the
// internal fault that it carries.
std::optional<PyErr> take_raised_exception();

// SystemError "attempted to fetch exception but none was set".
PyErr missing_exception_error() noexcept;

// The exception that a failed interpreter call set, or the missing-exception
// error when it set none.
PyErr taken_error();

// Takes the current exception, if any, and drops it. A PanicException still
// resumes its fault.
void discard_raised_exception();

// For an interpreter constructor that returned null where an object must be
// made: a pending exception is written as unraisable, then the internal fault
// "PyObject pointer is null".
[[noreturn]] void fail_null_object(std::source_location where = std::source_location::current());

// Takes over a new reference from a constructor that must not fail.
inline OwnedRef made_object(PyObject* object,
                            std::source_location where = std::source_location::current()) {
    if (object == nullptr) fail_null_object(where);
    return OwnedRef::steal(object);
}

// The qualified name of a type (Outer.Inner) as text, or
// "<failed to extract type name>" when the interpreter cannot give it.
OwnedText qualified_type_name(PyObject* type);

// A new str from UTF-8 bytes; a null result is an internal fault.
OwnedRef new_str(std::string_view text, std::source_location where = std::source_location::current());

// The UTF-8 text of a str for messages; a str without a UTF-8 form has each
// ill-formed sequence replaced by U+FFFD.
OwnedText lossy_text(PyObject* str);

// The pyo3_runtime.PanicException type, made on first use (borrowed).
PyObject* panic_exception_type();

// A PyErr that raises pyo3_runtime.PanicException with the fault's message.
PyErr panic_error(OwnedText message) noexcept;

}  // namespace pelm
